// CThread and CReadThread: the rule service's worker, on which every firing
// tick runs.
//
// The host creates the worker suspended, runs InitEngine on it from the
// service main thread (settings, mail-system provider, rules, project
// listing), then resumes it and posts it kFireRulesMessage once per firing
// interval. Each accepted message runs one tick (FireRules) and flushes the
// run log. A reload message, which the message queue delivers between two
// ticks, reads the settings and the rule table again (ReloadEngine). The pause, stop and busy flags are shared with the control
// handler. The worker owns the settings, the MAPI binding, the mail sender and
// the projects; the log stream belongs to the service object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/rule.h"
#include "platform/host/worker_thread.h"
#include "service/project.h"
#include "service/source_resolvers.h"

namespace vigilo {

class ActivityRecorder;
class CMailSender;
class CServerPaths;
class LogStream;
struct MapiPlugin;

// The worker-thread base: the settings and the mail sender of the engine.
class CThread : public host::WorkerThread {
 public:
  CThread();
  ~CThread() override;

  std::unique_ptr<CServerPaths> settings;  // created by InitEngine
  CMailSender* mail_sender = nullptr;      // created by InitEngine; owned by CReadThread
};

class CReadThread : public CThread {
 public:
  // One firing tick: WM_USER + 100, posted with wparam 1 and lparam 0.
  static constexpr uint32_t kFireRulesMessage = host::kUserMessage + 100;
  // Read the settings and the rule table again, between two ticks.
  static constexpr uint32_t kReloadMessage = host::kUserMessage + 101;

  explicit CReadThread(LogStream* log);
  // Deletes the projects, flushes the run log (append), ends the provider
  // session, unloads the provider, deletes the mail sender and the settings
  // and empties the user and group name lists (unless clears_name_lists is
  // false).
  // REQUIRES: the thread has ended or never ran.
  ~CReadThread() override;

  // The engine initialisation, on the suspended worker. Returns 1 on
  // success; 0 when the mail-system provider is missing or incomplete or no
  // rule could be loaded (startup_message was then shown and cleared).
  virtual int InitEngine();

  // One firing tick over every project.
  virtual void FireRules();

  // The reload: the firing interval, the run log's size limit, the user and
  // group names and the rule table are read again and the new projects
  // replace the old ones. Returns 1 then; when no rule can be loaded the
  // previous projects and rules stay in force, the run log says why, and 0
  // is returned. The mail sender, its provider session and the run log are
  // kept as they are.
  virtual int ReloadEngine();

  // The tick handler: drops the tick when busy or paused; otherwise runs it,
  // flushes the run log and, when the stop flag was set, ends the thread.
  void OnFireRules();

  // Loads the rule table (a dBase file) into projects, tables and rules.
  // Returns 1 when rules were loaded, 0 otherwise (startup_message and
  // error_detail are then set as the failure requires).
  int LoadRules(const std::string& rule_table_path);
  // Places one rule record in its project and table.
  void AddRule(const CRule& record);
  // The project of that key, created and appended when new; null only when
  // the project array does not exist.
  CProject* FindOrCreateProject(int32_t db_type, const std::string& dsn,
                                const std::string& project_name);
  // Writes the list of projects, tables and rule ids to the run log and
  // closes each project's database after listing it.
  void WriteProjectListing();

  // Called on the worker after each tick's run log flush, and after each
  // reload with its result; set before the worker is resumed.
  std::function<void()> tick_done;
  std::function<void(bool reloaded)> reload_done;
  // Why the last reload kept the previous rules; empty after one that worked.
  std::string reload_failure;

  std::atomic<int32_t> pause_flag{0};
  std::atomic<int32_t> stop_flag{0};
  std::atomic<int32_t> busy_flag{0};
  std::atomic<uint32_t> firing_interval{0};  // seconds
  LogStream* log;
  // Null until InitEngine creates it; in first-rule order.
  std::optional<std::vector<std::unique_ptr<CProject>>> projects;
  std::string error_detail;
  std::string startup_message;
  // How project sources and table names are resolved.
  SourceResolvers resolvers;
  // The daemon's name lists end with its engine; the rule manager filled
  // them at login and keeps using them after its in-process server stopped.
  bool clears_name_lists = true;
  // False when the rules are loaded for a preview that must change nothing
  // (no flag table is created).
  bool creates_flag_tables = true;
  // Who runs the ticks, as the firing history names it (kRunnerDaemon or
  // kRunnerManager).
  std::string runner = "daemon";

  // The bound mail-system provider (null before InitEngine or after a failed
  // one); its functions stay valid as long as the worker lives.
  const MapiPlugin* mapi() const { return mapi_.get(); }

 protected:
  void OnMessage(const host::ThreadMessage& message) override;

  // Binds the mail-system provider (InitEngine steps 3 and 4). Returns 1, or
  // 0 after logging and showing the failure.
  virtual int LoadMailProvider();
  // Makes the recorder of the firing history and the metrics.
  void StartActivityRecorder();

 private:
  std::unique_ptr<MapiPlugin> mapi_;  // the mail-system provider, bound by InitEngine
  // The mail sender that mail_sender points to; the projects hold that pointer.
  std::unique_ptr<CMailSender> mail_sender_owner_;
  // Records each tick in the firing history and the metrics; made by
  // InitEngine, so a preview records nothing.
  std::unique_ptr<ActivityRecorder> activity_;
};

}  // namespace vigilo
