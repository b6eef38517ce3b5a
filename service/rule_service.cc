#include "service/rule_service.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>
#include <utility>

#include "common/format.h"
#include "data/server_paths.h"
#include "platform/host/signal_control.h"
#include "service/service_texts.h"

namespace vigilo {
namespace {

using namespace std::chrono_literals;

std::atomic<CRuleService*> the_service{nullptr};

constexpr char kStatusFailure[] = "Unable to set service status";

}  // namespace

int FlushLog(int mode) {
  CRuleService* service = the_service.load();
  return service != nullptr ? service->FlushLog(mode) : 0;
}

CRuleService::CRuleService(RuleServiceOptions options)
    : options_(std::move(options)), log_(options_.log_path, options_.message_reporter) {
  if (options_.reporter != nullptr) {
    reporter_ = options_.reporter;
  } else {
    own_reporter_ = host::ProcessStatusReporter();
    reporter_ = own_reporter_.get();
  }
  if (options_.journal != nullptr) {
    log_.SetJournal(options_.journal);
  } else {
    own_journal_ = host::SystemJournal();
    log_.SetJournal(own_journal_.get());
  }
  CRuleService* none = nullptr;
  the_service.compare_exchange_strong(none, this);
}

CRuleService::~CRuleService() {
  // A worker left behind by a failed start never ran; one still running
  // (the process is ending without a Stop) is stopped properly first.
  std::unique_ptr<CReadThread> worker;
  {
    std::lock_guard<std::mutex> lock(worker_mutex_);
    worker = std::move(worker_);
  }
  if (worker && running_) EndWorker(*worker);
  worker.reset();
  CRuleService* self = this;
  the_service.compare_exchange_strong(self, nullptr);
}

void CRuleService::LogLine(const std::string& text) { log_.Write(text + "\r\n"); }

int CRuleService::FlushLog(int mode) { return log_.Flush(mode) ? 1 : 0; }

uint32_t CRuleService::CurrentState() {
  std::lock_guard<std::mutex> lock(status_mutex_);
  return status_.current_state;
}

bool CRuleService::ReportStatus() {
  host::ServiceStatus copy;
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    copy = status_;
  }
  return reporter_->Report(copy);
}

bool CRuleService::SetState(uint32_t state) {
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    status_.win32_exit_code = 0;
    status_.current_state = state;
    status_.check_point = 0;
    status_.wait_hint = 0;
  }
  return ReportStatus();
}

void CRuleService::LogStartFailure() {
  // The run log keeps its established line; the journal (or the terminal)
  // gets it spelt right, with the reason lines already sent before it and
  // the place of the run log, which holds the whole story.
  log_.WriteFileOnly("\r\nVigilo Service failed to start beacuse of initialization problems\r\n");
  host::JournalEntry entry;
  entry.priority = host::kJournalError;
  entry.message = "Vigilo Service failed to start because of initialization problems; see the run log " +
                  log_.FilePath();
  // The reason comes again on the next line, so that the one line a
  // supervisor shows of a failed start says why.
  const std::string reason = log_.LastProblem();
  if (!reason.empty()) entry.message += "\n" + reason;
  log_.SendToJournal(entry);
  FlushLog(kLogAppend);
  start_failed_ = true;
}

void CRuleService::LogStartLines() {
  LogLine(kVersionLine);
  LogLine(DateLine(std::time(nullptr)));
  LogLine(kStartLine);
}

std::chrono::milliseconds CRuleService::PaceInterval() {
  if (options_.pace_interval) return options_.pace_interval();
  return std::chrono::seconds(std::max<uint32_t>(GetFiringInterval(), 1));
}

int CRuleService::ServiceMain(int argc, char** argv) {
  (void)argc;
  (void)argv;
  LogStartLines();
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    status_ = host::ServiceStatus{};
    status_.service_type = host::kServiceWin32;
    status_.current_state = host::kServiceStartPending;
    status_.controls_accepted = host::kAcceptStop | host::kAcceptPauseContinue;
  }
  // The control handler needs no registration: the control reader was set
  // up before this thread started, so controls already reach it. The first
  // report says "starting"; readiness follows the engine's start, so a
  // supervisor never takes a start that fails for a running service.
  if (!ReportStatus()) {
    LogLine("Unable to set status to running");
    return 0;
  }
  // Refused, the start must leave the running engine's run log as it is.
  const bool locked = LockInstallation();
  FlushLog(kLogAppend);

  if (locked && StartEngine()) {
    bool stopping;
    {
      std::lock_guard<std::mutex> lock(worker_mutex_);
      stopping = stop_requested_;
    }
    if (!stopping && !SetState(host::kServiceRunning)) LogLine(kStatusFailure);
    PaceWorker();
    return 1;
  }

  LogStartFailure();
  {
    std::unique_lock<std::mutex> lock(worker_mutex_);
    // A Stop that arrives meanwhile makes the self-stop pointless.
    if (worker_changed_.wait_for(lock, options_.self_stop_delay,
                                 [this] { return stop_requested_; })) {
      return 1;
    }
  }
  if (options_.self_stop) {
    options_.self_stop();
  } else {
    host::SignalControlReader::RaiseControl(host::kControlStop);
  }
  return 1;
}

int CRuleService::StartEngine() {
  if (!LockInstallation()) return 0;
  std::unique_ptr<CReadThread> created = options_.worker_factory
                                             ? options_.worker_factory(&log_)
                                             : std::make_unique<CReadThread>(&log_);
  CReadThread* worker = created.get();
  {
    std::lock_guard<std::mutex> lock(worker_mutex_);
    worker_ = std::move(created);
  }
  FlushLog(kLogAppend);
  // The worker is not reachable by the control handler until running_ is
  // set, so the initialisation has it to itself.
  if (!worker->InitEngine()) return 0;
  firing_interval_ = PaceInterval();
  pace_ms_ = firing_interval_.count();
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    tally_at_last_tick_ = log_.tally();
  }
  worker->tick_done = [this] { OnTickDone(); };
  worker->reload_done = [this, worker](bool reloaded) {
    OnReloadDone(reloaded, worker->reload_failure);
  };
  std::lock_guard<std::mutex> lock(worker_mutex_);
  worker->Resume();
  worker->Post(CReadThread::kFireRulesMessage, 1, 0);
  running_ = true;
  return 1;
}

int CRuleService::PaceWorker() {
  std::unique_lock<std::mutex> lock(worker_mutex_);
  if (!running_ || !worker_) return 0;
  lock.unlock();
  pace_ms_ = PaceInterval().count();
  lock.lock();
  while (worker_ && worker_->IsAlive() && !stop_requested_) {
    const std::chrono::milliseconds interval(pace_ms_.load());
    worker_changed_.wait_for(lock, interval,
                             [this] { return stop_requested_ || !worker_; });
    if (worker_ && !stop_requested_) {
      worker_->Post(CReadThread::kFireRulesMessage, 1, 0);
    }
  }
  // A Stop that came while the engine was starting found nothing to stop;
  // the worker is ended here instead. Otherwise StopWorker has taken it.
  std::unique_ptr<CReadThread> worker = std::move(worker_);
  lock.unlock();
  if (worker) {
    if (worker->IsAlive()) EndWorker(*worker);
    worker.reset();
  }
  return 1;
}

void CRuleService::EndWorker(CReadThread& worker) {
  worker.stop_flag.store(1);
  if (worker.busy_flag.load() != 0) {
    // The worker ends itself at the end of the running tick.
    while (worker.busy_flag.load() != 0) std::this_thread::sleep_for(100ms);
  } else {
    worker.Post(host::kQuitMessage, 0, 0);
  }
  std::this_thread::sleep_for(100ms);
  if (worker.IsAlive()) {
    // The tick may have read the stop flag just before it was set and
    // finished without ending the thread; the quit message ends it then.
    worker.Post(host::kQuitMessage, 0, 0);
  }
  worker.Wait();
}

void CRuleService::StopWorker() {
  std::unique_ptr<CReadThread> worker;
  {
    std::lock_guard<std::mutex> lock(worker_mutex_);
    stop_requested_ = true;
    if (running_) worker = std::move(worker_);
  }
  worker_changed_.notify_all();
  if (!worker) return;
  EndWorker(*worker);
  worker.reset();
  worker_changed_.notify_all();
}

int CRuleService::PauseWorker() {
  std::lock_guard<std::mutex> lock(worker_mutex_);
  if (!running_ || !worker_) return 0;
  worker_->pause_flag.store(1);
  return 1;
}

int CRuleService::ContinueWorker() {
  std::lock_guard<std::mutex> lock(worker_mutex_);
  if (!running_ || !worker_) return 0;
  worker_->pause_flag.store(0);
  return 1;
}

int CRuleService::ReloadWorker() {
  std::lock_guard<std::mutex> lock(worker_mutex_);
  if (!running_ || !worker_) return 0;
  worker_->Post(CReadThread::kReloadMessage, 0, 0);
  return 1;
}

void CRuleService::OnTickDone() {
  const RunLogTally now = log_.tally();
  char when[32];
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    const RunLogTally& before = tally_at_last_tick_;
    status_.detail = Format("last tick %s: %ld updates, %ld notifications, %ld errors", when,
                            now.updates - before.updates,
                            now.notifications - before.notifications,
                            now.errors - before.errors);
    tally_at_last_tick_ = now;
  }
  host::ServiceStatus copy;
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    copy = status_;
  }
  reporter_->ReportProgress(copy);
}

void CRuleService::OnReloadDone(bool reloaded, const std::string& failure) {
  if (reloaded && !options_.pace_interval) pace_ms_ = PaceInterval().count();
  host::ServiceStatus copy;
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    status_.reload = host::kNoReload;
    status_.reload_failure = reloaded ? "" : (failure.empty() ? "see the run log" : failure);
    copy = status_;
    // The reload's own entries do not count for the next tick.
    tally_at_last_tick_ = log_.tally();
  }
  // "Reloaded" goes out once, with this report only: a later report (a stop)
  // must not say ready again.
  copy.reload = host::kReloaded;
  reporter_->Report(copy);
}

int CRuleService::IsWorkerAlive() {
  std::lock_guard<std::mutex> lock(worker_mutex_);
  return worker_ && worker_->ExitCode() == host::kStillActive ? 1 : 0;
}

int CRuleService::ControlHandler(uint32_t control) {
  switch (control) {
    case host::kControlStop:
      if (!SetState(host::kServiceStopPending)) {
        LogLine(kStatusFailure);
        return 0;
      }
      StopWorker();
      if (!SetState(host::kServiceStopped)) {
        LogLine(kStatusFailure);
        return 0;
      }
      return 1;
    case host::kControlPause:
      {
        std::lock_guard<std::mutex> lock(status_mutex_);
        status_.current_state = host::kServicePaused;
      }
      PauseWorker();
      break;
    case host::kControlContinue:
      {
        std::lock_guard<std::mutex> lock(status_mutex_);
        status_.current_state = host::kServiceRunning;
      }
      ContinueWorker();
      break;
    case host::kControlParamChange: {
      // Reported before the worker can answer, so "reloading" never comes
      // after the worker's "ready".
      bool running;
      {
        std::lock_guard<std::mutex> lock(worker_mutex_);
        running = running_ && worker_ != nullptr;
      }
      if (!running) break;
      {
        std::lock_guard<std::mutex> lock(status_mutex_);
        status_.reload = host::kReloading;
      }
      const bool reported = ReportStatus();
      ReloadWorker();
      if (!reported) {
        LogLine(kStatusFailure);
        return 0;
      }
      return 1;
    }
    default:
      break;
  }
  if (!ReportStatus()) {
    LogLine(kStatusFailure);
    return 0;
  }
  return 1;
}

int CRuleService::RunOnce() {
  // Errors of the rule loading count as well: a flag table that cannot be
  // made or a project that does not open keeps rules from working as much
  // as a failing tick does.
  const RunLogTally before = log_.tally();
  LogStartLines();
  {
    // Nobody supervises a single tick; its summary still says "running".
    std::lock_guard<std::mutex> lock(status_mutex_);
    status_.current_state = host::kServiceRunning;
  }
  const bool locked = LockInstallation();
  FlushLog(kLogAppend);
  if (!locked || !StartEngine()) {
    LogStartFailure();
    return 1;
  }
  // The first tick is queued before the quit message, so exactly one runs;
  // the stop flag stays clear, so that tick runs to its end.
  std::unique_ptr<CReadThread> worker;
  {
    std::lock_guard<std::mutex> lock(worker_mutex_);
    stop_requested_ = true;
    worker = std::move(worker_);
  }
  worker_changed_.notify_all();
  if (worker) {
    worker->Post(host::kQuitMessage, 0, 0);
    worker->Wait();
  }
  worker.reset();
  // A cron job or script sees from the status alone that something went
  // wrong; the run log (and the journal) says what.
  int status = 0;
  const long errors = log_.tally().errors - before.errors;
  if (errors > 0) {
    std::fprintf(stderr, "vgservice: %ld error%s in the rule loading and the firing tick; "
                 "see the run log %s\n",
                 errors, errors == 1 ? "" : "s", log_.FilePath().c_str());
    status = 2;
  }
  if (!log_.Flush(kLogAppend)) {
    std::fprintf(stderr, "vgservice: the run log %s could not be written\n",
                 log_.FilePath().c_str());
    status = 2;
  }
  return status;
}

bool CRuleService::LockInstallation() {
  const std::string path = options_.lock_path
                               ? options_.lock_path()
                               : InstallationLock::PathFor(CServerPaths().server_dir);
  std::string why;
  if (engine_lock_.Acquire(path, &why)) return true;
  LogMessage(&log_, why, /*quiet=*/false);
  return false;
}

}  // namespace vigilo
