// A column of the embedded dBase engine held in as few bytes a value as its
// values need: 1, 2, 4 or 8. Most columns of a project table hold small
// numbers (a handful of dictionary codes, priorities, record numbers below
// four billion), so a column costs a byte or four a row instead of eight.
// The first value that does not fit widens the whole column in place, once;
// a column never narrows again (until it is cleared).
//
// T is the type the values are read and written as: int64_t (integer
// columns, NULL as INT64_MIN) or uint32_t (dictionary codes, NULL as
// UINT32_MAX). NULL is held as the least (signed) or greatest (unsigned)
// value of the width in use, which no other value takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <variant>
#include <vector>

namespace vigilo::sql {

template <typename T>
class PackedVector {
  static constexpr bool kSigned = std::is_signed_v<T>;
  template <typename S, typename U>
  using Pick = std::conditional_t<kSigned, S, U>;

 public:
  static constexpr T kNull = kSigned ? std::numeric_limits<T>::min()
                                     : std::numeric_limits<T>::max();

  size_t size() const {
    return Apply([](const auto& v) { return v.size(); });
  }

  T operator[](size_t i) const {
    return Apply([i](const auto& v) { return Wide(v[i]); });
  }
  void Set(size_t i, T value) {
    Fit(value);
    Apply([i, value](auto& v) {
      v[i] = Narrow<typename std::decay_t<decltype(v)>::value_type>(value);
    });
  }
  void push_back(T value) {
    Fit(value);
    Apply([value](auto& v) {
      v.push_back(Narrow<typename std::decay_t<decltype(v)>::value_type>(value));
    });
  }
  void reserve(size_t n) {
    Apply([n](auto& v) { v.reserve(n); });
  }

  // Calls f(values, null) with the values as held: a pointer to the
  // narrow type, and that type's NULL. For the loops over a whole column.
  template <typename F>
  decltype(auto) Visit(F&& f) const {
    return Apply([&f](const auto& v) {
      using N = typename std::decay_t<decltype(v)>::value_type;
      return f(v.data(), NullOf<N>());
    });
  }

 private:
  using V8 = std::vector<Pick<int8_t, uint8_t>>;
  using V16 = std::vector<Pick<int16_t, uint16_t>>;
  using V32 = std::vector<Pick<int32_t, uint32_t>>;
  using V64 = std::vector<Pick<int64_t, uint64_t>>;

  template <typename N>
  static constexpr N NullOf() {
    return kSigned ? std::numeric_limits<N>::min() : std::numeric_limits<N>::max();
  }
  template <typename N>
  static bool FitsIn(T value) {
    if (value == kNull) return true;
    if (value == static_cast<T>(NullOf<N>())) return false;
    return value >= static_cast<T>(std::numeric_limits<N>::min()) &&
           value <= static_cast<T>(std::numeric_limits<N>::max());
  }
  template <typename N>
  static N Narrow(T value) {
    return value == kNull ? NullOf<N>() : static_cast<N>(value);
  }
  template <typename N>
  static T Wide(N value) {
    return value == NullOf<N>() ? kNull : static_cast<T>(value);
  }

  template <typename F>
  decltype(auto) Apply(F&& f) const {
    switch (values_.index()) {
      case 0: return f(*std::get_if<0>(&values_));
      case 1: return f(*std::get_if<1>(&values_));
      case 2: return f(*std::get_if<2>(&values_));
      default: return f(*std::get_if<3>(&values_));
    }
  }
  template <typename F>
  decltype(auto) Apply(F&& f) {
    switch (values_.index()) {
      case 0: return f(*std::get_if<0>(&values_));
      case 1: return f(*std::get_if<1>(&values_));
      case 2: return f(*std::get_if<2>(&values_));
      default: return f(*std::get_if<3>(&values_));
    }
  }

  // Makes the column wide enough for the value.
  void Fit(T value) {
    switch (values_.index()) {
      case 0:
        if (FitsIn<typename V8::value_type>(value)) return;
        if (FitsIn<typename V16::value_type>(value)) return WidenTo<V16>();
        if (FitsIn<typename V32::value_type>(value)) return WidenTo<V32>();
        return WidenTo<V64>();
      case 1:
        if (FitsIn<typename V16::value_type>(value)) return;
        if (FitsIn<typename V32::value_type>(value)) return WidenTo<V32>();
        return WidenTo<V64>();
      case 2:
        if (FitsIn<typename V32::value_type>(value)) return;
        return WidenTo<V64>();
      default: return;
    }
  }
  template <typename W>
  [[gnu::noinline]] void WidenTo() {
    W wide;
    Apply([&wide](const auto& v) {
      wide.reserve(v.capacity());
      for (auto n : v) wide.push_back(Narrow<typename W::value_type>(Wide(n)));
    });
    values_ = std::move(wide);
  }

  std::variant<V8, V16, V32, V64> values_;
};

}  // namespace vigilo::sql
