// Byte layout of a .dbf file, shared by the table reader and writer: the
// 32-byte file header, the 32-byte field descriptors, the terminator after
// them and the end-of-file mark after the last record. Internal.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vigilo::dbf_format {

constexpr size_t kFileHeaderSize = 32;
constexpr size_t kDescriptorSize = 32;
constexpr char kHeaderTerminator = 0x0D;
constexpr char kEndOfFile = 0x1A;
constexpr char kDeletedFlag = '*';
constexpr char kActiveFlag = ' ';
// File header offsets.
constexpr size_t kVersionAt = 0;
constexpr size_t kUpdateDateAt = 1;   // YY-1900, MM, DD
constexpr size_t kCountAt = 4;        // 32-bit record count
constexpr size_t kHeaderLengthAt = 8;
constexpr size_t kRecordLengthAt = 10;
constexpr size_t kProductionIndexAt = 28;
// Field descriptor offsets.
constexpr size_t kTypeAt = 11;
constexpr size_t kWidthAt = 16;
constexpr size_t kDecimalsAt = 17;

inline uint16_t Le16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(u[0] | u[1] << 8);
}
inline uint32_t Le32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}
inline void PutLe16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
}
inline void PutLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace vigilo::dbf_format
