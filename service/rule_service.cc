#include "service/rule_service.h"

#include <algorithm>
#include <ctime>
#include <thread>
#include <utility>

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
    own_reporter_ = std::make_unique<host::SdNotifyReporter>();
    reporter_ = own_reporter_.get();
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
  // up before this thread started, so controls already reach it.
  if (!SetState(host::kServiceRunning)) {
    LogLine("Unable to set status to running");
    return 0;
  }
  // Refused, the start must leave the running engine's run log as it is.
  const bool locked = LockInstallation();
  FlushLog(locked ? kLogRecreate : kLogAppend);

  if (locked && StartEngine()) {
    PaceWorker();
    return 1;
  }

  LogLine("\r\nVigilo Service failed to start beacuse of initialization problems");
  FlushLog(kLogAppend);
  start_failed_ = true;
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
  const std::chrono::milliseconds interval = PaceInterval();
  lock.lock();
  while (worker_ && worker_->IsAlive() && !stop_requested_) {
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
  LogStartLines();
  const bool locked = LockInstallation();
  FlushLog(locked ? kLogRecreate : kLogAppend);
  if (!locked || !StartEngine()) {
    LogLine("\r\nVigilo Service failed to start beacuse of initialization problems");
    FlushLog(kLogAppend);
    start_failed_ = true;
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
  return 0;
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
