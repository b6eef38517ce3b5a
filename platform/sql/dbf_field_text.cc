#include "platform/sql/dbf_field_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vigilo::sql {

namespace {

using field_text_detail::kBlanks;
using field_text_detail::Word;

}  // namespace

std::string_view TrimRaw(std::string_view raw) {
  size_t end = raw.size();
  while (end > 0 && (raw[end - 1] == ' ' || raw[end - 1] == '\0')) --end;
  size_t start = 0;
  while (start < end && raw[start] == ' ') ++start;
  return raw.substr(start, end - start);
}

std::string_view TrimRightRaw(std::string_view raw) {
  // Wide fields (a change history's old and new values) are mostly padding:
  // skip it a word at a time.
  size_t end = raw.size();
  while (end >= 8) {
    uint64_t word;
    std::memcpy(&word, raw.data() + end - 8, 8);
    if (word != kBlanks && word != 0) break;
    end -= 8;
  }
  while (end > 0 && (raw[end - 1] == ' ' || raw[end - 1] == '\0')) --end;
  return raw.substr(0, end);
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  // The form the xBase library writes, right-aligned digits after blanks:
  // a word at a time when it fits, else in one pass (the blanks a word at a
  // time); anything else goes the long way below.
  {
    const char* p = text.data();
    const size_t n = text.size();
    int64_t short_value = 0;
    if (ParseRightAlignedDigits(p, n, &short_value)) return short_value;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      const uint64_t other = Word(p + i) ^ kBlanks;
      if (other != 0) {
        i += static_cast<size_t>(__builtin_ctzll(other)) / 8;  // little-endian
        break;
      }
    }
    while (i < n && p[i] == ' ') ++i;
    const bool negative = i < n && p[i] == '-';
    const size_t first = i + negative;
    uint64_t value = 0;
    size_t end = first;
    for (; end < n; ++end) {
      const unsigned digit = static_cast<unsigned char>(p[end]) - unsigned{'0'};
      if (digit > 9) break;
      value = value * 10 + digit;
    }
    // 18 digits cannot overflow.
    if (end > first && end == n && end - first <= 18) {
      return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    }
  }
  text = TrimRaw(text);
  if (text.empty()) return std::nullopt;
  if (text[0] == '+') text.remove_prefix(1);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && end == text.data() + text.size()) return value;
  double real = 0;
  auto [rend, rec] = std::from_chars(text.data(), text.data() + text.size(), real);
  if (rec == std::errc() && rend == text.data() + text.size() && std::isfinite(real)) {
    return static_cast<int64_t>(std::llround(real));
  }
  return std::nullopt;
}

std::optional<double> ParseReal(std::string_view text) {
  text = TrimRaw(text);
  if (text.empty()) return std::nullopt;
  if (text[0] == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && end == text.data() + text.size()) return value;
  return std::nullopt;
}

}  // namespace vigilo::sql
