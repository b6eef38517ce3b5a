#include "manager/server_control.h"

#include <utility>

#include "common/ini_profile.h"
#include "data/firing_history.h"
#include "data/server_paths.h"

namespace vigilo {

ServerControl::ServerControl(Prompts& prompts, ServerWindow& window, ServerControlOptions options)
    : prompts_(prompts),
      window_(window),
      options_(std::move(options)),
      ui_thread_(std::this_thread::get_id()),
      log_(options_.log_path, [this](std::string_view text) { Report(text); }) {}

ServerControl::~ServerControl() {
  *alive_ = false;
  if (worker_) {
    // The program is ending without a stop: the worker finishes its tick
    // and ends itself, or ends at once when idle.
    worker_->stop_flag.store(1);
    worker_->Post(host::kQuitMessage, 0, 0);
    worker_->Wait();
    worker_.reset();
  }
  ReleaseStoppedWorker(/*wait=*/true);
}

void ServerControl::Start() {
  // A message box shown while starting runs the event loop, where the Start
  // command is still enabled; a second engine must not begin there.
  if (worker_ || starting_) return;
  starting_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{starting_};
  // A worker stopped a moment ago is between ticks; it ends at once.
  ReleaseStoppedWorker(/*wait=*/true);

  CServerPaths paths(CServerPaths::Program::kManager);
  if (GetProfileKeys(paths.orvik_ini_path, "Mail").empty()) {
    prompts_.Message(kMailSectionMissingMessage, PromptIcon::kWarning);
    return;
  }
  std::string why;
  const std::string lock_path = options_.lock_path ? options_.lock_path()
                                                   : InstallationLock::PathFor(paths.server_dir);
  if (!lock_.Acquire(lock_path, &why)) {
    prompts_.Message(why, PromptIcon::kWarning);
    return;
  }

  std::unique_ptr<CReadThread> worker = options_.worker_factory
                                            ? options_.worker_factory(&log_)
                                            : std::make_unique<CReadThread>(&log_);
  worker->clears_name_lists = false;
  worker->runner = kRunnerManager;
  // The engine shows why it cannot start (no rules, no mail provider)
  // through the log's reporter while it initialises on this thread.
  if (!worker->InitEngine()) {
    worker.reset();
    lock_.Release();
    return;
  }

  ShowStatus(kServerStartingText);
  worker->Resume();
  worker_ = std::move(worker);
  window_.SetPaneText(kServerPane, kServerRunningPane);
  running_ = true;
  window_.SetServerRunning(true);
  LingerStatus();
  window_.RepaintMainWindow();

  worker_->Post(CReadThread::kFireRulesMessage, 1, 0);
  window_.StartTimer(kFireTimer, options_.fire_interval);
}

void ServerControl::Stop() {
  if (!worker_ || stopping_) return;
  stopping_ = true;
  ShowStatus(kServerStoppingText);
  window_.KillTimer(kFireTimer);
  // A tick still queued behind the running one must not start after the
  // stop: with the stop flag set the worker ends itself after its tick.
  worker_->stop_flag.store(1);
  if (worker_->busy_flag.load() == 0) {
    FinishStop();
  } else {
    window_.StartTimer(kStopTimer, options_.stop_poll_interval);
  }
}

void ServerControl::OnTimer(int id) {
  switch (id) {
    case kFireTimer:
      if (worker_) worker_->Post(CReadThread::kFireRulesMessage, 1, 0);
      break;
    case kStopTimer:
      if (!worker_) {
        window_.KillTimer(kStopTimer);
      } else if (worker_->busy_flag.load() == 0) {
        window_.KillTimer(kStopTimer);
        FinishStop();
      }
      break;
    case kReleaseTimer:
      ReleaseStoppedWorker(/*wait=*/false);
      if (!retiring_) window_.KillTimer(kReleaseTimer);
      break;
    case kStatusTimer:
      window_.KillTimer(kStatusTimer);
      window_.DestroyStatusWindow();
      break;
    default:
      break;
  }
}

void ServerControl::FinishStop() {
  worker_->Post(host::kQuitMessage, 0, 0);
  retiring_ = std::move(worker_);
  running_ = false;
  stopping_ = false;
  window_.SetServerRunning(false);
  LingerStatus();
  window_.RepaintMainWindow();
  window_.SetPaneText(kServerPane, kServerStoppedPane);

  ReleaseStoppedWorker(/*wait=*/false);
  if (retiring_) window_.StartTimer(kReleaseTimer, options_.release_poll_interval);

  if (close_pending_) {
    close_pending_ = false;
    window_.CloseMainWindow();
  }
}

void ServerControl::ReleaseStoppedWorker(bool wait) {
  if (!retiring_) return;
  if (wait) {
    retiring_->Wait();
  } else if (retiring_->IsAlive()) {
    return;
  }
  // Its destructor writes what the last tick left in the run log.
  retiring_.reset();
  lock_.Release();
}

bool ServerControl::CanClose() {
  if (!worker_) return true;
  if (worker_->ExitCode() != host::kStillActive) return true;
  close_pending_ = true;
  Stop();
  return false;
}

void ServerControl::LingerStatus() {
  window_.StartTimer(kStatusTimer, options_.status_linger);
}

void ServerControl::ShowStatus(const std::string& text) {
  if (window_.IsMinimized()) return;
  window_.ShowStatusWindow(text);
}

void ServerControl::Report(std::string_view text) {
  if (std::this_thread::get_id() == ui_thread_) {
    prompts_.Message(std::string(text));
    return;
  }
  // From a tick: the worker goes on; the message waits for the window.
  std::weak_ptr<bool> alive = alive_;
  window_.PostToUi([this, alive, message = std::string(text)] {
    if (auto token = alive.lock(); token && *token) ShowEngineMessage(message);
  });
}

void ServerControl::ShowEngineMessage(const std::string& text) {
  // The log holds every message; while one box is open, ticks that repeat a
  // failure do not pile further boxes onto the supervisor.
  if (message_open_) return;
  message_open_ = true;
  prompts_.Message(text);
  message_open_ = false;
}

}  // namespace vigilo
