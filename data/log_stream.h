// LogStream: the run log's text buffer and the stream every part of the
// service writes its entries into, and the flush that appends or recreates
// the run log file vglog.ini in the server directory.
//
// Text collects in memory and reaches the file only at the flush points
// (start, after each firing tick, when the worker ends). The buffer starts at
// 5000 bytes and grows when a tick writes more, so no entry is ever lost and
// the flush points stay where they are. Text written while the file cannot
// be opened stays in the buffer until a flush succeeds.
//
// The stream also carries the message reporter of whoever runs the engine:
// entries that are messages as well (LogMessage with quiet false) reach the
// user through it. The daemon's own reporter writes where the journal does
// (standard error, which systemd puts in the journal): with a journal set, a
// message that is in the run log reaches the user as its journal entry only,
// so a foreground run shows it once.
//
// Each flush also hands the new entries to the journal (when one is set),
// with their priority and the project they were written for, and counts what
// they did (RunLogTally), also when the file cannot be written. The first
// recreating flush of a stream keeps the file it replaces as vglog.ini.1, and
// an append that takes the file past its size limit moves it to vglog.ini.1
// and puts an empty vglog.ini in its place at once; older generations move
// down to .2 and .3 (as many as SetRotation says). The rule service itself
// only appends, so runs accumulate in one file until it reaches its limit.
//
// Thread-safety: every member may be called from any thread; writes and
// flushes are serialised by an internal lock, so the host's error lines and
// the worker's entries never tear each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/message_reporter.h"
#include "data/run_log_entries.h"
#include "platform/host/journal.h"

namespace vigilo {

class DbException;

// Flush modes.
inline constexpr int kLogAppend = 0;
inline constexpr int kLogRecreate = 1;

// Size the buffer is first given; more text makes it grow.
inline constexpr size_t kLogBufferSize = 5000;

// Size past which the log file is rotated, unless the settings say otherwise,
// and how many earlier files are kept.
inline constexpr uint64_t kDefaultLogMaxSize = 10 * 1024 * 1024;
inline constexpr int kLogGenerations = 3;

class LogStream {
 public:
  // Gives the path of the log file at each flush. The default builds the
  // settings and names "vglog.ini" in their server directory.
  using PathProvider = std::function<std::string()>;

  LogStream();
  // A null reporter means the daemon's (one line on standard error).
  explicit LogStream(PathProvider path_provider, MessageReporter reporter = nullptr);
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  // Appends text as it is (no line end added).
  void Write(std::string_view text);
  // Appends text that goes to the file only: the journal already has it
  // (the engine repeating the host's start lines).
  void WriteFileOnly(std::string_view text);
  // Sends an entry to the journal alone, after the entries written so far.
  void SendToJournal(const host::JournalEntry& entry);
  LogStream& operator<<(std::string_view text) {
    Write(text);
    return *this;
  }

  // Writes the collected text to the file: recreating it (kLogRecreate) or
  // appending to it (kLogAppend), creating it when missing. Returns true, also
  // when nothing was collected (the file is then not touched). Returns false
  // when the file could not be opened, was locked by another program, or
  // could not be written; the text then stays for the next flush.
  bool Flush(int mode);

  // The text collected since the last successful flush.
  std::string Text() const;
  bool IsEmpty() const;

  // Where the next flush writes.
  std::string FilePath() const;

  // Shows text as a message through the stream's reporter.
  void Report(std::string_view text) const;
  // Shows text that has been written to the run log as well: through the
  // reporter, unless it is the daemon's own and the journal gets the text.
  void ReportLogged(std::string_view text) const;
  const MessageReporter& reporter() const { return reporter_; }

  // Where flushed entries also go; null (the default) means nowhere. The
  // journal is not owned and must outlive the stream's last flush.
  void SetJournal(host::JournalSink* journal);
  // Entries written from now on belong to this project (empty: to none).
  void SetProject(std::string_view project);
  // Rotate the file once an append leaves it at max_bytes or more (0: never),
  // keeping that many earlier files.
  void SetRotation(uint64_t max_bytes, int generations = kLogGenerations);
  // What the entries flushed so far did, since the stream was built.
  RunLogTally tally() const;
  // The last error entry handed to the journal, or the last message shown,
  // whichever came later: the reason a failed start gives.
  std::string LastProblem() const;

 private:
  // Sends the text not yet journaled to the journal and counts it.
  void JournalPendingLocked();
  // The first recreate of a stream: moves the existing file to generation 1.
  // Returns false when another program holds the file.
  bool KeepPreviousLocked(const std::string& path);

  PathProvider path_provider_;
  const bool daemon_reporter_;      // reporter_ writes to standard error
  MessageReporter reporter_;
  mutable std::mutex mutex_;
  std::string buffer_;

  // Guarded by mutex_.
  host::JournalSink* journal_ = nullptr;
  size_t journaled_ = 0;            // bytes of buffer_ already journaled
  std::string project_;             // project of text written now
  std::string journaled_project_;   // project in effect at journaled_
  std::vector<std::pair<size_t, std::string>> project_marks_;  // offset, project
  RunLogTally tally_;
  mutable std::string last_problem_;
  uint64_t max_size_ = kDefaultLogMaxSize;
  int generations_ = kLogGenerations;
  bool kept_previous_ = false;      // the first recreate has kept the old file
};

// The engine's writer: writes the text and "\r\n". With quiet false the text
// is also shown as a message through the log's reporter.
void LogMessage(LogStream* log, std::string_view text, bool quiet);

// The driver's text of a database error as the log shows it: at most 298
// characters, then the last character (the driver's line feed) removed.
std::string DriverMessage(const DbException& error);

// The database error entry:
// "ODBC Reported Error (%s) : %s \r\n    Query   : %s\r\n\r\n" (context,
// driver message, statement). Writes nothing when error is null.
void LogDbError(LogStream* log, const DbException* error, std::string_view context,
                std::string_view statement);

// The default log file path: "vglog.ini" in the settings' server directory.
std::string DefaultLogFilePath();

}  // namespace vigilo
