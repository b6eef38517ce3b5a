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
//
// Not thread-safe: one engine (one thread) works an outbox at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "notify/delivered_list.h"

namespace vigilo {

// The outbox directory's name in the server directory.
inline constexpr const char* kOutboxDirectory = "vgoutbox";

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
// that is no outbox entry.
std::string SerializeOutboxEntry(const OutboxEntry& entry);
std::optional<OutboxEntry> ParseOutboxEntry(const std::string& text);

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
  // then).
  bool Add(OutboxEntry& entry, std::string* error, bool sync = true);
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

  std::string PathOf(const OutboxEntry& entry) const;

 private:
  bool WriteAtomically(const std::string& path, const std::string& text, std::string* error,
                       bool sync = true);
  std::string NewId();

  std::string directory_;
  bool directory_ready_ = false;  // made (or found) by this object
  unsigned sequence_ = 0;
  std::unique_ptr<DeliveredList> delivered_;  // made by the first Retire
};

// The wait before the next attempt after `attempts` failed ones: first_delay,
// doubled with every further failure, at most kMaxRetryDelay.
inline constexpr std::time_t kMaxRetryDelay = 3600;
std::time_t RetryDelay(int attempts, std::time_t first_delay);

}  // namespace vigilo
