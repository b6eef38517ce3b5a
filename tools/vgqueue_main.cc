// vgqueue: shows and works the rule service's outbox, the notifications that
// wait for delivery (a mail server that is down, a locked internal mail
// table) in the vgoutbox directory of the server directory.
//
//   vgqueue [--home DIR] [list]   every pending message: id, state, rule,
//                                 record, attempts, next attempt, recipients
//                                 still to be served and the last error
//   vgqueue [--home DIR] retry ID|all
//                                 makes the message(s) due at the next tick
//   vgqueue [--home DIR] drop ID  removes the message; it is never delivered
//
// Messages are read one at a time, so a list of any length takes little
// memory; retry and drop change a message under the lock the engine holds
// while it delivers it, after finding it still waiting.
//
// Exit status: 0 on success, 1 when a message is not found or cannot be
// changed, 2 on a usage error.
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/paths.h"
#include "common/program_info.h"
#include "common/smtp_server.h"
#include "data/server_paths.h"
#include "notify/outbox.h"

namespace {

constexpr const char* kUsage =
    "usage: vgqueue [--home DIR] [list]\n"
    "       vgqueue [--home DIR] retry ID|all\n"
    "       vgqueue [--home DIR] drop ID\n"
    "       vgqueue -h|--help | --version\n"
    "\n"
    "Works the outbox of the rule service (vgoutbox in the server directory).\n"
    "list   the pending messages: id, state (\"queued\", or \"unflagged\" while the\n"
    "       record's flag is not known to be written), rule, record, attempts,\n"
    "       next attempt, the recipients still to be served and the last error\n"
    "retry  makes the message (or every message) due at the next tick\n"
    "drop   removes the message for good; it is never delivered\n"
    "Damaged files the rule service moved aside are listed apart, as quarantined\n"
    "(in vgoutbox/quarantine).\n"
    "  --home DIR  program directory holding vigtab.ini (default: VIGILO_HOME,\n"
    "              else the directory of the installed programs)\n";

int Usage(const std::string& problem) {
  std::cerr << "vgqueue: " << problem << "\n" << kUsage;
  return 2;
}

std::string LocalTime(std::time_t when) {
  if (when == 0) return "now";
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void PrintEntry(const vigilo::OutboxEntry& entry) {
  std::cout << entry.id << "  " << (entry.flagged ? "queued" : "unflagged") << "  rule "
            << entry.rule_id << "  record " << entry.record << "  attempts " << entry.attempts
            << "  next " << LocalTime(entry.next_attempt) << "\n"
            << "    table: " << entry.table_id << "\n"
            << "    subject: " << entry.subject << "\n"
            << "    to: " << entry.recipients << "\n";
  if (!entry.last_error.empty()) {
    // Entries written by older versions may name a server with its password.
    std::cout << "    last error (" << entry.last_transport
              << "): " << vigilo::WithoutUrlCredentials(entry.last_error) << "\n";
  }
}

int List(const vigilo::Outbox& outbox) {
  long pending = 0;
  std::vector<std::string> unreadable;
  for (const std::string& name : outbox.EntryNames()) {
    vigilo::OutboxEntry entry;
    switch (outbox.Read(name, entry)) {
      case vigilo::Outbox::ReadStatus::kRead:
        PrintEntry(entry);
        ++pending;
        break;
      case vigilo::Outbox::ReadStatus::kGone:
        break;
      case vigilo::Outbox::ReadStatus::kDamaged:
        unreadable.push_back(name);
        break;
    }
  }
  for (const std::string& name : unreadable) {
    std::cout << name << "  damaged (moved to the quarantine at the next tick)\n";
  }
  const std::vector<std::string> quarantined = outbox.QuarantinedNames();
  for (const std::string& name : quarantined) {
    std::cout << name << "  quarantined (" << outbox.directory() << "/"
              << vigilo::kQuarantineDirectory << ")\n";
  }
  if (pending == 0 && unreadable.empty() && quarantined.empty()) {
    std::cout << "The outbox " << outbox.directory() << " is empty.\n";
  } else {
    std::cout << "-- " << pending << " message(s) pending in " << outbox.directory();
    if (!quarantined.empty()) std::cout << ", " << quarantined.size() << " quarantined";
    std::cout << "\n";
  }
  return 0;
}

// The message under its lock, found still waiting; std::nullopt (and no
// lock) when it has left or was never there.
std::optional<vigilo::OutboxEntry> FindLocked(vigilo::Outbox& outbox, const std::string& id,
                                              vigilo::OutboxLocks::Held& held,
                                              std::string* error) {
  held = outbox.Lock(id, error);
  if (!held.held()) return std::nullopt;
  std::optional<vigilo::OutboxEntry> entry = outbox.Find(id);
  if (!entry) held.Release();
  return entry;
}

int Retry(vigilo::Outbox& outbox, const std::string& id) {
  int changed = 0;
  std::vector<std::string> ids;
  if (id == "all") {
    for (const std::string& name : outbox.EntryNames()) ids.push_back(vigilo::Outbox::IdOf(name));
  } else {
    ids.push_back(id);
  }
  for (const std::string& one : ids) {
    vigilo::OutboxLocks::Held held;
    std::string error;
    std::optional<vigilo::OutboxEntry> entry = FindLocked(outbox, one, held, &error);
    if (!error.empty()) {
      std::cerr << "vgqueue: " << error << "\n";
      return 1;
    }
    // Delivered or dropped meanwhile: nothing to make due. An unflagged one
    // is the engine's to rename; it is due anyway.
    if (!entry || !entry->flagged) continue;
    entry->next_attempt = 0;
    if (!outbox.Update(*entry, &error)) {
      std::cerr << "vgqueue: " << error << "\n";
      return 1;
    }
    ++changed;
  }
  if (changed == 0 && id != "all") {
    std::cerr << "vgqueue: no message " << id << " in " << outbox.directory() << "\n";
    return 1;
  }
  std::cout << changed << " message(s) due at the next tick\n";
  return 0;
}

int Drop(vigilo::Outbox& outbox, const std::string& id) {
  vigilo::OutboxLocks::Held held;
  std::string error;
  std::optional<vigilo::OutboxEntry> entry = FindLocked(outbox, id, held, &error);
  if (!error.empty()) {
    std::cerr << "vgqueue: " << error << "\n";
    return 1;
  }
  if (!entry) {
    std::cerr << "vgqueue: no message " << id << " in " << outbox.directory() << "\n";
    return 1;
  }
  // Both names: the engine may have renamed it since it was read.
  vigilo::OutboxEntry other = *entry;
  other.flagged = !entry->flagged;
  if (!outbox.Remove(*entry, &error) || !outbox.Remove(other, &error)) {
    std::cerr << "vgqueue: " << error << "\n";
    return 1;
  }
  std::cout << "dropped " << id << " (rule " << entry->rule_id << ", record " << entry->record
            << ")\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A list may run to many thousands of lines: no flush per line.
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      vigilo::PrintVersion("vgqueue");
      return 0;
    }
    if (std::strcmp(argv[i], "--home") == 0) {
      if (i + 1 >= argc) return Usage("--home needs a directory");
      vigilo::SetProgramDirectory(argv[++i]);
      continue;
    }
    args.emplace_back(argv[i]);
  }
  vigilo::CServerPaths settings;
  vigilo::Outbox outbox(vigilo::Outbox::DirectoryOf(settings.server_dir));
  const std::string command = args.empty() ? "list" : args[0];
  if (command == "list" && args.size() <= 1) return List(outbox);
  if (command == "retry" && args.size() == 2) return Retry(outbox, args[1]);
  if (command == "drop" && args.size() == 2) return Drop(outbox, args[1]);
  return Usage("unknown command or wrong number of arguments");
}
