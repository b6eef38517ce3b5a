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
  // A byte this process holds already is its own: taking it again would
  // return at once, and the first release would let go of both.
  auto holding = holders_.find(offset);
  if (holding != holders_.end()) {
    ++holding->second;
    return Held(this, offset);
  }
  if (!SetLock(fd_, F_WRLCK, offset, /*wait=*/true)) {
    if (error) *error = FileErrorText(directory_ + "/" + kOutboxLockFile, "cannot lock", errno);
    return {};
  }
  holders_.emplace(offset, 1);
  return Held(this, offset);
}

void OutboxLocks::Release(long long offset) {
  auto holding = holders_.find(offset);
  if (holding == holders_.end()) return;
  if (--holding->second > 0) return;
  holders_.erase(holding);
  SetLock(fd_, F_UNLCK, offset, /*wait=*/false);
}

OutboxLocks::Held& OutboxLocks::Held::operator=(Held&& other) noexcept {
  if (this != &other) {
    Release();
    owner_ = other.owner_;
    offset_ = other.offset_;
    other.owner_ = nullptr;
  }
  return *this;
}

void OutboxLocks::Held::Release() {
  if (owner_ != nullptr) owner_->Release(offset_);
  owner_ = nullptr;
}

}  // namespace vigilo
