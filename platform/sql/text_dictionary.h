// The distinct texts of one column of the embedded dBase engine, each kept
// once: rows hold a 32-bit code instead of a copy of their text. Project
// tables repeat a handful of values in most character fields (states,
// categories, the field names and values of the change history), so a
// column costs four bytes a row, and an equality index is a counting sort of
// the codes.
//
// Codes are given in the order texts are first seen and stay valid until
// Clear. Views returned by At are valid until the next Intern.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vigilo::sql {

class TextDictionary {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;  // "no such text" and a NULL row

  // The code of the text, adding it when new. Throws std::length_error when
  // the column's distinct texts pass 4 GiB.
  uint32_t Intern(std::string_view text);
  // The code of the text, kNone when it is not in the dictionary.
  uint32_t Find(std::string_view text) const;
  std::string_view At(uint32_t code) const {
    return std::string_view(arena_).substr(starts_[code], starts_[code + 1] - starts_[code]);
  }
  uint32_t size() const { return static_cast<uint32_t>(starts_.size() - 1); }
  void Clear();

 private:
  size_t SlotOf(std::string_view text) const;
  void Grow();

  std::string arena_;                 // every text, one after the other
  std::vector<uint32_t> starts_{0};   // text c is arena_[starts_[c], starts_[c + 1])
  std::vector<uint32_t> slots_;       // open addressing: code + 1, 0 when empty
};

}  // namespace vigilo::sql
