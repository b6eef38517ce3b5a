// FiringHistory: the installation's record of what the engine did, an SQLite
// file (vghistory.db) in the server directory beside the run log. One row per
// tick (when, how long, who ran it, what it did, its errors) and one per
// action on a record (rule, table, record, notify or update, recipients or
// assignments, outcome and error), plus running totals that pruning leaves
// alone, so the metrics' counters only grow.
//
// Only the engine that holds the installation lock writes (OpenForWriting);
// the file is in WAL mode, so readers (vgservice --history and --explain, the
// rule manager) read while it writes. Every call throws DbException on a
// database error; the writer's owner decides what a failure means for a
// tick.
//
// Thread-safety: one object belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/activity.h"
#include "platform/sql/sqlite_file.h"

namespace vigilo {

// The history's file name in the server directory.
inline constexpr const char* kHistoryFileName = "vghistory.db";
// vigtab.ini key of section OPTIONS: days a row is kept.
inline constexpr const char* kHistoryDaysKey = "HISTORY_DAYS";
inline constexpr long kDefaultHistoryDays = 90;

// Who ran a tick.
inline constexpr const char* kRunnerDaemon = "daemon";
inline constexpr const char* kRunnerManager = "manager";

struct TickRecord {
  int64_t id = 0;
  std::time_t started = 0;
  int64_t duration_ms = 0;
  std::string runner;      // kRunnerDaemon or kRunnerManager
  long selected = 0;       // records the rules' selections found
  long updates = 0;        // records updated
  long queued = 0;         // notifications queued
  long delivered = 0;
  long refused = 0;
  long given_up = 0;
  long failed = 0;         // actions that failed (delivery to be retried, update)
  long errors = 0;         // error entries the tick wrote to the run log
  std::string error_text;  // those entries, one per line
};

struct ActionRecord {
  int64_t id = 0;
  int64_t tick = 0;
  ActionEvent event;
};

// What Actions() lists; unset members do not filter.
struct HistoryFilter {
  std::optional<int32_t> rule_id;
  std::optional<long long> record;
  std::string table;        // the table's name or its whole key
  std::time_t since = 0;    // actions at or after this time
  size_t limit = 0;         // 0: all
};

// Counter names of Totals(): "ticks", "errors", "selected", "duration_ms"
// and ACTION ":" OUTCOME (e.g. "notify:delivered"); per rule "selected" and
// the ACTION ":" OUTCOME names.
struct HistoryTotals {
  std::map<std::string, int64_t> all;
  std::map<int32_t, std::map<std::string, int64_t>> by_rule;
};

class FiringHistory {
 public:
  static std::string PathOf(const std::string& server_dir);

  // The writer: creates the file (mode 0640) and its tables when missing.
  void OpenForWriting(const std::string& path);
  // A reader: never writes. Throws when the file does not exist.
  void OpenForReading(const std::string& path);
  bool IsOpen() const { return file_.IsOpen(); }
  void Close() { file_.Close(); }

  // Writes a tick with its actions and adds both to the totals, in one
  // transaction (nothing of it is written when it fails). The selected
  // counts are per rule. Returns the tick's id.
  int64_t WriteTick(const TickRecord& tick, const std::vector<ActionEvent>& actions,
                    const std::map<int32_t, long>& selected_by_rule);
  // Removes the ticks and actions older than the time. Returns the number of
  // actions removed.
  long Prune(std::time_t before);

  // Newest first.
  std::vector<ActionRecord> Actions(const HistoryFilter& filter);
  // The last ticks, newest first.
  std::vector<TickRecord> LastTicks(size_t count);
  HistoryTotals Totals();

 private:
  sql::SqliteFile file_;
};

}  // namespace vigilo
