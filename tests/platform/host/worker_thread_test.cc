#include "platform/host/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace vigilo::host {
namespace {

using namespace std::chrono_literals;

// Records the messages it handles; message 1000 ends the thread itself.
class RecordingThread : public WorkerThread {
 public:
  // last_seen, when given, receives what the thread handled once it has ended.
  explicit RecordingThread(std::vector<uint32_t>* last_seen = nullptr) : last_seen_(last_seen) {}
  ~RecordingThread() override {
    QuitAndWait();
    if (last_seen_ != nullptr) *last_seen_ = Seen();
  }
  std::vector<uint32_t> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 protected:
  void OnMessage(const ThreadMessage& message) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(message.id);
    }
    if (message.id == 1000) EndThread(7);
  }

 private:
  std::mutex mutex_;
  std::vector<uint32_t> seen_;
  std::vector<uint32_t>* last_seen_;
};

TEST(WorkerThreadTest, MessagesPostedBeforeResumeAreDeliveredInOrder) {
  RecordingThread thread;
  EXPECT_TRUE(thread.IsAlive());  // suspended counts as alive
  EXPECT_EQ(thread.ExitCode(), kStillActive);
  ASSERT_TRUE(thread.Post(kUserMessage + 100, 1, 0));
  ASSERT_TRUE(thread.Post(kUserMessage + 101));
  ASSERT_TRUE(thread.Post(kQuitMessage));
  ASSERT_TRUE(thread.Resume());
  EXPECT_FALSE(thread.Resume());
  thread.Wait();
  EXPECT_FALSE(thread.IsAlive());
  EXPECT_EQ(thread.ExitCode(), 0u);
  EXPECT_EQ(thread.Seen(), (std::vector<uint32_t>{kUserMessage + 100, kUserMessage + 101}));
}

TEST(WorkerThreadTest, EndThreadFromHandlerDiscardsTheRestAndRefusesPosts) {
  RecordingThread thread;
  thread.Post(1);
  thread.Post(1000);
  thread.Post(2);
  thread.Resume();
  thread.Wait();
  EXPECT_EQ(thread.ExitCode(), 7u);
  EXPECT_EQ(thread.Seen(), (std::vector<uint32_t>{1, 1000}));
  EXPECT_FALSE(thread.Post(3));
}

TEST(WorkerThreadTest, DestroyingARunningOrNeverStartedThreadIsSafe) {
  std::vector<uint32_t> never_seen{99};
  {
    RecordingThread never_started(&never_seen);
    never_started.Post(1);
  }
  // A thread that never ran handles nothing.
  EXPECT_TRUE(never_seen.empty());

  // Destroying a running thread posts the quit message behind what is queued
  // and waits: every message posted before is handled, in order.
  std::vector<uint32_t> seen;
  {
    RecordingThread running(&seen);
    running.Resume();
    for (uint32_t id = kUserMessage; id < kUserMessage + 50; ++id) running.Post(id);
  }
  std::vector<uint32_t> expected;
  for (uint32_t id = kUserMessage; id < kUserMessage + 50; ++id) expected.push_back(id);
  EXPECT_EQ(seen, expected);
}

TEST(WorkerThreadTest, ConcurrentPostersLoseNothing) {
  RecordingThread thread;
  thread.Resume();
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&thread] {
      for (int i = 0; i < 250; ++i) thread.Post(kUserMessage);
    });
  }
  for (auto& p : posters) p.join();
  thread.QuitAndWait();
  EXPECT_EQ(thread.Seen().size(), 1000u);
}

}  // namespace
}  // namespace vigilo::host
