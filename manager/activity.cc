#include "manager/activity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>

#include "common/file_system.h"
#include "common/format.h"
#include "data/server_paths.h"
#include "notify/outbox.h"
#include "service/history_command.h"

namespace vigilo {

ActivityLog::ActivityLog(std::string server_dir) : server_dir_(std::move(server_dir)) {}

ActivitySnapshot ActivityLog::Read(std::optional<int32_t> rule_filter, size_t ticks,
                                   size_t actions) {
  ActivitySnapshot snapshot;
  const std::string path = FiringHistory::PathOf(server_dir_);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    try {
      FiringHistory history;
      history.OpenForReading(path);
      snapshot.ticks = history.LastTicks(ticks);
      HistoryFilter filter;
      filter.rule_id = rule_filter;
      filter.limit = actions;
      snapshot.actions = history.Actions(filter);
    } catch (const std::exception& error) {
      snapshot.problem = std::string("The firing history cannot be read: ") + error.what();
    }
  }
  // Read each second: the depth is counted from the names, and only the
  // oldest messages, those failing longest, are read for their failures.
  const Outbox outbox(Outbox::DirectoryOf(server_dir_));
  const std::vector<std::string> names = outbox.EntryNames();
  snapshot.outbox_depth = static_cast<long>(names.size());
  std::time_t latest_failure = 0;
  for (size_t i = 0; i < names.size() && i < kActivityOutboxReads; ++i) {
    OutboxEntry entry;
    if (outbox.Read(names[i], entry) != Outbox::ReadStatus::kRead || entry.attempts == 0) continue;
    ++snapshot.outbox_failing;
    if (entry.next_attempt >= latest_failure) {
      latest_failure = entry.next_attempt;
      snapshot.outbox_last_error = entry.last_transport + ": " + entry.last_error;
    }
  }
  return snapshot;
}

std::string ActivityLog::NewLogText(size_t tail_bytes) {
  const std::string path = server_dir_ + "/vglog.ini";
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return {};
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return {};
  off_t from = log_offset_;
  if (from < 0 || st.st_ino != log_inode_ || st.st_size < from) {
    // A new file, or one cut short: start at its tail.
    from = st.st_size > static_cast<off_t>(tail_bytes) ? st.st_size - tail_bytes : 0;
  }
  std::string text(static_cast<size_t>(st.st_size - from), '\0');
  const ssize_t read = ReadFullAt(fd.get(), text.data(), text.size(), from);
  if (read < 0) return {};
  text.resize(static_cast<size_t>(read));
  log_inode_ = st.st_ino;
  log_offset_ = from + read;
  std::string lines;
  lines.reserve(text.size());
  for (char c : text) {
    if (c != '\r') lines += c;
  }
  return lines;
}

std::string TickSummary(const TickRecord& tick) {
  return HistoryTimeText(tick.started) + " " + tick.runner +
         Format(" %.1f s", static_cast<double>(tick.duration_ms) / 1000.0);
}

std::string ActivityServerDirectory() {
  const bool written_back = DefaultsWrittenBack();
  SetDefaultsWrittenBack(false);
  std::string dir = CServerPaths(CServerPaths::Program::kManager).server_dir;
  SetDefaultsWrittenBack(written_back);
  return dir;
}

}  // namespace vigilo
