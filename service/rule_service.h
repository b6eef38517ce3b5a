// CRuleService: the rule service host. It starts the engine on the worker,
// paces the firing ticks and answers the service controls.
//
// The process's main thread reads controls (signals) and hands each to
// ControlHandler; a second thread, the service main thread, runs ServiceMain:
// start lines, "running" report, StartEngine (worker created, InitEngine run
// on it while it is still suspended, then resumed with its first tick) and
// PaceWorker (one tick posted per firing interval until the worker ends).
// Stop sets the worker's stop flag and either waits for the running tick to
// end or posts it the quit message; Pause makes the worker drop ticks;
// the parameter-change control (SIGHUP) has the worker reload its settings
// and rules between two ticks. After a failed start the service asks to be
// stopped 5 seconds later.
//
// Under systemd the service reports "starting" until the engine has
// initialised and only then "running" (READY=1), so a failed start is never
// reported ready. After every tick the status carries the tick's time and
// what it did. Every run-log entry also goes to the journal.
//
// The service object owns the run log stream for the whole process. Its
// members are safe to call from the two threads above: the worker pointer and
// the status record are guarded, and the pacing wait wakes at once on Stop.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "data/log_stream.h"
#include "platform/host/service_status.h"
#include "service/installation_lock.h"
#include "service/read_thread.h"

namespace vigilo {

// What the host takes from its surroundings; tests replace parts of it.
struct RuleServiceOptions {
  // Receives every status report; null means systemd (SdNotifyReporter).
  host::StatusReporter* reporter = nullptr;
  // Wait between a failed start and the self-stop.
  std::chrono::milliseconds self_stop_delay{5000};
  // Raises the Stop control for this process; null means sending SIGTERM to
  // the process, which the control reader then hands to ControlHandler.
  std::function<bool()> self_stop;
  // Builds the (suspended) worker; null means a CReadThread.
  std::function<std::unique_ptr<CReadThread>(LogStream*)> worker_factory;
  // Time between two posted ticks; null means the firing interval of the
  // settings (at least one second, so a zero interval cannot flood the worker).
  std::function<std::chrono::milliseconds()> pace_interval;
  // Path of the run log file; null means vglog.ini in the server directory.
  LogStream::PathProvider log_path;
  // Shows the engine's messages; null means one line on standard error.
  MessageReporter message_reporter;
  // Receives every run-log entry; null means the systemd journal.
  host::JournalSink* journal = nullptr;
  // Path of the installation's engine lock file; null means vigilo.lock in
  // the server directory.
  std::function<std::string()> lock_path;
};

class CRuleService {
 public:
  explicit CRuleService(RuleServiceOptions options = {});
  virtual ~CRuleService();
  CRuleService(const CRuleService&) = delete;
  CRuleService& operator=(const CRuleService&) = delete;

  // The service main routine (service main thread). Returns 0 when the first
  // status report failed, 1 otherwise (after the worker has ended, or after
  // a failed start has asked for the self-stop).
  int ServiceMain(int argc, char** argv);

  // One control code (main thread). Returns 1, or 0 when a status report
  // failed ("Unable to set service status" is logged).
  int ControlHandler(uint32_t control);

  // Creates the worker, initialises the engine on it and starts it with its
  // first tick. Returns 1 when the worker runs, 0 when the initialisation
  // failed (the worker is then never started).
  int StartEngine();
  // Posts a tick every interval while the worker lives. Returns 0 when there
  // is nothing to pace, 1 after the worker has ended.
  int PaceWorker();
  // Ends the worker: waits for a running tick or sends the quit message,
  // then deletes the worker.
  void StopWorker();
  // Set / clear the worker's pause flag. Return 0 when the service is not
  // running or has no worker, else 1.
  int PauseWorker();
  int ContinueWorker();
  // 1 while the worker thread has not ended, 0 otherwise or without worker.
  int IsWorkerAlive();

  // --once: start lines, initialisation, exactly one tick, flush. Returns the
  // process exit status: 0; 1 when the initialisation failed; 2 when the tick
  // or the loading of the rules logged errors (a rule failed, a flag table
  // or a project could not be used) or the run log could not be written,
  // said on standard error.
  int RunOnce();

  // Asks the worker to reload between two ticks (the parameter-change
  // control). Returns 0 when there is no running worker.
  int ReloadWorker();

  // The host's writer: the text and "\r\n".
  void LogLine(const std::string& text);
  // Writes the run log to its file (kLogRecreate or kLogAppend). Returns 1,
  // or 0 when the file could not be opened (the text is kept).
  int FlushLog(int mode);

  LogStream& log() { return log_; }
  uint32_t CurrentState();
  // True after a failed start: the process ends with status 1.
  bool start_failed() const { return start_failed_.load(); }

 private:
  // Sets the state (exit code, check point and wait hint 0) and reports it.
  bool SetState(uint32_t state);
  bool ReportStatus();
  void LogStartLines();
  // The failed start's line in the run log and the journal, flushed.
  void LogStartFailure();
  // The stop procedure on a worker no one else can reach any more.
  void EndWorker(CReadThread& worker);
  std::chrono::milliseconds PaceInterval();
  // On the worker, after each tick and each reload.
  void OnTickDone();
  // failure: why the reload kept the previous rules (reloaded false).
  void OnReloadDone(bool reloaded, const std::string& failure);
  // Takes the installation's engine lock (kept until the service object
  // ends). Returns false after logging and showing who holds it.
  bool LockInstallation();

  RuleServiceOptions options_;
  std::unique_ptr<host::StatusReporter> own_reporter_;
  host::StatusReporter* reporter_;
  std::unique_ptr<host::JournalSink> own_journal_;

  std::mutex status_mutex_;
  host::ServiceStatus status_;

  LogStream log_;

  std::mutex worker_mutex_;
  std::condition_variable worker_changed_;
  std::unique_ptr<CReadThread> worker_;  // guarded by worker_mutex_
  bool running_ = false;                 // guarded by worker_mutex_
  bool stop_requested_ = false;          // guarded by worker_mutex_
  std::chrono::milliseconds firing_interval_{0};
  // The pacing interval, read again after a reload.
  std::atomic<std::chrono::milliseconds::rep> pace_ms_{0};
  RunLogTally tally_at_last_tick_;  // guarded by status_mutex_
  std::atomic<bool> start_failed_{false};
  InstallationLock engine_lock_;
};

// Flushes the run log of the process's service object (the first one built
// and still alive). Returns 0 when there is none or the file could not be
// opened.
int FlushLog(int mode);

}  // namespace vigilo
