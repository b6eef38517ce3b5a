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
// records are taken at once; four lanes keep the multiplications from
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
    const uint64_t hash = Mix(Mix(lanes_[0] ^ Mix(lanes_[1] + total_)) ^
                              Mix(lanes_[2] ^ Mix(lanes_[3] + 0x85A308D3243F6A88ULL)));
    *this = BlockHasher();
    return hash;
  }

 private:
  void Step(const char* p) {
    for (int lane = 0; lane < 4; ++lane) {
      uint64_t word;
      std::memcpy(&word, p + 8 * lane, 8);
      lanes_[lane] = Mix(lanes_[lane] ^ word);
    }
  }
  static uint64_t Mix(uint64_t h) {
    h *= 0x9E3779B97F4A7C15ULL;
    return h ^ (h >> 31);
  }
  uint64_t lanes_[4] = {0x243F6A8885A308D3ULL, 0x13198A2E03707344ULL, 0xA4093822299F31D0ULL,
                        0x082EFA98EC4E6C89ULL};
  uint64_t total_ = 0;
  char buffer_[32];
  size_t buffered_ = 0;
};

}  // namespace vigilo::sql
