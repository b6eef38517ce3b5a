// JournalSink: where the service's run-log entries go besides the run log
// file, so an administrator sees them where the daemon runs.
//
// An entry carries a syslog priority (LOG_ERR for what failed, LOG_INFO for
// actions) and fields of its own (VIGILO_RULE_ID, VIGILO_PROJECT) that
// journalctl can match. SystemJournal() picks the destination once: the
// systemd journal when systemd started the process, standard error with a
// level prefix otherwise (a terminal, a shell script, cron), so a foreground
// run shows what it does. Tests put their own sink in its place. A sink may
// be called from any thread.
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

// True when systemd started this process with its output going to the
// journal (JOURNAL_STREAM or INVOCATION_ID set, and built with libsystemd).
bool UnderSystemdJournal();

// The systemd journal when UnderSystemdJournal(), standard error otherwise.
std::unique_ptr<JournalSink> SystemJournal();

// Writes each entry to the file descriptor fd as text: the first line after
// its level ("error: ", "warning: ", "notice: ", "info: "), further lines
// indented by two blanks. One write per entry, so threads do not interleave.
std::unique_ptr<JournalSink> TextJournal(int fd);

// The prefix of a priority in TextJournal's lines, e.g. "error: ".
const char* LevelPrefix(int priority);

}  // namespace vigilo::host
