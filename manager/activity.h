// ActivityLog: what the main window's activity view shows, read from the
// installation whoever runs the engine (the daemon or the in-process
// server): the last ticks and actions from the firing history, the outbox's
// depth and failures, and the tail of the run log, followed as it grows.
// Reads only; a history or log that cannot be read is said in the result,
// never thrown.
//
// Used on the user-interface thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/firing_history.h"

namespace vigilo {

// The outbox messages the view reads for their failures, the oldest ones: the
// view is read every second, whatever the backlog.
inline constexpr size_t kActivityOutboxReads = 200;

struct ActivitySnapshot {
  std::vector<TickRecord> ticks;      // newest first
  std::vector<ActionRecord> actions;  // newest first, of the rule filter
  long outbox_depth = 0;
  long outbox_failing = 0;            // of the oldest kActivityOutboxReads: with a failed attempt
  std::string outbox_last_error;      // of the most recent failing message
  std::string problem;                // why the history could not be read
};

class ActivityLog {
 public:
  // The installation of a server directory.
  explicit ActivityLog(std::string server_dir);

  // The last ticks, and the last actions of the rule (all rules when unset).
  ActivitySnapshot Read(std::optional<int32_t> rule_filter, size_t ticks = 50,
                        size_t actions = 200);

  // The run-log text added since the last call. The first call, and the
  // first after the file was replaced or cut (a new start, a rotation),
  // gives its last tail_bytes.
  std::string NewLogText(size_t tail_bytes = 16384);

  const std::string& server_dir() const { return server_dir_; }

 private:
  std::string server_dir_;
  ino_t log_inode_ = 0;
  off_t log_offset_ = -1;  // -1: nothing read yet
};

// One tick as the view's lines show it: "2026-05-01 10:00:00 daemon 0.2 s".
std::string TickSummary(const TickRecord& tick);

// The server directory whose activity the main window shows, read without
// writing the settings' defaults back.
std::string ActivityServerDirectory();

}  // namespace vigilo
