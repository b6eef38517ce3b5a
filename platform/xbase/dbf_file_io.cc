#include "platform/xbase/dbf_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/xbase/dbf_error.h"

namespace vigilo {

void ThrowErrno(const std::string& path, const char* what) {
  throw DbfError(FileErrorText(path, what, errno));
}

size_t ReadAt(int fd, const std::string& path, uint64_t offset, char* data, size_t size) {
  ssize_t done = ReadFullAt(fd, data, size, offset);
  if (done < 0) ThrowErrno(path, "read failed");
  return static_cast<size_t>(done);
}

void WriteAt(int fd, const std::string& path, uint64_t offset, std::string_view data) {
  if (!WriteAllAt(fd, data, offset)) ThrowErrno(path, "write failed");
}

uint64_t FileSize(int fd, const std::string& path) {
  struct stat st;
  if (Files().Stat(fd, &st) != 0) ThrowErrno(path, "cannot read the file size");
  return static_cast<uint64_t>(st.st_size);
}

static int LockCommand(bool wait) {
#ifdef F_OFD_SETLKW
  return wait ? F_OFD_SETLKW : F_OFD_SETLK;
#else
  return wait ? F_SETLKW : F_SETLK;
#endif
}

DbfWriteLock::DbfWriteLock(int fd, const std::string& path) : fd_(fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  while (Files().RecordLock(fd_, LockCommand(true), &lock) != 0) {
    if (errno == EINTR) continue;
    ThrowErrno(path, "cannot lock the file for writing");
  }
}

DbfWriteLock::~DbfWriteLock() {
  struct flock lock {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  Files().RecordLock(fd_, LockCommand(false), &lock);
}

}  // namespace vigilo
