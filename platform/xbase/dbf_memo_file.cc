#include "platform/xbase/dbf_memo_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "common/format.h"
#include "platform/xbase/dbf_error.h"

namespace vigilo {
namespace {

constexpr uint32_t kHeaderSize = 512;
constexpr char kDbase4Signature[4] = {'\xFF', '\xFF', '\x08', '\x00'};

uint32_t Le32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

void PutLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::unique_ptr<DbfMemoFile> DbfMemoFile::Open(const std::string& path, bool writable,
                                               DbtLayout layout) {
  std::unique_ptr<DbfMemoFile> memo(new DbfMemoFile());
  memo->path_ = path;
  memo->layout_ = layout;
  memo->fd_.reset(Files().Open(path, (writable ? O_RDWR : O_RDONLY)));
  if (memo->fd_.get() < 0) ThrowErrno(path, "cannot open the memo file");
  char header[kHeaderSize];
  if (ReadAt(memo->fd_.get(), path, 0, header, kHeaderSize) < kHeaderSize) {
    throw DbfError(Format("%s: memo file header is truncated", path.c_str()));
  }
  if (layout == DbtLayout::kDbase4) {
    uint32_t size = static_cast<unsigned char>(header[20]) |
                    static_cast<unsigned char>(header[21]) << 8;
    if (size != 0) memo->block_size_ = size;
  }
  return memo;
}

std::unique_ptr<DbfMemoFile> DbfMemoFile::Create(const std::string& path, DbtLayout layout,
                                                 std::string_view table_name) {
  std::unique_ptr<DbfMemoFile> memo(new DbfMemoFile());
  memo->path_ = path;
  memo->layout_ = layout;
  memo->fd_.reset(OpenPrivateFile(path, O_RDWR | O_CREAT | O_TRUNC));
  if (memo->fd_.get() < 0) ThrowErrno(path, "cannot create the memo file");
  std::string header(kHeaderSize, '\0');
  PutLe32(header.data(), 1);  // next free block: block 0 is the header
  if (layout == DbtLayout::kDbase3) {
    header[16] = 0x03;
  } else {
    std::string_view name = table_name.substr(0, 8);
    std::memcpy(header.data() + 8, name.data(), name.size());
    header[20] = static_cast<char>(kHeaderSize & 0xFF);
    header[21] = static_cast<char>(kHeaderSize >> 8);
  }
  WriteAt(memo->fd_.get(), path, 0, header);
  return memo;
}

std::string DbfMemoFile::Read(uint32_t block) {
  uint64_t size = FileSize(fd_.get(), path_);
  uint64_t start = uint64_t(block) * block_size_;
  if (block == 0 || start >= size) {
    throw DbfError(Format("%s: memo block %u lies outside the memo file", path_.c_str(),
                          static_cast<unsigned>(block)));
  }
  char head[8] = {};
  size_t got = ReadAt(fd_.get(), path_, start, head, sizeof head);
  if (got == sizeof head && std::memcmp(head, kDbase4Signature, 4) == 0) {
    uint32_t length = Le32(head + 4);
    if (length < 8 || start + length > size) {
      throw DbfError(Format("%s: memo at block %u states a length past the end of the file",
                            path_.c_str(), static_cast<unsigned>(block)));
    }
    std::string text(length - 8, '\0');
    ReadAt(fd_.get(), path_, start + 8, text.data(), text.size());
    return text;
  }
  // dBase III layout: the text runs to the first end-of-file mark.
  std::string text;
  std::string chunk(4096, '\0');
  for (uint64_t offset = start; offset < size;) {
    size_t n = ReadAt(fd_.get(), path_, offset, chunk.data(), chunk.size());
    if (n == 0) break;
    const char* end = static_cast<const char*>(std::memchr(chunk.data(), 0x1A, n));
    if (end != nullptr) {
      text.append(chunk.data(), end - chunk.data());
      return text;
    }
    text.append(chunk.data(), n);
    offset += n;
  }
  return text;
}

uint32_t DbfMemoFile::Write(std::string_view text) {
  DbfWriteLock lock(fd_.get(), path_);
  // New memos go after the last block in the file. The header's next-free
  // pointer is not trusted: one behind the end would overwrite memos, one far
  // past it would make a huge sparse file.
  uint64_t size = FileSize(fd_.get(), path_);
  uint64_t next = std::max<uint64_t>((size + block_size_ - 1) / block_size_, 1);
  std::string data;
  if (layout_ == DbtLayout::kDbase4) {
    data.assign(kDbase4Signature, 4);
    data.resize(8);
    PutLe32(data.data() + 4, static_cast<uint32_t>(text.size() + 8));
    data.append(text);
  } else {
    data.assign(text);
    data.append("\x1A\x1A");
  }
  uint64_t blocks = (data.size() + block_size_ - 1) / block_size_;
  if (next + blocks > UINT32_MAX) {
    throw DbfError(Format("%s: memo file is full", path_.c_str()));
  }
  data.resize(blocks * block_size_, '\0');
  WriteAt(fd_.get(), path_, next * block_size_, data);
  char new_next[4];
  PutLe32(new_next, static_cast<uint32_t>(next + blocks));
  WriteAt(fd_.get(), path_, 0, std::string_view(new_next, 4));
  return static_cast<uint32_t>(next);
}

void DbfMemoFile::Sync() {
  if (Files().Sync(fd_.get()) != 0) ThrowErrno(path_, "cannot sync the memo file");
}

}  // namespace vigilo
