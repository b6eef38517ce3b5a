#include "platform/host/worker_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vigilo::host {

WorkerThread::WorkerThread(bool below_normal_priority)
    : below_normal_(below_normal_priority) {}

WorkerThread::~WorkerThread() {
  QuitAndWait();
  if (thread_.joinable()) thread_.join();
}

bool WorkerThread::Resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_) return false;
  try {
    thread_ = std::thread(&WorkerThread::Run, this);
  } catch (const std::system_error&) {
    return false;
  }
  started_ = true;
  return true;
}

bool WorkerThread::Post(uint32_t id, uintptr_t wparam, intptr_t lparam) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return false;
    queue_.push_back(ThreadMessage{id, wparam, lparam});
  }
  queue_ready_.notify_one();
  return true;
}

bool WorkerThread::IsAlive() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !ended_;
}

uint32_t WorkerThread::ExitCode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return exit_code_;
}

void WorkerThread::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!started_) return;
  queue_ready_.wait(lock, [this] { return ended_; });
}

void WorkerThread::QuitAndWait() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_ || ended_) return;
    queue_.push_back(ThreadMessage{kQuitMessage, 0, 0});
  }
  queue_ready_.notify_all();
  Wait();
}

void WorkerThread::EndThread(uint32_t exit_code) {
  // Only the thread itself reads these, after the handler returns.
  end_requested_ = true;
  requested_code_ = exit_code;
}

void WorkerThread::Run() {
  if (below_normal_) {
    // Linux keeps a nice value per thread; one step nicer than the process.
    pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    errno = 0;
    int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), current + 1);
  }
  uint32_t code = 0;
  if (!InitInstance()) {
    code = 1;
  } else {
    for (;;) {
      ThreadMessage message;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        queue_ready_.wait(lock, [this] { return !queue_.empty(); });
        message = queue_.front();
        queue_.pop_front();
      }
      if (message.id == kQuitMessage) {
        code = static_cast<uint32_t>(message.wparam);
        break;
      }
      OnMessage(message);
      if (end_requested_) {
        code = requested_code_;
        break;
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    exit_code_ = code;
    queue_.clear();
  }
  queue_ready_.notify_all();
}

}  // namespace vigilo::host
