// Appending millions of records to a .dbf file for a benchmark's set-up, at
// the speed of writing the file: each record is composed by the xBase
// library's own assignments (so its bytes are those AppendWrite would write)
// and the records go to the file in large blocks, with the header's record
// count and date written once at the end. One record at a time through
// AppendWrite costs a lock, a header read and two writes each.
//
// Nothing else may write the file meanwhile (no lock is taken).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/xbase/dbf_table.h"

namespace vigilo {

class DbfBulkAppend {
 public:
  explicit DbfBulkAppend(const std::string& path)
      : path_(path), table_(DbfTable::Open(path, true)), count_(table_->RecordCount()) {
    fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) Fail("cannot open");
    buffer_.reserve(kBlockBytes + table_->record_length());
  }
  ~DbfBulkAppend() {
    if (fd_ >= 0) close(fd_);
  }
  DbfBulkAppend(const DbfBulkAppend&) = delete;
  DbfBulkAppend& operator=(const DbfBulkAppend&) = delete;

  // The table whose Assign* calls fill the record started by Start.
  DbfTable& table() { return *table_; }
  void Start() { table_->AppendStart(); }
  // Adds the record filled since Start.
  void Add() {
    buffer_.append(table_->RecordBytes());
    ++pending_;
    if (buffer_.size() >= kBlockBytes) WriteBuffer();
  }
  // Writes what is left, the end-of-file mark and the header. Throws
  // std::runtime_error on a failed write.
  void Finish() {
    buffer_.push_back(kEndOfFile);
    WriteBuffer();
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char header[7] = {static_cast<char>(local.tm_year), static_cast<char>(local.tm_mon + 1),
                      static_cast<char>(local.tm_mday)};
    for (int i = 0; i < 4; ++i) header[3 + i] = static_cast<char>((count_ >> (8 * i)) & 0xFF);
    Write(kUpdateDateAt, header, sizeof header);
    table_->Close();
  }

 private:
  static constexpr size_t kBlockBytes = size_t{8} << 20;
  static constexpr char kEndOfFile = 0x1A;
  static constexpr uint64_t kUpdateDateAt = 1;  // the date, then the 32-bit count

  void WriteBuffer() {
    Write(table_->header_length() + uint64_t{count_} * table_->record_length(), buffer_.data(),
          buffer_.size());
    count_ += pending_;
    pending_ = 0;
    buffer_.clear();
  }
  void Write(uint64_t offset, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail("cannot write");
      data += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
  }
  [[noreturn]] void Fail(const char* what) const {
    throw std::runtime_error(path_ + ": " + what + ": " + std::strerror(errno));
  }

  std::string path_;
  std::unique_ptr<DbfTable> table_;
  uint32_t count_;  // records in the file
  uint32_t pending_ = 0;  // records in the buffer
  std::string buffer_;
  int fd_ = -1;
};

}  // namespace vigilo
