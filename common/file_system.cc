#include "common/file_system.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/format.h"
#include "common/paths.h"

namespace vigilo {
namespace {

std::atomic<FileSystem*> current{nullptr};

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) Files().Close(fd_);
  fd_ = fd;
}

bool UniqueFd::Close() {
  int fd = release();
  return fd < 0 || Files().Close(fd) == 0;
}

int FileSystem::Open(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
int FileSystem::Close(int fd) { return ::close(fd); }
ssize_t FileSystem::Read(int fd, void* data, size_t size) { return ::read(fd, data, size); }
ssize_t FileSystem::ReadAt(int fd, void* data, size_t size, off_t offset) {
  return ::pread(fd, data, size, offset);
}
ssize_t FileSystem::Write(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}
ssize_t FileSystem::WriteAt(int fd, const void* data, size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}
off_t FileSystem::Seek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int FileSystem::Truncate(int fd, off_t size) { return ::ftruncate(fd, size); }
int FileSystem::Sync(int fd) { return ::fdatasync(fd); }
int FileSystem::Stat(int fd, struct stat* st) { return ::fstat(fd, st); }
int FileSystem::Flock(int fd, int operation) { return ::flock(fd, operation); }
int FileSystem::RecordLock(int fd, int command, struct flock* lock) {
  return ::fcntl(fd, command, lock);
}
int FileSystem::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}
int FileSystem::Unlink(const std::string& path) { return ::unlink(path.c_str()); }
int FileSystem::Access(const std::string& path, int mode) {
  return ::access(path.c_str(), mode);
}

int FileSystemWrapper::Open(const std::string& path, int flags, mode_t mode) {
  return target_.Open(path, flags, mode);
}
int FileSystemWrapper::Close(int fd) { return target_.Close(fd); }
ssize_t FileSystemWrapper::Read(int fd, void* data, size_t size) {
  return target_.Read(fd, data, size);
}
ssize_t FileSystemWrapper::ReadAt(int fd, void* data, size_t size, off_t offset) {
  return target_.ReadAt(fd, data, size, offset);
}
ssize_t FileSystemWrapper::Write(int fd, const void* data, size_t size) {
  return target_.Write(fd, data, size);
}
ssize_t FileSystemWrapper::WriteAt(int fd, const void* data, size_t size, off_t offset) {
  return target_.WriteAt(fd, data, size, offset);
}
off_t FileSystemWrapper::Seek(int fd, off_t offset, int whence) {
  return target_.Seek(fd, offset, whence);
}
int FileSystemWrapper::Truncate(int fd, off_t size) { return target_.Truncate(fd, size); }
int FileSystemWrapper::Sync(int fd) { return target_.Sync(fd); }
int FileSystemWrapper::Stat(int fd, struct stat* st) { return target_.Stat(fd, st); }
int FileSystemWrapper::Flock(int fd, int operation) { return target_.Flock(fd, operation); }
int FileSystemWrapper::RecordLock(int fd, int command, struct flock* lock) {
  return target_.RecordLock(fd, command, lock);
}
int FileSystemWrapper::Rename(const std::string& from, const std::string& to) {
  return target_.Rename(from, to);
}
int FileSystemWrapper::Unlink(const std::string& path) { return target_.Unlink(path); }
int FileSystemWrapper::Access(const std::string& path, int mode) {
  return target_.Access(path, mode);
}

FileSystem& RealFileSystem() {
  static FileSystem real;
  return real;
}

FileSystem& Files() {
  FileSystem* fs = current.load(std::memory_order_acquire);
  return fs != nullptr ? *fs : RealFileSystem();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& fs)
    : previous_(current.exchange(&fs, std::memory_order_acq_rel)) {}

ScopedFileSystem::~ScopedFileSystem() { current.store(previous_, std::memory_order_release); }

std::string FileErrorText(std::string_view path, std::string_view what, int error) {
  return Format("%.*s: %.*s: %s", static_cast<int>(path.size()), path.data(),
                static_cast<int>(what.size()), what.data(), std::strerror(error));
}

bool ReadAll(int fd, std::string& out) {
  out.clear();
  char chunk[65536];
  while (true) {
    ssize_t n = Files().Read(fd, chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(chunk, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = Files().Write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

ssize_t ReadFullAt(int fd, char* data, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = Files().ReadAt(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool WriteAllAt(int fd, std::string_view data, uint64_t offset) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = Files().WriteAt(fd, data.data() + done, data.size() - done,
                                static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool OpensForReadWrite(const std::string& path) {
  UniqueFd fd(Files().Open(path, O_RDWR));
  return fd.valid();
}

int OpenPrivateFile(const std::string& path, int flags) {
  if ((flags & O_CREAT) == 0) return Files().Open(path, flags);
  // Only a file this call creates is given the mode, so the file is first
  // opened exclusively; a file that is there already is opened as it is.
  for (int tries = 0; tries < 3; ++tries) {
    int fd = Files().Open(path, flags | O_EXCL, kPrivateFileMode);
    if (fd >= 0) {
      // The umask may have taken bits the group needs; the mode is set whole.
      if (::fchmod(fd, kPrivateFileMode) != 0) {
        const int error = errno;
        Files().Close(fd);
        errno = error;
        return -1;
      }
      return fd;
    }
    if (errno != EEXIST || (flags & O_EXCL) != 0) return -1;
    fd = Files().Open(path, flags & ~O_CREAT);
    if (fd >= 0 || errno != ENOENT) return fd;
    // Removed between the two calls: create it after all.
  }
  return -1;
}

bool ReadFile(const std::string& path, std::string& out, std::string* error) {
  UniqueFd fd(Files().Open(path, O_RDONLY));
  if (!fd.valid()) return Fail(error, FileErrorText(path, "cannot open", errno));
  if (!ReadAll(fd.get(), out)) return Fail(error, FileErrorText(path, "cannot read", errno));
  return true;
}

ReplaceResult ReplaceFileAtomically(const std::string& path, std::string_view text, mode_t mode,
                                    std::string* error, const struct stat* old) {
  static std::atomic<unsigned> counter{0};
  std::string dir = DirectoryPart(path);
  if (dir.empty()) dir = !path.empty() && path.front() == '/' ? "/" : ".";
  std::string temp = JoinPath(dir, Format(".%s.%ld.%u.tmp", NamePart(path).c_str(),
                                          static_cast<long>(::getpid()), counter++));
  UniqueFd out(Files().Open(temp, O_WRONLY | O_CREAT | O_EXCL, mode));
  if (!out.valid()) {
    int why = errno;
    Fail(error, FileErrorText(path, "cannot create a temporary file", why));
    return why == EACCES || why == EPERM || why == EROFS ? ReplaceResult::kNoTemporaryFile
                                                         : ReplaceResult::kFailed;
  }
  // The umask may have narrowed the mode given to open().
  (void)::fchmod(out.get(), mode);
  if (old != nullptr && ::geteuid() == 0) (void)::fchown(out.get(), old->st_uid, old->st_gid);
  if (!WriteAll(out.get(), text) || Files().Sync(out.get()) != 0 || !out.Close()) {
    Fail(error, FileErrorText(temp, "cannot write", errno));
    Files().Unlink(temp);
    return ReplaceResult::kFailed;
  }
  if (Files().Rename(temp, path) != 0) {
    Fail(error, FileErrorText(path, "cannot replace", errno));
    Files().Unlink(temp);
    return ReplaceResult::kFailed;
  }
  return ReplaceResult::kDone;
}

}  // namespace vigilo
