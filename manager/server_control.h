// ServerControl: the rule manager's in-process server. It runs the service's
// own engine (CReadThread) on a worker thread beside the window, drives it
// with a one-minute timer, shows its state in the status bar and in the
// "Vigilo Server" status window, and makes closing the program wait until the
// worker has stopped.
//
// Stopped (no worker) -> Start -> Running (timer 1 posts a firing tick every
// minute) -> Stop -> Stopping (timer 2 waits for the running tick to end)
// -> Stopped. A close request while Running or Stopping stops the server and
// closes the main window once the stop has finished.
//
// The engine is the daemon's: the same rule loading, flag tables and run log
// vglog.ini of the installation. Its messages reach the supervisor through
// the manager's Prompts (marshalled to the user-interface thread when they
// come from a tick) and its log, never through a process-wide sink. Like the
// daemon and `vgservice --once`, the server takes the installation's engine
// lock for as long as its engine lives, so no two engines fire the same
// rules.
//
// The toolkit's part (the window, its timers, the status window) is behind
// ServerWindow, so the control runs in tests without a display and with
// timers the test fires itself.
//
// Thread-safety: every member is called on the user-interface thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "data/log_stream.h"
#include "manager/prompts.h"
#include "service/installation_lock.h"
#include "service/read_thread.h"

namespace vigilo {

inline constexpr const char* kMailSectionMissingMessage =
    "Unable to run Vigilo Server.\nMail section does not exist in morvik.ini.";
inline constexpr const char* kServerStatusTitle = "Vigilo Server";
inline constexpr const char* kServerStatusInitialText = "Vigilo Server is Running.";
inline constexpr const char* kServerStartingText = "Vigilo service is starting...";
inline constexpr const char* kServerStoppingText = "Vigilo service is stopping...";
inline constexpr const char* kServerRunningPane = "Vigilo Server is running.";
inline constexpr const char* kServerStoppedPane = "Vigilo Server is stopped.";
// The status bar pane that shows the server's state.
inline constexpr int kServerPane = 1;

enum ServerTimerId : int {
  kFireTimer = 1,     // one firing tick per interval while running
  kStopTimer = 2,     // a stop waiting for the running tick to end
  kReleaseTimer = 3,  // a stopped worker waiting for its thread to end
  kStatusTimer = 4,   // the status window kept in sight after a start or stop
};

// What the server needs of the main window. All calls come on the user-
// interface thread, except PostToUi.
class ServerWindow {
 public:
  virtual ~ServerWindow() = default;

  virtual bool IsMinimized() const = 0;
  // Creates the status window when it does not exist, sets its text, shows
  // and repaints it. Returns false when the window could not be created.
  virtual bool ShowStatusWindow(const std::string& text) = 0;
  virtual void DestroyStatusWindow() = 0;
  virtual void SetPaneText(int pane, const std::string& text) = 0;
  // Applies the commands' enable rules for the server's state.
  virtual void SetServerRunning(bool running) = 0;
  virtual void RepaintMainWindow() = 0;
  // Asks the main window to close again (not from inside its close request).
  virtual void CloseMainWindow() = 0;

  // Starts (or restarts) timer id; OnTimer(id) follows every interval.
  virtual void StartTimer(int id, std::chrono::milliseconds interval) = 0;
  virtual void KillTimer(int id) = 0;

  // Runs the task on the user-interface thread soon; callable from any
  // thread. Tasks may be dropped when the window is gone.
  virtual void PostToUi(std::function<void()> task) = 0;
};

struct ServerControlOptions {
  std::chrono::milliseconds fire_interval{60000};
  std::chrono::milliseconds stop_poll_interval{2000};
  std::chrono::milliseconds release_poll_interval{100};
  // How long the status window stays after the start or stop it tells of,
  // so the supervisor sees it (a start may take no time at all).
  std::chrono::milliseconds status_linger{1500};
  // Builds the (suspended) worker; null means the service's CReadThread.
  std::function<std::unique_ptr<CReadThread>(LogStream*)> worker_factory;
  // Path of the run log; null means vglog.ini in the server directory.
  LogStream::PathProvider log_path;
  // Path of the engine lock file; null means vigilo.lock in the server
  // directory.
  std::function<std::string()> lock_path;
};

class ServerControl {
 public:
  ServerControl(Prompts& prompts, ServerWindow& window, ServerControlOptions options = {});
  // A server still running is stopped here, waiting for its tick to end.
  ~ServerControl();
  ServerControl(const ServerControl&) = delete;
  ServerControl& operator=(const ServerControl&) = delete;

  // Start Vigilo Server. Does nothing while running. Refused with a message
  // when morvik.ini has no "Mail" keys, when another engine holds the
  // installation's lock, or when the engine initialisation fails (the
  // engine shows its own message then).
  void Start();
  // Stop Vigilo Server; finishes at once when no tick runs, else when the
  // running tick has ended (checked on timer 2).
  void Stop();
  void OnTimer(int id);

  // May the program close now? No while a worker runs: the stop begins and
  // the main window is closed again when it has finished.
  bool CanClose();

  bool running() const { return running_; }
  bool stopping() const { return stopping_; }
  bool close_pending() const { return close_pending_; }
  // The running worker; null when stopped.
  CReadThread* worker() const { return worker_.get(); }
  // True while a stopped worker's thread has not been released yet.
  bool releasing() const { return retiring_ != nullptr; }
  LogStream& log() { return log_; }

 private:
  void ShowStatus(const std::string& text);
  // The status window goes when kStatusTimer fires, not in the same event
  // pass that showed it.
  void LingerStatus();
  void FinishStop();
  // Releases a stopped worker whose thread has ended (wait: block until it
  // has), and with it the installation's lock.
  void ReleaseStoppedWorker(bool wait);
  // The engine's message channel.
  void Report(std::string_view text);
  void ShowEngineMessage(const std::string& text);

  Prompts& prompts_;
  ServerWindow& window_;
  ServerControlOptions options_;
  const std::thread::id ui_thread_;
  LogStream log_;
  InstallationLock lock_;
  std::unique_ptr<CReadThread> worker_;
  std::unique_ptr<CReadThread> retiring_;  // stopped, its thread ending
  bool starting_ = false;  // inside Start, whose messages run the event loop
  bool running_ = false;
  bool stopping_ = false;
  bool close_pending_ = false;
  bool message_open_ = false;
  // Cleared on destruction, so messages still queued for the UI thread are
  // dropped instead of reaching a control that is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vigilo
