// A checksum of runs of .dbf records, by which the embedded dBase engine
// tells the blocks of a file that changed since it read them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vigilo::sql {

// A checksum of record bytes, to tell a block of records that changed from
// one that did not without decoding it. The bytes may come in pieces of any
// size (the checksum is that of their concatenation), so that whole runs of
// records are taken at once; two lanes keep the multiplications from
// waiting on each other. A table that only grew is checked at close to the
// speed of reading it.
class BlockHasher {
 public:
  void Add(const char* p, size_t n) {
    total_ += n;
    if (buffered_ > 0) {
      const size_t take = std::min(n, sizeof buffer_ - buffered_);
      std::memcpy(buffer_ + buffered_, p, take);
      buffered_ += take;
      p += take;
      n -= take;
      if (buffered_ < sizeof buffer_) return;
      Step(buffer_);
      buffered_ = 0;
    }
    for (; n >= sizeof buffer_; p += sizeof buffer_, n -= sizeof buffer_) Step(p);
    std::memcpy(buffer_, p, n);
    buffered_ = n;
  }
  // The checksum of everything added since the last Finish; starts anew.
  uint64_t Finish() {
    if (buffered_ > 0) {
      std::memset(buffer_ + buffered_, 0, sizeof buffer_ - buffered_);
      Step(buffer_);
    }
    const uint64_t hash = Fold(lanes_[0] ^ 0x8EBC6AF09C88C6E3ULL, lanes_[1] ^ total_ ^
                                                                     0x589965CC75374CC3ULL);
    *this = BlockHasher();
    return hash;
  }
  // The checksum Finish would give now, without starting anew.
  uint64_t Peek() const {
    BlockHasher copy = *this;
    return copy.Finish();
  }

 private:
  // Each 16 bytes fold into their lane by one 128-bit multiplication of
  // their halves, the first half mixed with the lane (so that the order of
  // the bytes counts).
  void Step(const char* p) {
    lanes_[0] = Fold(lanes_[0] ^ Word(p), Word(p + 8) ^ 0xA0761D6478BD642FULL);
    lanes_[1] = Fold(lanes_[1] ^ Word(p + 16), Word(p + 24) ^ 0xE7037ED1A0B428DBULL);
  }
  static uint64_t Fold(uint64_t a, uint64_t b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  }
  static uint64_t Word(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
  }
  uint64_t lanes_[2] = {0x243F6A8885A308D3ULL, 0x13198A2E03707344ULL};
  uint64_t total_ = 0;
  char buffer_[32];
  size_t buffered_ = 0;
};

}  // namespace vigilo::sql
