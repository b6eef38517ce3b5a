// The in-process server's control side: Start and Stop, the status window and
// pane, the timers (fired by the test itself), the put-off close, and the
// engine's messages, with a scripted engine on a real worker thread.
#include "manager/server_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "tests/manager/fake_server_window.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using namespace std::chrono_literals;

template <typename Predicate>
bool Eventually(Predicate predicate) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (predicate()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return predicate();
}

// What the scripted engine does; outlives it.
struct EngineScript {
  bool init_ok = true;
  std::string init_message;  // shown while initialising
  std::string tick_message;  // shown from every tick
  std::function<void()> during_init;
  bool hold_ticks = false;
  std::atomic<int> ticks{0};
  std::atomic<bool> destroyed{false};
  std::mutex mutex;
  std::condition_variable cv;
  bool released = false;
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    cv.notify_all();
  }
};

class ScriptedEngine : public CReadThread {
 public:
  ScriptedEngine(LogStream* log, EngineScript* script) : CReadThread(log), script_(script) {}
  ~ScriptedEngine() override {
    QuitAndWait();
    script_->destroyed = true;
  }
  int InitEngine() override {
    if (!script_->init_message.empty()) LogMessage(log, script_->init_message, false);
    if (auto hook = std::exchange(script_->during_init, nullptr)) hook();
    return script_->init_ok ? 1 : 0;
  }
  void FireRules() override {
    ++script_->ticks;
    if (!script_->tick_message.empty()) LogMessage(log, script_->tick_message, false);
    if (script_->hold_ticks) {
      std::unique_lock<std::mutex> lock(script_->mutex);
      script_->cv.wait(lock, [this] { return script_->released; });
    }
  }

 private:
  EngineScript* script_;
};

class ServerControlTest : public ::testing::Test {
 protected:
  ServerControlTest() { home_.WriteServerFile("morvik.ini", "[Mail]\nSMTP Mail=1\n"); }
  ServerControlOptions Options() {
    ServerControlOptions options;
    options.worker_factory = [this](LogStream* log) {
      ++engines_built_;
      return std::make_unique<ScriptedEngine>(log, &script_);
    };
    options.log_path = [this] { return home_.File("vglog.ini"); };
    options.lock_path = [this] { return home_.File("vigilo.lock"); };
    return options;
  }
  // Lets a stopped worker's thread end and be released.
  void ReleaseWorker(ServerControl& server) {
    ASSERT_TRUE(Eventually([&] {
      server.OnTimer(kReleaseTimer);
      return !server.releasing();
    }));
  }
  bool LockIsFree() {
    InstallationLock probe;
    return probe.Acquire(home_.File("vigilo.lock"), nullptr);
  }

  testing::TestInstallation home_{testing::ManagerHomeBuilder()};
  testing::RecordingPrompts prompts_;
  testing::FakeServerWindow window_;
  EngineScript script_;
  int engines_built_ = 0;
};

TEST_F(ServerControlTest, StartWithoutMailSectionWarnsAndStartsNothing) {
  home_.WriteServerFile("morvik.ini", "[Orvik Dsn]\nProj=/nowhere\n[Mail]\n");
  ServerControl server(prompts_, window_, Options());
  server.Start();
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_EQ(prompts_.shown[0].text,
            "Unable to run Vigilo Server.\nMail section does not exist in morvik.ini.");
  EXPECT_EQ(prompts_.shown[0].icon, PromptIcon::kWarning);
  EXPECT_EQ(prompts_.shown[0].caption, "Morvane Vigilo");
  EXPECT_EQ(engines_built_, 0);
  EXPECT_FALSE(server.running());
  EXPECT_TRUE(window_.panes.empty());
  EXPECT_TRUE(window_.status_history.empty());
}

TEST_F(ServerControlTest, FailedInitialisationShowsTheEngineMessageAndStaysStopped) {
  script_.init_ok = false;
  script_.init_message = "No rules are defined. Please create the rules and then start the server";
  ServerControl server(prompts_, window_, Options());
  server.Start();
  EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{script_.init_message});
  EXPECT_EQ(prompts_.shown[0].caption, "Morvane Vigilo");
  EXPECT_TRUE(script_.destroyed);
  EXPECT_EQ(server.worker(), nullptr);
  EXPECT_FALSE(server.running());
  EXPECT_FALSE(window_.running);
  EXPECT_TRUE(window_.timers.empty());
  EXPECT_TRUE(window_.status_history.empty());
  EXPECT_TRUE(LockIsFree());
  // The message also stands in the run log.
  EXPECT_NE(testing::ReadText(home_.File("vglog.ini")).find(script_.init_message),
            std::string::npos);
}

TEST_F(ServerControlTest, StartRunsTheFirstTickAtOnceAndThenOnTimerOne) {
  ServerControl server(prompts_, window_, Options());
  server.Start();
  EXPECT_TRUE(server.running());
  EXPECT_TRUE(window_.running);
  EXPECT_EQ(window_.panes[kServerPane], "Vigilo Server is running.");
  EXPECT_EQ(window_.status_history, std::vector<std::string>{"Vigilo service is starting..."});
  // Seen while the server starts, gone a moment after it runs.
  EXPECT_EQ(window_.status, "Vigilo service is starting...");
  EXPECT_EQ(window_.timers.at(kStatusTimer), 1500ms);
  server.OnTimer(kStatusTimer);
  EXPECT_FALSE(window_.status);
  EXPECT_EQ(window_.timers.count(kStatusTimer), 0u);
  EXPECT_EQ(window_.timers.at(kFireTimer), 60000ms);
  ASSERT_TRUE(Eventually([&] { return script_.ticks == 1; }));
  server.OnTimer(kFireTimer);
  ASSERT_TRUE(Eventually([&] { return script_.ticks == 2; }));
  EXPECT_FALSE(LockIsFree());
  server.Start();  // while running: nothing
  EXPECT_EQ(engines_built_, 1);
}

TEST_F(ServerControlTest, StartChosenAgainWhileTheEngineInitialisesIsIgnored) {
  ServerControl server(prompts_, window_, Options());
  script_.during_init = [&server] { server.Start(); };
  server.Start();
  EXPECT_TRUE(server.running());
  EXPECT_EQ(engines_built_, 1);
  EXPECT_TRUE(prompts_.shown.empty());
}

TEST_F(ServerControlTest, StopWhileATickRunsWaitsForItOnTimerTwo) {
  script_.hold_ticks = true;
  ServerControl server(prompts_, window_, Options());
  server.Start();
  ASSERT_TRUE(Eventually([&] { return server.worker()->busy_flag.load() != 0; }));
  server.Stop();
  EXPECT_EQ(window_.status, "Vigilo service is stopping...");
  EXPECT_EQ(window_.timers.count(kFireTimer), 0u);
  EXPECT_EQ(window_.timers.at(kStopTimer), 2000ms);
  EXPECT_TRUE(server.stopping());
  server.OnTimer(kStopTimer);  // the tick still runs
  EXPECT_TRUE(server.running());
  EXPECT_EQ(window_.status, "Vigilo service is stopping...");
  EXPECT_EQ(window_.panes[kServerPane], "Vigilo Server is running.");

  script_.Release();
  ASSERT_TRUE(Eventually([&] { return server.worker()->busy_flag.load() == 0; }));
  // The next 2-second tick after the busy flag cleared finishes the stop.
  server.OnTimer(kStopTimer);
  EXPECT_FALSE(server.running());
  EXPECT_FALSE(window_.running);
  EXPECT_EQ(window_.status, "Vigilo service is stopping...");
  server.OnTimer(kStatusTimer);
  EXPECT_FALSE(window_.status);
  EXPECT_EQ(window_.panes[kServerPane], "Vigilo Server is stopped.");
  EXPECT_EQ(window_.timers.count(kStopTimer), 0u);
  ReleaseWorker(server);
  EXPECT_TRUE(script_.destroyed);
  EXPECT_EQ(script_.ticks, 1) << "no tick starts after the stop";
  EXPECT_TRUE(LockIsFree());
  EXPECT_EQ(window_.close_requests, 0);
}

TEST_F(ServerControlTest, StopWhileIdleFinishesAtOnceAndTheServerStartsAgain) {
  ServerControl server(prompts_, window_, Options());
  server.Start();
  ASSERT_TRUE(Eventually([&] { return script_.ticks == 1 && !server.worker()->busy_flag; }));
  server.Stop();
  EXPECT_FALSE(server.running());
  EXPECT_EQ(window_.timers.count(kStopTimer), 0u);
  EXPECT_EQ(window_.panes[kServerPane], "Vigilo Server is stopped.");
  // Started again at once: the stopped worker is released first.
  server.Start();
  EXPECT_TRUE(server.running());
  EXPECT_EQ(engines_built_, 2);
  EXPECT_TRUE(prompts_.shown.empty());
}

TEST_F(ServerControlTest, CloseWhileRunningStopsFirstAndThenClosesByItself) {
  script_.hold_ticks = true;
  ServerControl server(prompts_, window_, Options());
  EXPECT_TRUE(server.CanClose()) << "nothing runs";
  server.Start();
  ASSERT_TRUE(Eventually([&] { return server.worker()->busy_flag.load() != 0; }));
  EXPECT_FALSE(server.CanClose());
  EXPECT_TRUE(server.close_pending());
  EXPECT_TRUE(server.stopping());
  EXPECT_EQ(window_.close_requests, 0);
  script_.Release();
  ASSERT_TRUE(Eventually([&] { return server.worker()->busy_flag.load() == 0; }));
  server.OnTimer(kStopTimer);
  EXPECT_EQ(window_.close_requests, 1);
  EXPECT_TRUE(server.CanClose());
}

TEST_F(ServerControlTest, WhileMinimizedOnlyTheStatusBarChanges) {
  window_.minimized = true;
  ServerControl server(prompts_, window_, Options());
  server.Start();
  EXPECT_EQ(window_.panes[kServerPane], "Vigilo Server is running.");
  ASSERT_TRUE(Eventually([&] { return script_.ticks == 1 && !server.worker()->busy_flag; }));
  server.Stop();
  EXPECT_EQ(window_.panes[kServerPane], "Vigilo Server is stopped.");
  EXPECT_TRUE(window_.status_history.empty());
}

TEST_F(ServerControlTest, TickMessagesReachThePromptsOnTheWindowsThreadWhileTheControlLives) {
  script_.tick_message = "The user table could not be read.";
  {
    ServerControl server(prompts_, window_, Options());
    server.Start();
    ASSERT_TRUE(Eventually([&] { return window_.PostedCount() == 1; }));
    EXPECT_TRUE(prompts_.shown.empty()) << "never shown from the worker's thread";
    window_.RunPosted();
    EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{"The user table could not be read."});
    server.OnTimer(kFireTimer);
    ASSERT_TRUE(Eventually([&] { return window_.PostedCount() == 1; }));
  }
  // Queued for a control that is gone: dropped.
  window_.RunPosted();
  EXPECT_EQ(prompts_.shown.size(), 1u);
}

TEST_F(ServerControlTest, ASecondEngineOnTheInstallationIsRefusedWithItsHolder) {
  ServerControl first(prompts_, window_, Options());
  first.Start();
  testing::FakeServerWindow other_window;
  testing::RecordingPrompts other_prompts;
  ServerControl second(other_prompts, other_window, Options());
  second.Start();
  EXPECT_FALSE(second.running());
  ASSERT_EQ(other_prompts.shown.size(), 1u);
  const std::string& text = other_prompts.shown[0].text;
  EXPECT_NE(text.find(home_.File("vigilo.lock")), std::string::npos) << text;
  EXPECT_NE(text.find("process " + std::to_string(getpid())), std::string::npos) << text;
  EXPECT_EQ(other_prompts.shown[0].icon, PromptIcon::kWarning);
  EXPECT_EQ(engines_built_, 1);
}

}  // namespace
}  // namespace vigilo
