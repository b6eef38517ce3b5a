#include "notify/outbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <time.h>

#include "common/file_system.h"
#include "common/format.h"

namespace vigilo {
namespace {

constexpr const char* kMagic = "Vigilo-Outbox: 1";
constexpr const char* kNewSuffix = ".new";
constexpr const char* kFlaggedSuffix = ".msg";

std::string ErrnoText(const std::string& what, const std::string& path) {
  return FileErrorText(path, what, errno);
}

bool EndsWith(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// A renamed file survives a crash only once its directory is synced.
bool SyncDirectory(const std::string& dir) {
  UniqueFd fd(Files().Open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return false;
  return Files().Sync(fd.get()) == 0;
}

long long NumberOf(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

}  // namespace

std::string SerializeOutboxEntry(const OutboxEntry& entry) {
  std::string text;
  text.reserve(entry.body.size() + entry.subject.size() + entry.recipients.size() + 400);
  text = kMagic;
  text += "\n";
  auto line = [&text](const char* key, const std::string& value) {
    text += key;
    text += ": ";
    const size_t start = text.size();
    text += value;
    // Header values are single lines: a line break in one would end the
    // header.
    std::replace(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), '\r', ' ');
    std::replace(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), '\n', ' ');
    text += "\n";
  };
  if (!entry.id.empty()) line("Id", entry.id);
  line("Rule", std::to_string(entry.rule_id));
  line("Record", std::to_string(entry.record));
  line("Table", entry.table_id);
  line("Database", entry.database_name);
  line("Subject", entry.subject);
  line("Recipients", entry.recipients);
  line("Created", std::to_string(static_cast<long long>(entry.created)));
  line("Attempts", std::to_string(entry.attempts));
  line("Next-Attempt", std::to_string(static_cast<long long>(entry.next_attempt)));
  line("Last-Transport", entry.last_transport);
  line("Last-Error", entry.last_error);
  line("Length", std::to_string(entry.body.size()));
  text += "\n";
  text += entry.body;
  return text;
}

namespace {

// Reads the header lines of text into entry. strict: the text must be a whole
// entry (magic line, blank line, a body of the length its Length line says);
// otherwise every "Key: value" line up to the first blank one counts. Returns
// false with *why set when the text is no entry (strict) or tells neither
// rule nor record.
bool ParseHeaders(const std::string& text, bool strict, OutboxEntry& entry, std::string* why) {
  auto fail = [why](const char* reason) {
    if (why) *why = reason;
    return false;
  };
  if (text.empty()) return fail("the file is empty");
  size_t end = text.find("\n\n");
  if (strict) {
    if (text.compare(0, std::strlen(kMagic), kMagic) != 0) return fail("no outbox entry");
    if (end == std::string::npos) return fail("cut short in its header");
    entry.body = text.substr(end + 2);
  } else if (end == std::string::npos) {
    end = text.size();
  }
  size_t pos = text.find('\n');
  pos = pos == std::string::npos ? text.size() : pos + 1;
  bool has_rule = false, has_record = false;
  while (pos < end + 1 && pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    size_t colon = line.find(": ");
    if (colon == std::string::npos) {
      colon = line.find(':');
      if (colon == std::string::npos) {
        if (strict) return fail("a header line without a key");
        continue;
      }
    }
    std::string key = line.substr(0, colon);
    std::string value = line.substr(std::min(line.size(), colon + 2));
    if (line.size() == colon + 1) value.clear();
    if (key == "Id") {
      entry.id = value;
    } else if (key == "Length") {
      // A file cut short, or one written over older text, is no entry. The
      // number is only compared, never trusted for a size.
      if (strict && NumberOf(value) != static_cast<long long>(entry.body.size())) {
        return fail("its body is not of the length its header says");
      }
    } else if (key == "Rule") {
      entry.rule_id = static_cast<int32_t>(NumberOf(value));
      has_rule = true;
    } else if (key == "Record") {
      entry.record = NumberOf(value);
      has_record = true;
    } else if (key == "Table") {
      entry.table_id = value;
    } else if (key == "Database") {
      entry.database_name = value;
    } else if (key == "Subject") {
      entry.subject = value;
    } else if (key == "Recipients") {
      entry.recipients = value;
    } else if (key == "Created") {
      entry.created = static_cast<std::time_t>(NumberOf(value));
    } else if (key == "Attempts") {
      entry.attempts = static_cast<int>(NumberOf(value));
    } else if (key == "Next-Attempt") {
      entry.next_attempt = static_cast<std::time_t>(NumberOf(value));
    } else if (key == "Last-Transport") {
      entry.last_transport = value;
    } else if (key == "Last-Error") {
      entry.last_error = value;
    }
  }
  if (!has_rule || !has_record) return fail("it names no rule and record");
  return true;
}

}  // namespace

std::optional<OutboxEntry> ParseOutboxEntry(const std::string& text, std::string* why) {
  OutboxEntry entry;
  if (!ParseHeaders(text, /*strict=*/true, entry, why)) return std::nullopt;
  return entry;
}

std::optional<OutboxEntry> ParseOutboxHeaders(const std::string& text) {
  OutboxEntry entry;
  if (!ParseHeaders(text, /*strict=*/false, entry, nullptr)) return std::nullopt;
  return entry;
}

std::string Outbox::DirectoryOf(const std::string& server_dir) {
  return server_dir + "/" + kOutboxDirectory;
}

Outbox::Outbox(std::string directory)
    : directory_(std::move(directory)), pid_(static_cast<int>(::getpid())) {}

std::string Outbox::PathOf(const OutboxEntry& entry) const {
  return directory_ + "/" + entry.id + (entry.flagged ? kFlaggedSuffix : kNewSuffix);
}

std::string Outbox::NewId() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // Time first, so names sort in the order written; the process and a
  // sequence keep two names of one moment apart.
  return Format("%010lld%09ld-%d-%u", static_cast<long long>(now.tv_sec), now.tv_nsec,
                pid_, ++sequence_);
}

bool Outbox::WriteAtomically(const std::string& path, const std::string& text,
                             std::string* error, bool sync) {
  const std::string temp = path + ".tmp";
  UniqueFd fd(OpenPrivateFile(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC));
  if (!fd.valid()) {
    if (error) *error = ErrnoText("cannot create", temp);
    return false;
  }
  const char* failed = nullptr;
  if (!WriteAll(fd.get(), text)) {
    failed = "cannot write";
  } else if (sync && Files().Sync(fd.get()) != 0) {
    failed = "cannot sync";
  } else if (!fd.Close()) {
    failed = "cannot close";
  }
  if (failed != nullptr) {
    if (error) *error = ErrnoText(failed, temp);
    fd.reset();
    Files().Unlink(temp);
    return false;
  }
  if (Files().Rename(temp, path) != 0) {
    if (error) *error = ErrnoText("cannot rename", temp);
    Files().Unlink(temp);
    return false;
  }
  if (sync && !SyncDirectory(directory_)) {
    if (error) *error = ErrnoText("cannot sync", directory_);
    return false;
  }
  return true;
}

bool Outbox::Sync(std::string* error) {
  UniqueFd fd(Files().Open(directory_, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || ::syncfs(fd.get()) != 0) {
    if (error) *error = ErrnoText("cannot sync", directory_);
    return false;
  }
  return true;
}

bool Outbox::Add(OutboxEntry& entry, std::string* error, bool sync, OutboxLocks::Held* held) {
  if (!directory_ready_) {
    if (::mkdir(directory_.c_str(), 0750) != 0 && errno != EEXIST) {
      if (error) *error = ErrnoText("cannot create", directory_);
      return false;
    }
    directory_ready_ = true;
  }
  entry.id = NewId();
  entry.flagged = false;
  if (held != nullptr) *held = Lock(entry.id);
  const std::string path = PathOf(entry);
  bool written;
  if (sync) {
    written = WriteAtomically(path, SerializeOutboxEntry(entry), error);
  } else {
    // Written in place: a file a crash cuts short is a ".new" one, whose
    // record was never flagged; List drops it and the record is composed
    // again. Sync() makes the others durable before they are flagged.
    const bool spare = delivered_ && delivered_->TakeSpare(path);
    UniqueFd fd(spare ? Files().Open(path, O_WRONLY | O_CLOEXEC)
                      : OpenPrivateFile(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC));
    const std::string text = SerializeOutboxEntry(entry);
    // A spare's longer old text is cut off after the new one.
    struct stat old {};
    written = fd.valid() && (!spare || Files().Stat(fd.get(), &old) == 0) &&
              WriteAll(fd.get(), text) &&
              (old.st_size <= static_cast<off_t>(text.size()) ||
               Files().Truncate(fd.get(), static_cast<off_t>(text.size())) == 0) &&
              fd.Close();
    if (!written && error) *error = ErrnoText(fd.valid() ? "cannot write" : "cannot create", path);
  }
  if (!written) {
    // A rename that happened before a failed directory sync leaves a file:
    // it must not stay behind for a message the caller treats as not queued.
    Files().Unlink(path);
    directory_ready_ = false;
    if (held != nullptr) held->Release();
    return false;
  }
  return true;
}

bool Outbox::MarkFlagged(OutboxEntry& entry, std::string* error) {
  if (entry.flagged) return true;
  const std::string from = PathOf(entry);
  entry.flagged = true;
  // Not synced: should the rename be lost, the next start only checks the
  // flag again and finds it.
  if (Files().Rename(from, PathOf(entry)) != 0) {
    if (error) *error = ErrnoText("cannot rename", from);
    entry.flagged = false;
    return false;
  }
  return true;
}

bool Outbox::Update(const OutboxEntry& entry, std::string* error) {
  return WriteAtomically(PathOf(entry), SerializeOutboxEntry(entry), error);
}

bool Outbox::Remove(const OutboxEntry& entry, std::string* error) {
  if (Files().Unlink(PathOf(entry)) != 0 && errno != ENOENT) {
    if (error) *error = ErrnoText("cannot remove", PathOf(entry));
    return false;
  }
  return true;
}

bool Outbox::Retire(const OutboxEntry& entry, std::string* error) {
  if (!delivered_) delivered_ = std::make_unique<DeliveredList>(directory_);
  if (delivered_->Add(entry.id, PathOf(entry), nullptr)) {
    // The line just appended need not be read back by the next Exists.
    const std::optional<DeliveredList::Append> append = delivered_->LastAppend();
    if (append && delivered_stamp_.first == append->ino &&
        delivered_stamp_.second == append->before && delivered_read_ == append->before) {
      if (append->before == 0) delivered_head_ = entry.id;
      delivered_ids_.insert(entry.id);
      delivered_read_ = append->after;
      delivered_stamp_.second = append->after;
    }
    return true;
  }
  return Remove(entry, error);
}

void Outbox::Settle() {
  if (!delivered_) delivered_ = std::make_unique<DeliveredList>(directory_);
  delivered_->Settle();
}

std::string Outbox::IdOf(const std::string& name) {
  return name.substr(0, name.size() - std::strlen(kFlaggedSuffix));
}

const std::set<std::string>& Outbox::DeliveredIds() const {
  // Read again only when the list changed: a caller asks once a message.
  struct stat st {};
  const std::string path = directory_ + "/" + kDeliveredListFile;
  if (::stat(path.c_str(), &st) != 0) {
    delivered_ids_.clear();
    delivered_stamp_ = {0, -1};
    delivered_read_ = 0;
    delivered_head_.clear();
  } else if (delivered_stamp_.first != st.st_ino || delivered_stamp_.second != st.st_size) {
    // Appended to since the last look (same file, longer): only the new
    // lines; anything else (a list rewritten or made anew) is read whole.
    const bool grown = delivered_stamp_.first == st.st_ino && delivered_read_ > 0 &&
                       st.st_size > delivered_stamp_.second;
    ReadDeliveredList(!grown, st);
  }
  return delivered_ids_;
}

void Outbox::ReadDeliveredList(bool whole, const struct stat& st) const {
  const std::string path = directory_ + "/" + kDeliveredListFile;
  UniqueFd fd(Files().Open(path, O_RDONLY | O_CLOEXEC));
  if (!whole && fd.valid()) {
    // A list made anew under a reused inode begins with other text.
    std::string head(delivered_head_.size() + 1, '\0');
    whole = ReadFullAt(fd.get(), head.data(), head.size(), 0) !=
                static_cast<ssize_t>(head.size()) ||
            head.compare(0, delivered_head_.size(), delivered_head_) != 0 || head.back() != '\n';
  }
  if (whole) {
    delivered_ids_.clear();
    delivered_read_ = 0;
    delivered_head_.clear();
  }
  std::string text;
  if (fd.valid() && st.st_size > delivered_read_) {
    text.resize(static_cast<size_t>(st.st_size - delivered_read_));
    const ssize_t got = ReadFullAt(fd.get(), text.data(), text.size(),
                                   static_cast<uint64_t>(delivered_read_));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  // Whole lines only: a line a crash cut short names nothing.
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    if (end == start) continue;
    std::string id = text.substr(start, end - start);
    if (delivered_head_.empty() && delivered_read_ + static_cast<off_t>(start) == 0) {
      delivered_head_ = id;
    }
    delivered_ids_.insert(std::move(id));
  }
  delivered_read_ += static_cast<off_t>(start);
  // Stamped with what was taken in, so a line still being written is read
  // again, whole, at the next look.
  delivered_stamp_ = {st.st_ino, delivered_read_};
}

std::vector<std::string> Outbox::EntryNames() const {
  std::vector<std::string> names;
  const std::set<std::string>& delivered = DeliveredIds();
  if (DIR* dir = ::opendir(directory_.c_str())) {
    while (dirent* item = ::readdir(dir)) {
      const char* name = item->d_name;
      const size_t length = std::strlen(name);
      if (length <= 4) continue;
      if (std::strcmp(name + length - 4, kNewSuffix) != 0 &&
          std::strcmp(name + length - 4, kFlaggedSuffix) != 0) {
        continue;
      }
      if (!delivered.empty() && delivered.count(std::string(name, length - 4)) != 0) continue;
      names.emplace_back(name, length);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

Outbox::ReadStatus Outbox::Read(const std::string& name, OutboxEntry& entry, std::string* why,
                                std::string* text_out) const {
  const std::string path = directory_ + "/" + name;
  // Non-blocking: a pipe put in the outbox must not stop the reader.
  UniqueFd fd(Files().Open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid()) {
    if (errno == ENOENT) return ReadStatus::kGone;
    if (why) *why = FileErrorText(path, "cannot open", errno);
    return ReadStatus::kDamaged;
  }
  // Read in pieces up to the largest entry, whatever a Length line says: an
  // entry fits in the first piece, so most files cost one read.
  std::string text;
  char piece[16384];
  while (true) {
    const ssize_t got = Files().Read(fd.get(), piece, sizeof piece);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (why) *why = FileErrorText(path, "cannot read", errno);
      return ReadStatus::kDamaged;
    }
    text.append(piece, static_cast<size_t>(got));
    if (text.size() > kMaxEntryBytes) {
      if (why) *why = Format("larger than %zu bytes", kMaxEntryBytes);
      text.resize(sizeof piece);  // the head, for what its header still tells
      if (text_out) *text_out = std::move(text);
      return ReadStatus::kDamaged;
    }
    // A short read of a regular file is its end.
    if (got < static_cast<ssize_t>(sizeof piece)) break;
  }
  std::optional<OutboxEntry> parsed = ParseOutboxEntry(text, why);
  const std::string id = IdOf(name);
  // Text under another id is what is left of a spare (delivered_list.h), or
  // a copy of another message.
  if (parsed && !parsed->id.empty() && parsed->id != id) {
    if (why) *why = "its Id line names message " + parsed->id;
    parsed.reset();
  }
  if (!parsed) {
    if (text_out) *text_out = std::move(text);
    return ReadStatus::kDamaged;
  }
  entry = std::move(*parsed);
  entry.flagged = EndsWith(name, kFlaggedSuffix);
  entry.id = id;
  return ReadStatus::kRead;
}

bool Outbox::Quarantine(const std::string& name, std::string* moved_to, std::string* error) {
  const std::string folder = directory_ + "/" + kQuarantineDirectory;
  if (::mkdir(folder.c_str(), 0750) != 0 && errno != EEXIST) {
    if (error) *error = ErrnoText("cannot create", folder);
    return false;
  }
  std::string target = folder + "/" + name;
  for (int n = 1; Files().Access(target, F_OK) == 0; ++n) {
    target = folder + "/" + name + Format(".%d", n);
  }
  if (Files().Rename(directory_ + "/" + name, target) != 0) {
    if (error) *error = ErrnoText("cannot move", directory_ + "/" + name);
    return false;
  }
  SyncDirectory(directory_);
  if (moved_to) *moved_to = target;
  return true;
}

std::vector<std::string> Outbox::QuarantinedNames() const {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir((directory_ + "/" + kQuarantineDirectory).c_str())) {
    while (dirent* item = ::readdir(dir)) {
      if (item->d_name[0] != '.') names.emplace_back(item->d_name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Outbox::Exists(const OutboxEntry& entry) const {
  return Files().Access(PathOf(entry), F_OK) == 0 && DeliveredIds().count(entry.id) == 0;
}

OutboxLocks::Held Outbox::Lock(const std::string& id, std::string* error) {
  if (!locks_) locks_ = std::make_unique<OutboxLocks>(directory_);
  return locks_->Lock(id, error);
}

std::vector<OutboxEntry> Outbox::List(std::vector<std::string>* unreadable,
                                      bool drop_cut_short) const {
  std::vector<OutboxEntry> entries;
  for (const std::string& name : EntryNames()) {
    OutboxEntry entry;
    switch (Read(name, entry)) {
      case ReadStatus::kRead:
        entries.push_back(std::move(entry));
        break;
      case ReadStatus::kGone:
        break;
      case ReadStatus::kDamaged:
        if (EndsWith(name, kNewSuffix) && drop_cut_short) {
          // Cut short by a crash while it was written: its record was never
          // flagged, so the message is composed again.
          Files().Unlink(directory_ + "/" + name);
        } else if (unreadable) {
          unreadable->push_back(name);
        }
        break;
    }
  }
  return entries;
}

std::optional<OutboxEntry> Outbox::Find(const std::string& id) const {
  if (DeliveredIds().count(id) != 0) return std::nullopt;
  for (const char* suffix : {kFlaggedSuffix, kNewSuffix}) {
    OutboxEntry entry;
    switch (Read(id + suffix, entry)) {
      case ReadStatus::kRead: return entry;
      case ReadStatus::kGone: continue;
      case ReadStatus::kDamaged: return std::nullopt;
    }
  }
  return std::nullopt;
}

std::time_t RetryDelay(int attempts, std::time_t first_delay) {
  std::time_t delay = std::max<std::time_t>(first_delay, 0);
  for (int i = 1; i < attempts && delay < kMaxRetryDelay; ++i) delay *= 2;
  return std::min(delay, std::max(kMaxRetryDelay, first_delay));
}

}  // namespace vigilo
