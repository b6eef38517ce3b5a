// WorkerThread: a thread with its own message queue, the stand-in for a
// message-driven framework thread.
//
// The object is created "suspended": its queue exists at once and accepts
// posted messages, but no thread runs until Resume(). Messages posted before
// Resume() are kept and delivered in order once the thread runs, so the first
// message is never lost. The thread's loop takes one message at a time and
// hands it to OnMessage(); kQuitMessage ends the loop, and so does EndThread()
// called from inside a handler (the loop ends when that handler returns).
//
// Thread-safety: Post(), IsAlive(), Wait() and ExitCode() may be called from
// any thread. REQUIRES of the owner: the thread has ended (Wait()) before a
// derived object is destroyed; a derived destructor calls QuitAndWait() first
// so that its handler never runs on a half-destroyed object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace vigilo::host {

// One thread message: an identifier and two parameter words.
struct ThreadMessage {
  uint32_t id = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

// Message numbers shared with the system's thread messages.
inline constexpr uint32_t kQuitMessage = 18;     // ends the message loop
inline constexpr uint32_t kUserMessage = 0x400;  // first private message
// Exit code of a thread that has not ended (also while still suspended).
inline constexpr uint32_t kStillActive = 259;

class WorkerThread {
 public:
  // below_normal_priority: run the thread one step nicer than the process.
  explicit WorkerThread(bool below_normal_priority = false);
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts the thread. Returns false when it was already started or the
  // thread could not be created.
  bool Resume();

  // Queues a message. Returns false once the thread has ended (the message
  // is dropped, as posting to an ended thread fails); true otherwise, also
  // before Resume().
  bool Post(uint32_t id, uintptr_t wparam = 0, intptr_t lparam = 0);

  // True until the thread has ended; a thread never resumed counts as alive.
  bool IsAlive() const;
  // kStillActive while alive, then the code the thread ended with.
  uint32_t ExitCode() const;

  // Blocks until the thread has ended. Returns at once when it never ran.
  void Wait();

  // Posts kQuitMessage (when running) and waits for the end. Harmless when
  // the thread never ran or has ended.
  void QuitAndWait();

 protected:
  // Runs on the new thread before the first message; returning false ends
  // the thread with exit code 1.
  virtual bool InitInstance() { return true; }
  // Handles one message other than kQuitMessage.
  virtual void OnMessage(const ThreadMessage& message) = 0;
  // From inside OnMessage: end the thread with this code once the handler
  // returns; messages still queued are discarded.
  void EndThread(uint32_t exit_code);

 private:
  void Run();

  const bool below_normal_;
  mutable std::mutex mutex_;
  std::condition_variable queue_ready_;
  std::deque<ThreadMessage> queue_;
  std::thread thread_;
  bool started_ = false;
  bool ended_ = false;
  bool end_requested_ = false;  // set by EndThread on the thread itself
  uint32_t exit_code_ = kStillActive;
  uint32_t requested_code_ = 0;
};

}  // namespace vigilo::host
