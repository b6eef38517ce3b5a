// The notify action over one watched table: for each notification rule, the
// records that newly meet its condition are read back with the rule's report
// columns (a batch of records a statement where the table's access allows,
// else one record a statement), each becomes one message (subject, audit trail, field lines), and
// record by record the message goes into the mail sender's outbox, the
// record is flagged, and the message is delivered. A "Sending notification"
// block goes to the run log. A record that cannot be read or composed is
// logged with its FormID and skipped (left unflagged); the rule goes on.
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
  // Moves to the result's next row: false past the last one, or when the
  // row was read alone (NotifyTableAccess::RetrievesBatches). Throws
  // DbException on a driver error.
  virtual bool Next() { return false; }
};

class NotifyTableAccess {
 public:
  virtual ~NotifyTableAccess() = default;
  // FormIDs of the records that newly meet the rule's condition, decimal,
  // joined by "," (empty when none; errors are logged by the selection).
  virtual std::string FindNewRecords(const CNotifyRule& rule) = 0;
  // Flags every positive FormID of the list for the rule.
  virtual void InsertFlags(const std::string& list, int32_t rule_id) = 0;
  // Flags one record for the rule. Returns false when the flag could not be
  // written (logged). By default through InsertFlags.
  virtual bool FlagRecord(long long form_id, int32_t rule_id);
  // Flags several records for the rule, in one statement where the database
  // allows: for each FormID whether its flag is written. By default one
  // FlagRecord each.
  virtual std::vector<bool> FlagRecords(const std::vector<long long>& form_ids, int32_t rule_id);
  // Makes sure the record is flagged for the rule (nothing is written when it
  // already is). Returns false when that could not be made sure. By default
  // FlagRecord.
  virtual bool EnsureFlag(long long form_id, int32_t rule_id);
  // Removes the record's flag for the rule, so that the rule composes its
  // message again (the message was lost to a damaged outbox file). Returns
  // false when it could not be removed (logged). By default nothing is done.
  virtual bool RemoveFlag(long long form_id, int32_t rule_id);
  // Runs the retrieval statement: its first row, or nullptr when there is
  // none. Throws DbException.
  virtual std::unique_ptr<NotifyRow> Retrieve(const std::string& statement) = 0;
  // Whether the rows Retrieve returns move on with NotifyRow::Next, so that
  // one statement reads a batch of records. False by default: each record
  // is then read by a statement of its own.
  virtual bool RetrievesBatches() const { return false; }
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

// "While Retrieving Record For Notification, Rule ID : %ld , Record# %lld\r\n"
// "    SQL        : %s\r\n\r\n": the context of a record that is skipped.
std::string NotifyRecordErrorContext(int32_t rule_id, long long form_id,
                                     std::string_view selection);

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
