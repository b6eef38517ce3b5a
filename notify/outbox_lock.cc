#include "notify/outbox_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/file_system.h"

namespace vigilo {
namespace {

bool SetLock(int fd, short type, long long offset, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = 1;
  int result;
  do {
    result = Files().RecordLock(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace

OutboxLocks::OutboxLocks(std::string directory) : directory_(std::move(directory)) {}

OutboxLocks::~OutboxLocks() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutboxLocks::Open(std::string* error) {
  if (fd_ >= 0) return true;
  const std::string path = directory_ + "/" + kOutboxLockFile;
  fd_ = OpenPrivateFile(path, O_RDWR | O_CREAT | O_CLOEXEC);
  if (fd_ < 0) {
    if (error) *error = FileErrorText(path, "cannot open", errno);
    return false;
  }
  // Made by root (vgqueue run by an administrator), the file goes to the
  // outbox's owner, so that the service can still open it for its locks.
  struct stat dir {};
  if (::geteuid() == 0 && ::stat(directory_.c_str(), &dir) == 0) {
    (void)::fchown(fd_, dir.st_uid, dir.st_gid);
  }
  return true;
}

OutboxLocks::Held OutboxLocks::Lock(const std::string& id, std::string* error) {
  if (!Open(error)) return {};
  // FNV-1a, so that every build of the engine and vgqueue picks one byte;
  // it lies far beyond the (empty) file, as a record lock needs no data.
  unsigned long long hash = 14695981039346656037ULL;
  for (unsigned char c : id) hash = (hash ^ c) * 1099511628211ULL;
  const long long offset = static_cast<long long>(hash & ((1ULL << 40) - 1));
  if (!SetLock(fd_, F_WRLCK, offset, /*wait=*/true)) {
    if (error) *error = FileErrorText(directory_ + "/" + kOutboxLockFile, "cannot lock", errno);
    return {};
  }
  return Held(fd_, offset);
}

OutboxLocks::Held& OutboxLocks::Held::operator=(Held&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    offset_ = other.offset_;
    other.fd_ = -1;
  }
  return *this;
}

void OutboxLocks::Held::Release() {
  if (fd_ >= 0) SetLock(fd_, F_UNLCK, offset_, /*wait=*/false);
  fd_ = -1;
}

}  // namespace vigilo
