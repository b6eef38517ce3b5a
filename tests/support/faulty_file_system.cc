#include "tests/support/faulty_file_system.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "common/paths.h"

namespace vigilo::testing {
namespace {

int Refuse(int error) {
  errno = error;
  return -1;
}

}  // namespace

FaultyFileSystem::FaultyFileSystem() : FileSystemWrapper(RealFileSystem()), scope_(*this) {}

void FaultyFileSystem::FailWrites(std::string part, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failing_writes_.push_back(std::move(part));
  write_error_ = error;
}

void FaultyFileSystem::FailRenames(std::string part, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failing_renames_.push_back(std::move(part));
  rename_error_ = error;
}

int FaultyFileSystem::Rename(const std::string& from, const std::string& to) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& part : failing_renames_) {
      if (to.find(part) == std::string::npos) continue;
      ++refusals_;
      errno = rename_error_;
      return -1;
    }
  }
  return FileSystemWrapper::Rename(from, to);
}

void FaultyFileSystem::MakeReadOnly(std::string part) {
  std::lock_guard<std::mutex> lock(mutex_);
  read_only_.push_back(std::move(part));
}

void FaultyFileSystem::RefuseLocks(std::string part) {
  std::lock_guard<std::mutex> lock(mutex_);
  locked_.push_back(std::move(part));
}

void FaultyFileSystem::Heal() {
  std::lock_guard<std::mutex> lock(mutex_);
  failing_writes_.clear();
  failing_renames_.clear();
  read_only_.clear();
  locked_.clear();
}

int FaultyFileSystem::refusals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return refusals_;
}

bool FaultyFileSystem::Matches(const std::vector<std::string>& parts,
                               const std::string& path) const {
  for (const std::string& part : parts) {
    if (path.find(part) != std::string::npos) return true;
    // A temporary file made beside a file: ".NAME.pid.n.tmp".
    std::string name = NamePart(path);
    if (!name.empty() && name[0] == '.' && name.find(NamePart(part)) != std::string::npos &&
        !NamePart(part).empty()) {
      return true;
    }
  }
  return false;
}

std::string FaultyFileSystem::PathOf(int fd) const {
  auto it = paths_.find(fd);
  if (it != paths_.end()) return it->second;
  // Opened before this file system took over: ask the kernel.
  std::error_code error;
  std::filesystem::path path =
      std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
  return error ? std::string() : path.string();
}

int FaultyFileSystem::Open(const std::string& path, int flags, mode_t mode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bool for_writing = (flags & O_ACCMODE) != O_RDONLY;
    if (for_writing && Matches(read_only_, path)) {
      ++refusals_;
      return Refuse(EACCES);
    }
  }
  int fd = FileSystemWrapper::Open(path, flags, mode);
  if (fd >= 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_[fd] = path;
  }
  return fd;
}

int FaultyFileSystem::Close(int fd) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.erase(fd);
  }
  return FileSystemWrapper::Close(fd);
}

int FaultyFileSystem::WriteError(int fd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Matches(failing_writes_, PathOf(fd))) return 0;
  ++refusals_;
  return write_error_;
}

ssize_t FaultyFileSystem::Write(int fd, const void* data, size_t size) {
  if (int error = WriteError(fd)) return Refuse(error);
  return FileSystemWrapper::Write(fd, data, size);
}

ssize_t FaultyFileSystem::WriteAt(int fd, const void* data, size_t size, off_t offset) {
  if (int error = WriteError(fd)) return Refuse(error);
  return FileSystemWrapper::WriteAt(fd, data, size, offset);
}

int FaultyFileSystem::Truncate(int fd, off_t size) {
  if (int error = WriteError(fd)) return Refuse(error);
  return FileSystemWrapper::Truncate(fd, size);
}

int FaultyFileSystem::Flock(int fd, int operation) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((operation & LOCK_UN) == 0 && Matches(locked_, PathOf(fd))) {
      ++refusals_;
      return Refuse(EWOULDBLOCK);
    }
  }
  return FileSystemWrapper::Flock(fd, operation);
}

int FaultyFileSystem::RecordLock(int fd, int command, struct flock* lock) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (lock->l_type != F_UNLCK && Matches(locked_, PathOf(fd))) {
      ++refusals_;
      return Refuse(EAGAIN);
    }
  }
  return FileSystemWrapper::RecordLock(fd, command, lock);
}

int FaultyFileSystem::Access(const std::string& path, int mode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((mode & W_OK) != 0 && Matches(read_only_, path)) {
      ++refusals_;
      return Refuse(EACCES);
    }
  }
  return FileSystemWrapper::Access(path, mode);
}

}  // namespace vigilo::testing
