// Fixed-width digit fields read a machine word at a time: the numbers dBase
// tables store right-aligned after blanks, as both the xBase filters and the
// embedded SQL engine read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vigilo {

namespace digit_words {

constexpr uint64_t kBlanks = 0x2020202020202020ULL;
constexpr uint64_t kZeros = 0x3030303030303030ULL;

inline uint64_t Word(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

// The value of eight digit characters (the first one most significant);
// false when any byte is not a digit.
inline bool EightDigits(uint64_t word, int64_t* value) {
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL;
  if ((word & kHigh) != kZeros || ((word + 0x0606060606060606ULL) & kHigh) != kZeros) {
    return false;
  }
  uint64_t v = word - kZeros;
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
  v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFULL;
  *value = static_cast<int64_t>(v);
  return true;
}

}  // namespace digit_words

// The value of a field of 8 to 16 bytes holding one to eight digits
// right-aligned after blanks, the way the xBase library writes N fields:
// read a word at a time. False for any other layout (a sign, more digits, a
// blank field), which ParseInteger reads.
inline bool ParseRightAlignedDigits(const char* p, size_t n, int64_t* value) {
  using namespace digit_words;
  if (n < 8 || n > 16) return false;
  const size_t before = n - 8;  // bytes ahead of the last word: blanks
  if (before > 0) {
    const uint64_t ahead = before == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * before)) - 1;
    if (((Word(p) ^ kBlanks) & ahead) != 0) return false;
  }
  const uint64_t last = Word(p + n - 8);
  const uint64_t other = last ^ kBlanks;
  if (other == 0) return false;
  // The blanks ahead of the digits are the word's low bytes (little-endian):
  // read as zeros.
  const unsigned blanks = static_cast<unsigned>(__builtin_ctzll(other)) / 8;
  const uint64_t low = blanks == 0 ? 0 : ~uint64_t{0} >> (64 - 8 * blanks);
  return EightDigits((last & ~low) | (kZeros & low), value);
}

// Whether a field of 8 to 16 bytes is in the form the xBase library writes a
// whole number of up to eight digits in: blanks, then digits without a
// leading zero (a lone 0 aside). Two fields of that form and one width hold
// the same number exactly when their bytes are equal.
inline bool IsCanonicalRightAlignedDigits(const char* p, size_t n) {
  using namespace digit_words;
  if (n < 8 || n > 16) return false;
  const size_t before = n - 8;
  if (before > 0) {
    const uint64_t ahead = before == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * before)) - 1;
    if (((Word(p) ^ kBlanks) & ahead) != 0) return false;
  }
  const uint64_t last = Word(p + n - 8);
  const uint64_t other = last ^ kBlanks;
  if (other == 0) return false;
  const unsigned blanks = static_cast<unsigned>(__builtin_ctzll(other)) / 8;
  const uint64_t low = blanks == 0 ? 0 : ~uint64_t{0} >> (64 - 8 * blanks);
  const uint64_t digits = (last & ~low) | (kZeros & low);
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL;
  if ((digits & kHigh) != kZeros || ((digits + 0x0606060606060606ULL) & kHigh) != kZeros) {
    return false;
  }
  return ((last >> (8 * blanks)) & 0xFF) != '0' || blanks == 7;
}

}  // namespace vigilo
