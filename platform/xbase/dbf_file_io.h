// Low-level file access of the xBase library: whole reads and writes at an
// offset and the advisory write lock, through the process's file system
// (common/file_system.h), with failures thrown as a DbfError that names the
// file. Internal to platform/xbase.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/file_system.h"

namespace vigilo {

// Throws DbfError "PATH: WHAT: strerror(errno)".
[[noreturn]] void ThrowErrno(const std::string& path, const char* what);

// Reads up to size bytes at offset; returns the number read (short only at the
// end of the file). Throws DbfError on an I/O error.
size_t ReadAt(int fd, const std::string& path, uint64_t offset, char* data, size_t size);
// Writes all bytes at offset. Throws DbfError on failure.
void WriteAt(int fd, const std::string& path, uint64_t offset, std::string_view data);
uint64_t FileSize(int fd, const std::string& path);

// Holds an advisory write lock on the whole file for its lifetime. Open file
// description locks are used, so two tables of one process on the same file
// exclude each other and closing one does not drop the other's lock; they
// conflict with classic fcntl locks of other processes.
class DbfWriteLock {
 public:
  DbfWriteLock(int fd, const std::string& path);
  ~DbfWriteLock();
  DbfWriteLock(const DbfWriteLock&) = delete;
  DbfWriteLock& operator=(const DbfWriteLock&) = delete;

 private:
  int fd_;
};

}  // namespace vigilo
