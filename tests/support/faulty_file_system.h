// FaultyFileSystem: the real file system with faults a test asks for, put in
// place for the test's lifetime. Files are picked by a part of their path, so
// a test can fill the disk under one file, make another read-only or have a
// lock refused as if another program held it, also when the tests run as
// root (where permission tricks do not work).
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/file_system.h"

namespace vigilo::testing {

class FaultyFileSystem : public FileSystemWrapper {
 public:
  FaultyFileSystem();

  // Writes to files whose path holds part fail with error (ENOSPC: a full
  // disk). Also temporary files made beside such a file.
  void FailWrites(std::string part, int error = ENOSPC);
  // Files whose path holds part behave as read-only: opening them for
  // writing and asking for write access give EACCES.
  void MakeReadOnly(std::string part);
  // Locks on files whose path holds part are refused, as when another
  // program holds them.
  void RefuseLocks(std::string part);
  // Renames onto a path that holds part fail with error (a full disk that
  // cannot take the new directory entry).
  void FailRenames(std::string part, int error = ENOSPC);
  // Ends every fault.
  void Heal();

  int Open(const std::string& path, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t Write(int fd, const void* data, size_t size) override;
  ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset) override;
  int Truncate(int fd, off_t size) override;
  int Flock(int fd, int operation) override;
  int RecordLock(int fd, int command, struct flock* lock) override;
  int Access(const std::string& path, int mode) override;
  int Rename(const std::string& from, const std::string& to) override;

  // How many calls a fault refused.
  int refusals() const;

 private:
  bool Matches(const std::vector<std::string>& parts, const std::string& path) const;
  std::string PathOf(int fd) const;
  int WriteError(int fd) const;

  mutable std::mutex mutex_;
  std::vector<std::string> failing_writes_;
  int write_error_ = ENOSPC;
  std::vector<std::string> failing_renames_;
  int rename_error_ = ENOSPC;
  std::vector<std::string> read_only_;
  std::vector<std::string> locked_;
  std::map<int, std::string> paths_;
  mutable int refusals_ = 0;
  ScopedFileSystem scope_;
};

}  // namespace vigilo::testing
