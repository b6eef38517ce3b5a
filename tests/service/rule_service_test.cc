#include "service/rule_service.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/signal_control.h"
#include "tests/service/recording_journal.h"
#include "tests/service/service_fixture.h"

namespace vigilo {
namespace {

using namespace std::chrono_literals;
using host::kServicePaused;
using host::kServiceRunning;
using host::kServiceStartPending;
using host::kServiceStopped;
using host::kServiceStopPending;

// Waits up to two seconds for a condition polled every millisecond.
template <typename Predicate>
bool Eventually(Predicate predicate) {
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (predicate()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return predicate();
}

// Records the states reported. A report that only brings a new tick
// summary (its detail changed) is counted apart, so the state sequences stay
// those of the controls.
class RecordingReporter : public host::StatusReporter {
 public:
  bool Report(const host::ServiceStatus& status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status.detail != last_detail_) {
      last_detail_ = status.detail;
      tick_reports_.push_back(status.detail);
    } else {
      states_.push_back(status.current_state);
      reloads_.push_back(status.reload);
    }
    return !fail_;
  }
  std::vector<std::string> TickReports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return tick_reports_;
  }
  std::vector<uint32_t> Reloads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reloads_;
  }
  std::vector<uint32_t> States() {
    std::lock_guard<std::mutex> lock(mutex_);
    return states_;
  }
  void SetFailing(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_ = fail;
  }

 private:
  std::mutex mutex_;
  std::vector<uint32_t> states_;
  std::vector<uint32_t> reloads_;
  std::vector<std::string> tick_reports_;
  std::string last_detail_;
  bool fail_ = false;
};

// What the fake worker did; outlives the worker.
struct WorkerProbe {
  bool init_ok = true;
  bool hold_init = false;   // the initialisation waits until Release()
  bool hold_ticks = false;  // a tick waits until Release()
  std::atomic<int> ticks{0};
  std::atomic<int> handled{0};  // messages the worker has finished handling
  std::atomic<bool> in_tick{false};
  std::atomic<bool> tick_saw_stop{false};
  std::atomic<bool> destroyed{false};
  std::atomic<int> reloads{0};
  std::mutex mutex;
  std::condition_variable released_cv;
  bool released = false;

  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    released_cv.notify_all();
  }
};

// A worker whose engine is scripted: no settings, no rules, no mail.
class FakeWorker : public CReadThread {
 public:
  FakeWorker(LogStream* log, WorkerProbe* probe) : CReadThread(log), probe_(probe) {}
  ~FakeWorker() override {
    QuitAndWait();
    probe_->destroyed = true;
  }
  int InitEngine() override {
    if (probe_->hold_init) {
      std::unique_lock<std::mutex> lock(probe_->mutex);
      probe_->released_cv.wait(lock, [this] { return probe_->released; });
    }
    log->Write("engine initialised\r\n");
    return probe_->init_ok ? 1 : 0;
  }
  void FireRules() override {
    probe_->in_tick = true;
    ++probe_->ticks;
    if (probe_->hold_ticks) {
      std::unique_lock<std::mutex> lock(probe_->mutex);
      probe_->released_cv.wait(lock, [this] { return probe_->released; });
    }
    probe_->tick_saw_stop = stop_flag.load() != 0;
    probe_->in_tick = false;
  }
  int ReloadEngine() override {
    ++probe_->reloads;
    log->Write("Rules reloaded\r\n\r\n");
    return 1;
  }

 protected:
  void OnMessage(const host::ThreadMessage& message) override {
    CReadThread::OnMessage(message);
    ++probe_->handled;
  }

 private:
  WorkerProbe* probe_;
};

class RuleServiceTest : public ::testing::Test {
 protected:
  RuleServiceOptions Options(std::chrono::milliseconds interval) {
    RuleServiceOptions options;
    options.reporter = &reporter_;
    options.self_stop_delay = 300ms;
    options.self_stop = [this] {
      self_stop_at_ = std::chrono::steady_clock::now();
      self_stopped_ = true;
      return true;
    };
    options.worker_factory = [this](LogStream* log) {
      return std::make_unique<FakeWorker>(log, &probe_);
    };
    options.pace_interval = [interval] { return interval; };
    options.log_path = [this] { return dir_.File("vglog.ini"); };
    options.lock_path = [this] { return dir_.File("vigilo.lock"); };
    return options;
  }

  // Stops a service still running when a test ends early (a failed
  // ASSERT), so the test fails instead of waiting for its main thread forever.
  class Running {
   public:
    Running(CRuleService& service, std::future<int>& result) : service_(service), result_(result) {}
    ~Running() {
      if (result_.valid() && result_.wait_for(0s) != std::future_status::ready) {
        service_.ControlHandler(host::kControlStop);
        result_.wait();
      }
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

   private:
    CRuleService& service_;
    std::future<int>& result_;
  };

  // Runs ServiceMain on its own thread, as the service main thread.
  [[nodiscard]] std::unique_ptr<Running> Start(CRuleService& service) {
    main_result_ = std::async(std::launch::async, [&service] {
      return service.ServiceMain(0, nullptr);
    });
    return std::make_unique<Running>(service, main_result_);
  }

  testing::TempDir dir_;
  RecordingReporter reporter_;
  WorkerProbe probe_;
  std::future<int> main_result_;
  std::atomic<bool> self_stopped_{false};
  std::chrono::steady_clock::time_point self_stop_at_;
};

TEST_F(RuleServiceTest, ReportsEachStateAndInterrogateReReports) {
  CRuleService service(Options(10s));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return probe_.ticks == 1; }));  // first tick at once
  EXPECT_EQ(service.ControlHandler(host::kControlPause), 1);
  EXPECT_EQ(service.ControlHandler(host::kControlContinue), 1);
  EXPECT_EQ(service.ControlHandler(host::kControlInterrogate), 1);
  EXPECT_EQ(service.ControlHandler(99), 1);
  EXPECT_EQ(service.ControlHandler(host::kControlStop), 1);
  // The pacing sleep (10 s here) ends at once on Stop.
  ASSERT_EQ(main_result_.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(main_result_.get(), 1);
  EXPECT_EQ(reporter_.States(),
            (std::vector<uint32_t>{kServiceStartPending, kServiceRunning, kServicePaused,
                                   kServiceRunning, kServiceRunning, kServiceRunning,
                                   kServiceStopPending, kServiceStopped}));
  EXPECT_TRUE(probe_.destroyed);
  EXPECT_FALSE(service.start_failed());
}

TEST_F(RuleServiceTest, PausedTicksAreDroppedAndContinueRunsTheNextOne) {
  CRuleService service(Options(20ms));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return probe_.ticks >= 2; }));  // paced ticks run
  service.ControlHandler(host::kControlPause);
  // The worker handles one message at a time: once two more are done, a tick
  // that began before the pause has ended and the second was seen paused.
  const int handled_at_pause = probe_.handled;
  ASSERT_TRUE(Eventually([&] { return probe_.handled >= handled_at_pause + 2; }));
  const int paused_at = probe_.ticks;
  const int handled_paused = probe_.handled;
  ASSERT_TRUE(Eventually([&] { return probe_.handled >= handled_paused + 5; }));
  EXPECT_EQ(probe_.ticks, paused_at);
  service.ControlHandler(host::kControlContinue);
  EXPECT_TRUE(Eventually([&] { return probe_.ticks > paused_at; }));
  service.ControlHandler(host::kControlStop);
  EXPECT_EQ(main_result_.wait_for(2s), std::future_status::ready);
}

TEST_F(RuleServiceTest, StopWhileIdleEndsTheWorkerThroughTheQuitMessage) {
  CRuleService service(Options(10s));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return probe_.ticks == 1 && !probe_.in_tick; }));
  ASSERT_EQ(service.IsWorkerAlive(), 1);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(service.ControlHandler(host::kControlStop), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_TRUE(probe_.destroyed);
  EXPECT_EQ(probe_.ticks, 1);  // no tick ran to notice the stop flag
  EXPECT_EQ(service.IsWorkerAlive(), 0);
  EXPECT_EQ(main_result_.wait_for(2s), std::future_status::ready);
}

TEST_F(RuleServiceTest, StopDuringALongTickWaitsAndTheWorkerEndsItself) {
  probe_.hold_ticks = true;
  CRuleService service(Options(10s));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return probe_.in_tick.load(); }));
  auto stop = std::async(std::launch::async,
                         [&service] { return service.ControlHandler(host::kControlStop); });
  EXPECT_EQ(stop.wait_for(400ms), std::future_status::timeout);  // waits for the tick
  EXPECT_EQ(reporter_.States().back(), kServiceStopPending);
  EXPECT_FALSE(probe_.destroyed);
  probe_.Release();
  ASSERT_EQ(stop.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(stop.get(), 1);
  EXPECT_TRUE(probe_.tick_saw_stop);  // the tick handler ended the thread itself
  EXPECT_TRUE(probe_.destroyed);
  EXPECT_EQ(probe_.ticks, 1);
  EXPECT_EQ(reporter_.States().back(), kServiceStopped);
  EXPECT_EQ(main_result_.wait_for(2s), std::future_status::ready);
}

TEST_F(RuleServiceTest, StopWhileTheEngineStartsEndsTheWorkerOnceItRuns) {
  probe_.hold_init = true;
  CRuleService service(Options(10s));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return reporter_.States().size() == 1; }));
  EXPECT_EQ(service.ControlHandler(host::kControlStop), 1);
  EXPECT_EQ(main_result_.wait_for(200ms), std::future_status::timeout);
  probe_.Release();
  ASSERT_EQ(main_result_.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(main_result_.get(), 1);
  EXPECT_TRUE(probe_.destroyed);
  EXPECT_LE(probe_.ticks, 1);
}

TEST_F(RuleServiceTest, FailedStartAsksToBeStoppedAfterTheDelay) {
  probe_.init_ok = false;
  CRuleService service(Options(10s));
  auto began = std::chrono::steady_clock::now();
  const auto running = Start(service);
  ASSERT_EQ(main_result_.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(main_result_.get(), 1);
  ASSERT_TRUE(self_stopped_);
  EXPECT_GE(self_stop_at_ - began, 300ms);
  EXPECT_TRUE(service.start_failed());
  EXPECT_EQ(probe_.ticks, 0);
  const std::string log = testing::ReadText(dir_.File("vglog.ini"));
  EXPECT_NE(log.find("Starting Vigilo Service....\r\nengine initialised\r\n"
                     "\r\nVigilo Service failed to start beacuse of initialization problems\r\n"),
            std::string::npos)
      << log;
  // The self-stop comes back as an ordinary Stop.
  EXPECT_EQ(service.ControlHandler(host::kControlStop), 1);
  EXPECT_EQ(reporter_.States(),
            (std::vector<uint32_t>{kServiceStartPending, kServiceStopPending, kServiceStopped}));
}

TEST_F(RuleServiceTest, StopDuringTheSelfStopWaitNeedsNoSelfStop) {
  probe_.init_ok = false;
  RuleServiceOptions options = Options(10s);
  options.self_stop_delay = 10s;
  CRuleService service(std::move(options));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return service.start_failed(); }));
  EXPECT_EQ(service.ControlHandler(host::kControlStop), 1);
  ASSERT_EQ(main_result_.wait_for(2s), std::future_status::ready);
  EXPECT_FALSE(self_stopped_);
}

TEST_F(RuleServiceTest, FailedStatusReportsAreLogged) {
  reporter_.SetFailing(true);
  CRuleService service(Options(10s));
  EXPECT_EQ(service.ServiceMain(0, nullptr), 0);
  EXPECT_EQ(probe_.ticks, 0);
  EXPECT_EQ(service.ControlHandler(host::kControlPause), 0);
  EXPECT_EQ(service.ControlHandler(host::kControlStop), 0);
  const std::string text = service.log().Text();
  EXPECT_NE(text.find("Starting Vigilo Service....\r\nUnable to set status to running\r\n"
                      "Unable to set service status\r\nUnable to set service status\r\n"),
            std::string::npos)
      << text;
}

TEST_F(RuleServiceTest, OnceRunsExactlyOneTick) {
  CRuleService service(Options(10ms));
  EXPECT_EQ(service.RunOnce(), 0);
  EXPECT_EQ(probe_.ticks, 1);
  EXPECT_TRUE(probe_.destroyed);
  EXPECT_TRUE(reporter_.States().empty());
  EXPECT_EQ(testing::ReadText(dir_.File("vglog.ini")).find("engine initialised\r\n") !=
                std::string::npos,
            true);
}

TEST_F(RuleServiceTest, OnceReportsAFailedInitialisation) {
  probe_.init_ok = false;
  CRuleService service(Options(10ms));
  EXPECT_EQ(service.RunOnce(), 1);
  EXPECT_EQ(probe_.ticks, 0);
  EXPECT_FALSE(self_stopped_);
}

TEST_F(RuleServiceTest, ReadyIsReportedOnlyOnceTheEngineHasStarted) {
  probe_.hold_init = true;
  CRuleService service(Options(10s));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return reporter_.States().size() == 1; }));
  std::this_thread::sleep_for(100ms);  // the initialisation is still running
  EXPECT_EQ(reporter_.States(), std::vector<uint32_t>{kServiceStartPending});
  probe_.Release();
  ASSERT_TRUE(Eventually([&] { return reporter_.States().size() == 2; }));
  EXPECT_EQ(reporter_.States().back(), kServiceRunning);
  service.ControlHandler(host::kControlStop);
  EXPECT_EQ(main_result_.wait_for(2s), std::future_status::ready);
}

TEST_F(RuleServiceTest, EveryTickReportsItsTimeAndWhatItDid) {
  CRuleService service(Options(30ms));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return reporter_.TickReports().size() >= 1; }));
  const std::string report = reporter_.TickReports().front();
  EXPECT_TRUE(std::regex_match(report, std::regex("last tick \\d{4}-\\d\\d-\\d\\d "
                                                  "\\d\\d:\\d\\d:\\d\\d: 0 updates, "
                                                  "0 notifications, 0 errors")))
      << report;
  service.ControlHandler(host::kControlStop);
  EXPECT_EQ(main_result_.wait_for(2s), std::future_status::ready);
}

TEST_F(RuleServiceTest, ReloadRunsOnTheWorkerAndReportsReloadingThenReady) {
  CRuleService service(Options(10s));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return probe_.ticks == 1 && !probe_.in_tick; }));
  EXPECT_EQ(service.ControlHandler(host::kControlParamChange), 1);
  ASSERT_TRUE(Eventually([&] {
    return probe_.reloads == 1 && !reporter_.Reloads().empty() &&
           reporter_.Reloads().back() == host::kReloaded;
  }));
  const std::vector<uint32_t> reloads = reporter_.Reloads();
  ASSERT_GE(reloads.size(), 2u);
  EXPECT_EQ(reloads[reloads.size() - 2], host::kReloading);
  EXPECT_EQ(reporter_.States().back(), kServiceRunning);
  service.ControlHandler(host::kControlStop);
  ASSERT_EQ(main_result_.wait_for(2s), std::future_status::ready);
  EXPECT_NE(testing::ReadText(dir_.File("vglog.ini")).find("Rules reloaded\r\n"),
            std::string::npos);
}

TEST_F(RuleServiceTest, ReloadBeforeTheEngineRunsOnlyReReports) {
  probe_.init_ok = false;
  CRuleService service(Options(10s));
  const auto running = Start(service);
  ASSERT_TRUE(Eventually([&] { return service.start_failed(); }));
  EXPECT_EQ(service.ControlHandler(host::kControlParamChange), 1);
  EXPECT_EQ(probe_.reloads, 0);
  EXPECT_EQ(reporter_.Reloads().back(), host::kNoReload);
  EXPECT_EQ(service.ControlHandler(host::kControlStop), 1);
}

TEST_F(RuleServiceTest, TheHostsLinesReachTheJournalAFailedStartAsAnError) {
  testing::RecordingJournal journal;
  probe_.init_ok = false;
  RuleServiceOptions options = Options(10s);
  options.journal = &journal;
  CRuleService service(std::move(options));
  const auto running = Start(service);
  ASSERT_EQ(main_result_.wait_for(3s), std::future_status::ready);
  std::vector<host::JournalEntry> entries = journal.entries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.front().message, "Vigilo Service Version 5.0-4 Build (100)");
  EXPECT_EQ(entries.front().priority, host::kJournalNotice);
  // Spelt right in the journal, with the place of the run log.
  EXPECT_EQ(entries.back().message.rfind(
                "Vigilo Service failed to start because of initialization problems; see the "
                "run log ", 0),
            0u)
      << entries.back().message;
  EXPECT_EQ(entries.back().priority, host::kJournalError);
  service.ControlHandler(host::kControlStop);
}

}  // namespace
}  // namespace vigilo
