// The notify action over one watched table: for each notification rule, the
// records that newly meet its condition are read back with the rule's report
// columns, each becomes one message (subject, audit trail, field lines) that
// the mail sender delivers to the rule's recipients, the records are flagged,
// and a "Sending notification" block goes to the run log.
//
// The table's database work (selection, flags, retrieval) comes through
// NotifyTableAccess, so the action runs the same on a project database and on
// a test's stand-in. Runs on the engine's worker thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/date_settings.h"
#include "data/field_def.h"
#include "data/rule.h"

namespace vigilo {

class CMailSender;
class LogStream;

// One retrieved record.
class NotifyRow {
 public:
  virtual ~NotifyRow() = default;
  // The column's value as text; std::nullopt when the result has no column
  // of that name. Throws DbException on a driver error.
  virtual std::optional<std::string> Text(std::string_view column) = 0;
};

class NotifyTableAccess {
 public:
  virtual ~NotifyTableAccess() = default;
  // FormIDs of the records that newly meet the rule's condition, decimal,
  // joined by "," (empty when none; errors are logged by the selection).
  virtual std::string FindNewRecords(const CNotifyRule& rule) = 0;
  // Flags every positive FormID of the list for the rule.
  virtual void InsertFlags(const std::string& list, int32_t rule_id) = 0;
  // Runs the retrieval statement: its first row, or nullptr when there is
  // none. Throws DbException.
  virtual std::unique_ptr<NotifyRow> Retrieve(const std::string& statement) = 0;
};

// What the action needs to know of the table.
struct NotifyTableInfo {
  std::string table_id;    // project key + "\" + table name
  std::string table_from;  // the table as named after FROM
  std::string table_name;
  int32_t db_type = 0;
  const std::vector<CFieldDef>* fields = nullptr;  // definition order
  DateSettings date_settings;
  LogStream* log = nullptr;
  CMailSender* mail_sender = nullptr;
};

using NotifyRuleList = std::optional<std::vector<std::unique_ptr<CNotifyRule>>>;

// Runs every rule of the list once, in order. Returns 0 when the list is
// absent, else 1. A database error ends only the rule it occurs in (logged
// with the context "While Retrieving Records For Notification, ...").
int RunNotifyRules(NotifyRuleList& rules, const NotifyTableInfo& table,
                   NotifyTableAccess& access);

// The FormIDs of a selection text, in order: each number before a "," (when
// the "," is past the first character), then the rest; numbers of 0 or below
// are left out.
std::vector<long> SplitFormIds(std::string_view list);

}  // namespace vigilo
