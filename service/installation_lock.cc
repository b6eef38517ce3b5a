#include "service/installation_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/file_system.h"
#include "common/format.h"

namespace vigilo {
namespace {

// The whole file, written (exclusive) or read (to find the holder).
bool SetLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// The holder's record as it wrote it: "pid program", trimmed.
std::string ReadHolder(int fd) {
  char buffer[256];
  const ssize_t got = pread(fd, buffer, sizeof buffer - 1, 0);
  if (got <= 0) return std::string();
  std::string text(buffer, static_cast<size_t>(got));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string HolderDescription(const std::string& record) {
  char* end = nullptr;
  const long pid = std::strtol(record.c_str(), &end, 10);
  if (end == record.c_str() || pid <= 0) return "another process";
  std::string_view program(end);
  while (!program.empty() && program.front() == ' ') program.remove_prefix(1);
  if (program.empty()) return Format("process %ld", pid);
  return Format("process %ld (%.*s)", pid, static_cast<int>(program.size()), program.data());
}

std::string OwnProgramName() {
  return program_invocation_short_name != nullptr ? program_invocation_short_name : "";
}

}  // namespace

InstallationLock::~InstallationLock() { Release(); }

InstallationLock::InstallationLock(InstallationLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

InstallationLock& InstallationLock::operator=(InstallationLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

std::string InstallationLock::PathFor(const std::string& server_dir) {
  if (server_dir.empty()) return kInstallationLockFile;
  if (server_dir.back() == '/') return server_dir + kInstallationLockFile;
  return server_dir + "/" + kInstallationLockFile;
}

bool InstallationLock::Acquire(const std::string& path, std::string* why) {
  if (held()) return true;
  const int fd = OpenPrivateFile(path, O_RDWR | O_CREAT | O_CLOEXEC);
  if (fd < 0) {
    if (why != nullptr) {
      *why = Format("Unable to open the engine lock file %s: %s", path.c_str(),
                    std::strerror(errno));
    }
    return false;
  }
  if (!SetLock(fd, F_WRLCK)) {
    const int error = errno;
    if (why != nullptr) {
      if (error == EAGAIN || error == EACCES) {
        *why = Format(
            "Another Vigilo engine is running on this installation: the lock file %s is "
            "held by %s.",
            path.c_str(), HolderDescription(ReadHolder(fd)).c_str());
      } else {
        *why = Format("Unable to lock the engine lock file %s: %s", path.c_str(),
                      std::strerror(error));
      }
    }
    close(fd);
    return false;
  }
  // Only the lock matters; a record that cannot be written just makes a
  // later refusal less specific.
  const std::string record =
      Format("%ld %s\n", static_cast<long>(getpid()), OwnProgramName().c_str());
  if (ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t written = pwrite(fd, record.data(), record.size(), 0);
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void InstallationLock::Release() {
  if (fd_ < 0) return;
  // The record goes with the lock, so a refusal never names a process that
  // has let go; the file itself stays, as removing it could race a newcomer.
  if (ftruncate(fd_, 0) != 0) {
    // Nothing to do: closing releases the lock all the same.
  }
  close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace vigilo
