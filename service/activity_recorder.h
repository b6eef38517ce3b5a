// ActivityRecorder: the engine's observer of its own ticks. It collects the
// actions and selections a tick reports (data/activity.h) and, when the tick
// ends, writes them with the tick's row to the firing history in one
// transaction, prunes rows older than HISTORY_DAYS, and writes the metrics
// file when METRICS_FILE names one.
//
// Nothing here may fail or hold up a tick: the history is opened on first
// use, and a history or metrics file that cannot be written is one run-log
// line (said again only after it has worked in between); the tick goes on.
//
// Owned by the worker (CReadThread) and used on the thread that runs ticks.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "data/activity.h"
#include "data/firing_history.h"
#include "service/metrics_file.h"

namespace vigilo {

class LogStream;

class ActivityRecorder : public ActivityObserver {
 public:
  struct Options {
    std::string history_path;   // the history file; empty: no history
    std::string metrics_path;   // empty: no metrics file
    long history_days = kDefaultHistoryDays;
    std::string runner = kRunnerDaemon;
    LogStream* log = nullptr;   // run log: failures, and the tick's errors
    std::function<OutboxState()> outbox;  // read only for the metrics
  };

  // Options from vigtab.ini (HISTORY_DAYS, METRICS_FILE) of the program INI
  // and the history file of the server directory.
  static Options OptionsFor(const std::string& program_ini_path, const std::string& server_dir);

  explicit ActivityRecorder(Options options);

  void BeginTick();
  void EndTick();

  void OnAction(const ActionEvent& event) override;
  void OnSelected(int32_t rule_id, long count) override;

  // The last tick's row as written (for tests and the status line).
  const TickRecord& last_tick() const { return tick_; }

 private:
  bool EnsureHistory();
  void WriteHistory();
  void WriteMetrics();
  // One run-log line per failure streak of a kind.
  void Failed(bool& reported, const char* what, const std::string& why);

  Options options_;
  FiringHistory history_;
  bool history_failed_ = false;  // a failure was logged, no success since
  bool metrics_failed_ = false;
  std::time_t last_prune_ = 0;
  HistoryTotals totals_;
  bool totals_loaded_ = false;

  TickRecord tick_;
  std::vector<ActionEvent> actions_;
  std::map<int32_t, long> selected_;
  std::chrono::steady_clock::time_point tick_start_;
  size_t log_offset_ = 0;  // the run-log text before the tick
};

}  // namespace vigilo
