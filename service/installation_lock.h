// InstallationLock: one rule engine at a time per installation.
//
// The daemon, `vgservice --once` and the rule manager's in-process server all
// fire the same rules on the same project data; two of them at once would
// mail every record twice. Whoever starts an engine first takes an exclusive
// kernel lock on the lock file "vigilo.lock" in the server directory and
// keeps it for as long as its engine runs; the next one is refused with a
// message naming the lock file and the process that holds it. The lock is an
// open-file-description lock, so it dies with its holder: a process that was
// killed leaves a file behind but no lock, and the next start proceeds. Two
// engines in one process exclude each other as two processes do.
//
// The holder writes its process id and program name into the file, for the
// refusal message only; the lock itself is what counts.
//
// Thread-safety: one object per engine, used by one thread at a time.
#pragma once

#include <string>

namespace vigilo {

inline constexpr const char* kInstallationLockFile = "vigilo.lock";

class InstallationLock {
 public:
  InstallationLock() = default;
  // Releases the lock when held.
  ~InstallationLock();
  InstallationLock(InstallationLock&& other) noexcept;
  InstallationLock& operator=(InstallationLock&& other) noexcept;
  InstallationLock(const InstallationLock&) = delete;
  InstallationLock& operator=(const InstallationLock&) = delete;

  // The lock file of the installation whose server directory is given.
  static std::string PathFor(const std::string& server_dir);

  // Takes the lock on the file at path, creating the file when missing.
  // Returns true when this object holds the lock afterwards (also when it
  // held it already). Returns false with *why set when another engine holds
  // it ("... held by process N (program)") or when the file cannot be opened
  // or locked (the system's reason is named); nothing is changed then.
  bool Acquire(const std::string& path, std::string* why);

  // Gives the lock up; the file stays for the next engine.
  void Release();

  bool held() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace vigilo
