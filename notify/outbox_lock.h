// OutboxLocks: the lock of one outbox message, taken by the engine while it
// reads, delivers and rewrites or retires the message, and by vgqueue while
// it drops or retries it, so that neither acts on a message the other has
// just changed: a message vgqueue dropped is not delivered afterwards, and a
// retry never brings back one the engine has delivered.
//
// The engine takes the locks of a batch of new messages before it writes
// them and lets go of each once the message is delivered (or left to wait),
// so vgqueue waits at most for the batch in flight; a message it finds
// afterwards is one the engine is done with.
//
// Each message's lock is a byte of the lock file ("lock" in the outbox
// directory), chosen by the message's id, held with an open-file-description
// record lock: it is the process's until released and goes with the process
// when it dies. Two ids that share a byte only wait for each other; two
// messages of this process that share one hold it until both let go.
#pragma once

#include <map>
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

  // Holds one message's lock while it lives. REQUIRES: the OutboxLocks
  // that gave it outlives it.
  class Held {
   public:
    Held() = default;
    Held(Held&& other) noexcept : owner_(other.owner_), offset_(other.offset_) {
      other.owner_ = nullptr;
    }
    Held& operator=(Held&& other) noexcept;
    ~Held() { Release(); }
    bool held() const { return owner_ != nullptr; }
    void Release();

   private:
    friend class OutboxLocks;
    Held(OutboxLocks* owner, long long offset) : owner_(owner), offset_(offset) {}
    OutboxLocks* owner_ = nullptr;
    long long offset_ = 0;
  };

  // Waits for the message's lock and holds it. A lock that cannot be taken
  // (no outbox directory yet, a file system without record locks) gives an
  // empty Held with *error set.
  Held Lock(const std::string& id, std::string* error = nullptr);

 private:
  bool Open(std::string* error);
  void Release(long long offset);

  std::string directory_;
  int fd_ = -1;
  // The bytes held, each with the number of Helds on it: the engine holds
  // the locks of a batch of messages at once, and two of them may share one.
  std::map<long long, int> holders_;
};

}  // namespace vigilo
