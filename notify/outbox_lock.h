// OutboxLocks: the lock of one outbox message, taken by the engine while it
// reads, delivers and rewrites or retires the message, and by vgqueue while
// it drops or retries it, so that neither acts on a message the other has
// just changed: a message vgqueue dropped is not delivered afterwards, and a
// retry never brings back one the engine has delivered.
//
// Each message's lock is a byte of the lock file ("lock" in the outbox
// directory), chosen by the message's id, held with an open-file-description
// record lock: it is the process's until released and goes with the process
// when it dies. Two ids that share a byte only wait for each other.
#pragma once

#include <string>

namespace vigilo {

// The lock file's name in the outbox directory.
inline constexpr const char* kOutboxLockFile = "lock";

class OutboxLocks {
 public:
  explicit OutboxLocks(std::string directory);
  ~OutboxLocks();
  OutboxLocks(const OutboxLocks&) = delete;
  OutboxLocks& operator=(const OutboxLocks&) = delete;

  // Holds one message's lock while it lives.
  class Held {
   public:
    Held() = default;
    Held(Held&& other) noexcept : fd_(other.fd_), offset_(other.offset_) { other.fd_ = -1; }
    Held& operator=(Held&& other) noexcept;
    ~Held() { Release(); }
    bool held() const { return fd_ >= 0; }
    void Release();

   private:
    friend class OutboxLocks;
    Held(int fd, long long offset) : fd_(fd), offset_(offset) {}
    int fd_ = -1;
    long long offset_ = 0;
  };

  // Waits for the message's lock and holds it. A lock that cannot be taken
  // (no outbox directory yet, a file system without record locks) gives an
  // empty Held with *error set.
  Held Lock(const std::string& id, std::string* error = nullptr);

 private:
  bool Open(std::string* error);

  std::string directory_;
  int fd_ = -1;
};

}  // namespace vigilo
