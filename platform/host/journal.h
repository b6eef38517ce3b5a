// JournalSink: where the service's run-log entries go besides the run log
// file, so an administrator finds them with journalctl.
//
// An entry carries a syslog priority (LOG_ERR for what failed, LOG_INFO for
// actions) and fields of its own (VIGILO_RULE_ID, VIGILO_PROJECT) that
// journalctl can match. SystemJournal() writes through sd_journal_sendv when
// the process was started by systemd and does nothing otherwise, so a shell
// or a test run leaves the machine's journal alone; tests put their own sink
// in its place. A sink may be called from any thread.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vigilo::host {

// Priorities as syslog numbers them.
inline constexpr int kJournalError = 3;
inline constexpr int kJournalWarning = 4;
inline constexpr int kJournalNotice = 5;
inline constexpr int kJournalInfo = 6;

struct JournalEntry {
  int priority = kJournalInfo;
  std::string message;  // the entry's text, line ends as "\n"
  // Further fields, name (upper case, journal rules) and value.
  std::vector<std::pair<std::string, std::string>> fields;
};

class JournalSink {
 public:
  virtual ~JournalSink() = default;
  // Sends one entry. Returns false only when the journal refused it.
  virtual bool Send(const JournalEntry& entry) = 0;
};

// The systemd journal when started by systemd (INVOCATION_ID set) and built
// with libsystemd; otherwise a sink that drops every entry.
std::unique_ptr<JournalSink> SystemJournal();

}  // namespace vigilo::host
