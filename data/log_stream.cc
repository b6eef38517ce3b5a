#include "data/log_stream.h"

#include <sys/file.h>

#include <algorithm>
#include <utility>

#include "common/file_system.h"
#include "common/format.h"
#include "data/log_file_rotation.h"
#include "data/server_paths.h"
#include "platform/sql/database.h"

namespace vigilo {

std::string DefaultLogFilePath() {
  CServerPaths settings;
  return settings.server_dir + "/vglog.ini";
}

LogStream::LogStream() : LogStream(PathProvider()) {}

LogStream::LogStream(PathProvider path_provider, MessageReporter reporter)
    : path_provider_(std::move(path_provider)),
      daemon_reporter_(!reporter),
      reporter_(reporter ? std::move(reporter) : StderrMessageReporter()) {
  buffer_.reserve(kLogBufferSize);
}

void LogStream::Write(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  buffer_.append(text);
}

void LogStream::WriteFileOnly(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  JournalPendingLocked();
  buffer_.append(text);
  journaled_ = buffer_.size();
}

void LogStream::SendToJournal(const host::JournalEntry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  JournalPendingLocked();
  if (entry.priority == host::kJournalError) last_problem_ = entry.message;
  if (journal_ != nullptr) journal_->Send(entry);
}

std::string LogStream::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buffer_;
}

bool LogStream::IsEmpty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buffer_.empty();
}

std::string LogStream::FilePath() const {
  return path_provider_ ? path_provider_() : DefaultLogFilePath();
}

void LogStream::Report(std::string_view text) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last_problem_ = text;
  }
  reporter_(text);
}

std::string LogStream::LastProblem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_problem_;
}

void LogStream::ReportLogged(std::string_view text) const {
  if (daemon_reporter_) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (journal_ != nullptr) return;
  }
  reporter_(text);
}

void LogStream::SetJournal(host::JournalSink* journal) {
  std::lock_guard<std::mutex> lock(mutex_);
  journal_ = journal;
}

void LogStream::SetProject(std::string_view project) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (project == project_) return;
  project_ = project;
  project_marks_.emplace_back(buffer_.size(), project_);
}

void LogStream::SetRotation(uint64_t max_bytes, int generations) {
  std::lock_guard<std::mutex> lock(mutex_);
  max_size_ = max_bytes;
  generations_ = generations;
}

RunLogTally LogStream::tally() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tally_;
}

void LogStream::JournalPendingLocked() {
  auto send = [this](size_t from, size_t to, const std::string& project) {
    if (to <= from) return;
    for (const host::JournalEntry& entry :
         RunLogJournalEntries(std::string_view(buffer_).substr(from, to - from), project,
                              &tally_)) {
      if (entry.priority == host::kJournalError) last_problem_ = entry.message;
      if (journal_ != nullptr) journal_->Send(entry);
    }
  };
  size_t from = journaled_;
  std::string project = journaled_project_;
  for (const auto& [offset, name] : project_marks_) {
    send(from, offset, project);
    from = std::max(from, offset);
    project = name;
  }
  send(from, buffer_.size(), project);
  project_marks_.clear();
  journaled_ = buffer_.size();
  journaled_project_ = project_;
}

bool LogStream::KeepPreviousLocked(const std::string& path) {
  // The previous run's file moves aside under its lock, so a program reading
  // it is not disturbed: while it holds the file, this flush waits.
  UniqueFd previous(Files().Open(path, O_WRONLY));
  if (previous.valid()) {
    if (Files().Flock(previous.get(), LOCK_EX | LOCK_NB) != 0) return false;
    struct stat info;
    if (Files().Stat(previous.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      ShiftLogGenerations(path, generations_);
    }
  }
  kept_previous_ = true;
  return true;
}

bool LogStream::Flush(int mode) {
  if (IsEmpty()) return true;
  // The settings are read outside the lock: building them touches files.
  const std::string path = FilePath();

  std::lock_guard<std::mutex> lock(mutex_);
  if (buffer_.empty()) return true;
  // The journal gets the entries even when the file cannot take them.
  JournalPendingLocked();
  if (mode == kLogRecreate && !kept_previous_ && !KeepPreviousLocked(path)) return false;
  UniqueFd fd(OpenPrivateFile(path, O_WRONLY | O_CREAT));
  if (!fd.valid()) return false;
  // Not shared: a program holding a lock on the log makes this flush wait
  // for the next one. Truncation comes only after the lock is ours.
  if (Files().Flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  if (mode == kLogRecreate) {
    if (Files().Truncate(fd.get(), 0) != 0) return false;
  } else if (Files().Seek(fd.get(), 0, SEEK_END) < 0) {
    return false;
  }
  if (!WriteAll(fd.get(), buffer_)) return false;
  buffer_.clear();
  journaled_ = 0;
  struct stat written;
  if (mode == kLogAppend && max_size_ > 0 && Files().Stat(fd.get(), &written) == 0 &&
      static_cast<uint64_t>(written.st_size) >= max_size_) {
    // The lock we hold keeps readers out while the name moves; the new file
    // is there at once, for tail -F and for the tools that read the log.
    if (generations_ <= 0) {
      Files().Truncate(fd.get(), 0);
    } else if (ShiftLogGenerations(path, generations_)) {
      UniqueFd fresh(Files().Open(path, O_WRONLY | O_CREAT | O_EXCL, 0644));
    }
  }
  if (buffer_.capacity() > 4 * kLogBufferSize) {
    // A tick that wrote a lot does not keep its memory for ever.
    std::string().swap(buffer_);
    buffer_.reserve(kLogBufferSize);
  }
  return true;
}

void LogMessage(LogStream* log, std::string_view text, bool quiet) {
  if (log != nullptr) {
    std::string line(text);
    line += "\r\n";
    log->Write(line);
  }
  if (quiet) return;
  if (log != nullptr) {
    log->ReportLogged(text);
  } else {
    StderrMessageReporter()(text);
  }
}

std::string DriverMessage(const DbException& error) {
  std::string message = error.Message().substr(0, 298);
  if (!message.empty()) message.pop_back();
  return message;
}

void LogDbError(LogStream* log, const DbException* error, std::string_view context,
                std::string_view statement) {
  if (error == nullptr || log == nullptr) return;
  log->Write(Format("ODBC Reported Error (%s) : %s \r\n    Query   : %s\r\n\r\n",
                    std::string(context).c_str(), DriverMessage(*error).c_str(),
                    std::string(statement).c_str()));
}

}  // namespace vigilo
