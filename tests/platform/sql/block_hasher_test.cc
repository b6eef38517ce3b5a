// The checksum by which kept tables tell changed blocks of records: the
// same for the same bytes however they are handed in, and different after
// the edits another program makes (a byte changed, records swapped).
#include <gtest/gtest.h>

#include <string>

#include "platform/sql/block_hasher.h"

namespace vigilo::sql {
namespace {

uint64_t HashInPieces(const std::string& bytes, size_t piece) {
  BlockHasher hasher;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    hasher.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
  }
  return hasher.Finish();
}

std::string Records() {
  std::string bytes;
  for (int i = 0; i < 300; ++i) {
    std::string record = " " + std::to_string(100000 + i) + "Status    Closed" + std::string(41, ' ');
    bytes += record;  // 64 bytes each
  }
  return bytes;
}

TEST(BlockHasherTest, TheSameBytesInAnyPiecesGiveTheSameChecksum) {
  const std::string bytes = Records();
  const uint64_t whole = HashInPieces(bytes, bytes.size());
  for (size_t piece : {1, 7, 16, 31, 32, 33, 64, 193, 4096}) {
    EXPECT_EQ(HashInPieces(bytes, piece), whole) << piece;
  }
  BlockHasher reused;
  reused.Add("other", 5);
  reused.Finish();  // starts anew
  reused.Add(bytes.data(), bytes.size());
  EXPECT_EQ(reused.Finish(), whole);
}

TEST(BlockHasherTest, EditsChangeTheChecksum) {
  const std::string bytes = Records();
  const uint64_t original = HashInPieces(bytes, bytes.size());
  std::string changed = bytes;
  changed[1000] = 'X';
  EXPECT_NE(HashInPieces(changed, changed.size()), original);
  changed = bytes;
  changed[1001] = static_cast<char>(changed[1001] | 0x80);  // an accented letter's bit
  changed[1009] = static_cast<char>(changed[1009] | 0x80);
  EXPECT_NE(HashInPieces(changed, changed.size()), original);
  changed = bytes;
  changed.replace(0, 64, bytes, 64, 64);  // two records swapped
  changed.replace(64, 64, bytes, 0, 64);
  EXPECT_NE(HashInPieces(changed, changed.size()), original);
  changed = bytes;
  changed.replace(16, 16, bytes, 0, 16);  // two halves of a record swapped
  changed.replace(0, 16, bytes, 16, 16);
  EXPECT_NE(HashInPieces(changed, changed.size()), original);
  // A record deleted at the end, or a blank one appended.
  EXPECT_NE(HashInPieces(bytes.substr(0, bytes.size() - 64), bytes.size()), original);
  EXPECT_NE(HashInPieces(bytes + std::string(64, ' '), bytes.size()), original);
}

}  // namespace
}  // namespace vigilo::sql
