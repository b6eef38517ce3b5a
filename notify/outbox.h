// Outbox: the durable queue every notification passes through on its way to
// the mail systems, a spool directory ("vgoutbox" in the server directory)
// holding one file per message.
//
// A message is written atomically (temporary file, sync, rename, sync of the
// directory) before its record is flagged, and removed only after the mail
// systems took it, so a crash at any point neither loses it nor makes the
// engine compose it again. A file's name says how far its message got:
//   ID.new  written, but its record's flag may not be in the flag table yet;
//   ID.msg  flagged: waiting for delivery (first try or a retry).
// IDs sort in the order the messages were written. A message that has left
// (delivered, or given up) is named in the delivered list, and its file kept
// for a new message (notify/delivered_list.h). The files are plain text
// (header lines, a blank line, the body), so an administrator can read them;
// vgqueue lists, retries and drops them. A file counts as an entry only when
// the Id and Length lines it holds match its name and the body's length
// (files of earlier versions have neither), so neither a file a crash cut
// short nor one written over a spare's older text passes for a message.
// A file that is no entry (damaged) is moved by the engine into the
// "quarantine" folder of the outbox, where vgqueue lists it apart.
//
// The outbox may hold any number of messages: its readers go through the
// names (EntryNames) and read one entry at a time (Read), never all of them.
// The engine and vgqueue change a message only under its lock
// (notify/outbox_lock.h).
//
// Not thread-safe: one engine (one thread) works an outbox at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <string>
#include <vector>

#include "notify/delivered_list.h"
#include "notify/outbox_lock.h"

namespace vigilo {

// The outbox directory's name in the server directory, and the folder in it
// that holds damaged files.
inline constexpr const char* kOutboxDirectory = "vgoutbox";
inline constexpr const char* kQuarantineDirectory = "quarantine";
// No entry is larger: a larger file is damaged, and is not read into memory.
inline constexpr size_t kMaxEntryBytes = size_t{16} << 20;

struct OutboxEntry {
  std::string id;             // file name without extension; set by Add
  bool flagged = false;       // ".msg" (true) or ".new" (false)
  int32_t rule_id = 0;
  long long record = 0;       // the record's FormID
  std::string table_id;       // project key + "\" + table name
  std::string database_name;  // DBNAME of the internal mail rows
  std::string subject;
  std::string recipients;     // addresses still to be served, joined by ","
  std::string body;
  std::time_t created = 0;
  int attempts = 0;             // failed delivery attempts so far
  std::time_t next_attempt = 0; // not tried again before this time
  std::string last_transport;   // "SMTP", "MAPI" or "ORVIK" of the last failure
  std::string last_error;       // one line
};

// The file text of an entry, and back. Parse returns std::nullopt for a text
// that is no outbox entry, with *why saying what is wrong with it when given.
std::string SerializeOutboxEntry(const OutboxEntry& entry);
std::optional<OutboxEntry> ParseOutboxEntry(const std::string& text, std::string* why = nullptr);
// What the header lines of a text that is no entry still tell (rule, record,
// table, id); std::nullopt when they name no rule and record.
std::optional<OutboxEntry> ParseOutboxHeaders(const std::string& text);

class Outbox {
 public:
  // The outbox of a server directory.
  static std::string DirectoryOf(const std::string& server_dir);

  explicit Outbox(std::string directory);

  const std::string& directory() const { return directory_; }

  // Writes a new, not yet flagged entry and sets entry.id. Creates the
  // directory when missing. With sync the entry is durable on return;
  // without, it is durable after the next successful Sync() (so a batch of
  // entries costs one flush of the disk, not one each). Returns false with
  // *error set when the message could not be written (nothing is left behind
  // then). held, when given, gets the message's lock, taken before its file
  // is written (empty when it cannot be taken): while it is held, nobody
  // else has changed the message.
  bool Add(OutboxEntry& entry, std::string* error, bool sync = true,
           OutboxLocks::Held* held = nullptr);
  // Makes every entry written so far durable (one flush of the file system
  // that holds the outbox). Returns false with *error set when the flush
  // failed: the entries written since the last Sync may not survive a crash.
  bool Sync(std::string* error);
  // Renames the entry to ".msg" once its record is flagged.
  bool MarkFlagged(OutboxEntry& entry, std::string* error);
  // Replaces the entry's file with its current state (after an attempt).
  bool Update(const OutboxEntry& entry, std::string* error);
  // Removes the entry's file. A file already gone counts as removed.
  bool Remove(const OutboxEntry& entry, std::string* error);
  // The entry has left the outbox (delivered, or given up): from now on it
  // counts as removed, and its file is kept for a new entry. When that
  // cannot be noted, the file is removed at once (as Remove).
  bool Retire(const OutboxEntry& entry, std::string* error);
  // Clears what Retire, or a crash after it, left: the engine calls it at a
  // tick's start and end.
  void Settle();

  // Every entry in the order written, but for those the delivered list
  // names. Files that cannot be read or parsed
  // are left alone and named in *unreadable when it is given; with
  // drop_cut_short (the engine at a tick's start), a ".new" file a crash cut
  // short is removed instead.
  std::vector<OutboxEntry> List(std::vector<std::string>* unreadable = nullptr,
                                bool drop_cut_short = false) const;
  // One entry by id (either state), or std::nullopt.
  std::optional<OutboxEntry> Find(const std::string& id) const;

  // The file names ("ID.msg", "ID.new") of the entries in the order written,
  // but for those the delivered list names. Only the names are held.
  std::vector<std::string> EntryNames() const;
  // Reads the entry of one file name. kGone: the file is no longer there;
  // kDamaged: it is no entry (*why says why, *text holds what was read, at
  // most kMaxEntryBytes).
  enum class ReadStatus { kRead, kGone, kDamaged };
  ReadStatus Read(const std::string& name, OutboxEntry& entry, std::string* why = nullptr,
                  std::string* text = nullptr) const;
  // Moves a damaged file into the quarantine folder (under a new name when
  // its own is taken there); *moved_to gets its path there.
  bool Quarantine(const std::string& name, std::string* moved_to, std::string* error);
  // The files in the quarantine folder, sorted.
  std::vector<std::string> QuarantinedNames() const;
  // Whether the entry's file is still there and not retired.
  bool Exists(const OutboxEntry& entry) const;
  // The lock of one message (outbox_lock.h).
  OutboxLocks::Held Lock(const std::string& id, std::string* error = nullptr);
  static std::string IdOf(const std::string& name);

  std::string PathOf(const OutboxEntry& entry) const;

 private:
  bool WriteAtomically(const std::string& path, const std::string& text, std::string* error,
                       bool sync = true);
  std::string NewId();

  std::string directory_;
  bool directory_ready_ = false;  // made (or found) by this object
  int pid_;                       // in every id this process gives
  unsigned sequence_ = 0;
  std::unique_ptr<DeliveredList> delivered_;  // made by the first Retire
  std::unique_ptr<OutboxLocks> locks_;         // opened by the first Lock
  // The delivered list's ids. The list only grows between two Settles, so
  // only the lines appended since the last look are read: a tick that
  // delivers n messages reads it once in all, not n times.
  const std::set<std::string>& DeliveredIds() const;
  void ReadDeliveredList(bool whole, const struct stat& st) const;
  mutable std::set<std::string> delivered_ids_;
  mutable std::pair<ino_t, off_t> delivered_stamp_{0, -1};
  mutable off_t delivered_read_ = 0;  // bytes of whole lines taken in
  mutable std::string delivered_head_;  // its first line, to tell a new list
};

// The wait before the next attempt after `attempts` failed ones: first_delay,
// doubled with every further failure, at most kMaxRetryDelay.
inline constexpr std::time_t kMaxRetryDelay = 3600;
std::time_t RetryDelay(int attempts, std::time_t first_delay);

}  // namespace vigilo
