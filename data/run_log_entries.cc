#include "data/run_log_entries.h"

#include <cctype>
#include <string>

namespace vigilo {
namespace {

enum class Kind { kOther, kError, kNotice, kUpdate, kNotification };

struct Head {
  std::string_view text;
  Kind kind;
};

// Lines that open an entry of their own, and what that entry is.
constexpr Head kHeads[] = {
    {"ODBC Reported Error", Kind::kError},
    {"Mail delivery failed", Kind::kError},
    {"Mail not queued", Kind::kError},
    {"Mail given up", Kind::kError},
    {"Error loading MAPI32.DLL", Kind::kError},
    {"Unable to ", Kind::kError},
    {"Vigilo Service failed to start", Kind::kError},
    {"Invalid date value", Kind::kError},
    {"Rules not reloaded", Kind::kError},
    {"Rules reloaded", Kind::kNotice},
    {"Vigilo Service Version", Kind::kNotice},
    {"Starting Vigilo Service", Kind::kNotice},
    {"ORVIK PROJECTS", Kind::kNotice},
    {"Updating records", Kind::kUpdate},
    {"Sending notification", Kind::kNotification},
};

const Head* HeadOf(std::string_view line) {
  for (const Head& head : kHeads) {
    if (line.substr(0, head.text.size()) == head.text) return &head;
  }
  return nullptr;
}

int PriorityOf(Kind kind) {
  switch (kind) {
    case Kind::kError: return host::kJournalError;
    case Kind::kNotice: return host::kJournalNotice;
    default: return host::kJournalInfo;
  }
}

// The number after the first "Rule ID : ", or "" when there is none.
std::string RuleIdOf(std::string_view text) {
  constexpr std::string_view kMark = "Rule ID : ";
  size_t at = text.find(kMark);
  if (at == std::string_view::npos) return "";
  std::string digits;
  for (size_t i = at + kMark.size(); i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    digits += text[i];
  }
  return digits;
}

class EntryBuilder {
 public:
  EntryBuilder(std::string_view project, RunLogTally* tally,
               std::vector<host::JournalEntry>* out)
      : project_(project), tally_(tally), out_(out) {}

  void Line(std::string_view line) {
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
      Finish();
      return;
    }
    const Head* head = HeadOf(line);
    if (head != nullptr) Finish();
    if (message_.empty()) kind_ = head != nullptr ? head->kind : Kind::kOther;
    if (!message_.empty()) message_ += "\n";
    message_ += line;
  }

  void Finish() {
    if (message_.empty()) return;
    host::JournalEntry entry;
    entry.priority = PriorityOf(kind_);
    std::string rule = RuleIdOf(message_);
    if (!rule.empty()) entry.fields.emplace_back("VIGILO_RULE_ID", rule);
    if (!project_.empty()) entry.fields.emplace_back("VIGILO_PROJECT", std::string(project_));
    entry.message = std::move(message_);
    message_.clear();
    if (tally_ != nullptr) {
      if (kind_ == Kind::kError) ++tally_->errors;
      if (kind_ == Kind::kUpdate) ++tally_->updates;
      if (kind_ == Kind::kNotification) ++tally_->notifications;
    }
    out_->push_back(std::move(entry));
  }

 private:
  std::string_view project_;
  RunLogTally* tally_;
  std::vector<host::JournalEntry>* out_;
  std::string message_;
  Kind kind_ = Kind::kOther;
};

}  // namespace

std::vector<host::JournalEntry> RunLogJournalEntries(std::string_view text,
                                                     std::string_view project,
                                                     RunLogTally* tally) {
  std::vector<host::JournalEntry> entries;
  EntryBuilder builder(project, tally, &entries);
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    builder.Line(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  builder.Finish();
  return entries;
}

}  // namespace vigilo
