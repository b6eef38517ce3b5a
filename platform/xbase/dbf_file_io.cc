#include "platform/xbase/dbf_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/format.h"
#include "platform/xbase/dbf_error.h"

namespace vigilo {

void ThrowErrno(const std::string& path, const char* what) {
  int error = errno;
  throw DbfError(Format("%s: %s: %s", path.c_str(), what, std::strerror(error)));
}

DbfFd::~DbfFd() { reset(); }

DbfFd& DbfFd::operator=(DbfFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void DbfFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

size_t ReadAt(int fd, const std::string& path, uint64_t offset, char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(path, "read failed");
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void WriteAt(int fd, const std::string& path, uint64_t offset, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done,
                         static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(path, "write failed");
    }
    done += static_cast<size_t>(n);
  }
}

uint64_t FileSize(int fd, const std::string& path) {
  struct stat st;
  if (::fstat(fd, &st) != 0) ThrowErrno(path, "cannot read the file size");
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
  while (::fcntl(fd_, LockCommand(true), &lock) != 0) {
    if (errno == EINTR) continue;
    ThrowErrno(path, "cannot lock the file for writing");
  }
}

DbfWriteLock::~DbfWriteLock() {
  struct flock lock {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  ::fcntl(fd_, LockCommand(false), &lock);
}

}  // namespace vigilo
