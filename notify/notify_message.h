// The texts of the notify action: the message a newly matching record becomes
// (subject, body header, one line per shown field), the audit-trail limit,
// the database name handed to the internal mail table, how a field's value is
// shown, and the run-log entries of the notify path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/date_settings.h"
#include "data/field_def.h"

namespace vigilo {

// One composed notification, as the notify action hands it over.
struct NotifyMessage {
  int32_t rule_id = 0;
  long long record = 0;
  std::string table_id;
  std::string database_name;
  std::string subject;
  std::string body;
  std::string recipients;  // addresses joined by ","
};

// At most this many characters of the audit trail are shown as they are; a
// longer one shows its first 255 characters and "...".
inline constexpr size_t kAuditTrailLimit = 256;

std::string AuditTrailText(std::string_view audit_trail);

// "SELECT %s FROM %s WHERE FormID =%ld"
std::string RetrievalStatement(std::string_view columns, std::string_view table_from,
                               long form_id);

// "%s\r\n\r\nDetailed Description of the record\r\n\r\nTable : %s \r\nRuleID : %d\r\n\r\n"
std::string MessageBodyHeader(std::string_view audit_trail, std::string_view table_id,
                              int32_t rule_id);
// "%s : %s\r\n"
std::string MessageFieldLine(std::string_view name, std::string_view value);
// "VIGILO Rule# %ld , Record# %ld of %s"
std::string MessageSubject(int32_t rule_id, long record_number, std::string_view table_id);

// The table name, with ".DBF" appended for a project in dBase files (kind 0).
std::string MessageDatabaseName(std::string_view table_name, int32_t db_type);

// "( Rule ID : %ld )\r\n    Query      : %s\r\n    SQL        : %s\r\n"
std::string NotifyRuleSummary(int32_t rule_id, std::string_view last_statement,
                              std::string_view selection);
// "While Retrieving Records For Notification, Rule ID : %ld\r\n    SQL        : %s\r\n\r\n"
std::string NotifyErrorContext(int32_t rule_id, std::string_view selection);
// "Sending notification" + summary + "    Records        :" + FormIDs + "\r\n" +
// "    Notified Users :" + recipients + "\r\n\r\n"
std::string SendingNotificationBlock(std::string_view summary, std::string_view form_ids,
                                     std::string_view recipients);

// The text shown for a field of a record, from the column's text as read:
//   1, 7: whole number "%ld";  2: "%f";
//   3 (date): an eight-digit date CCYYMMDD, or a date the database writes
//     ("YYYY-MM-DD", the user's short date, MM/DD/YYYY), as "%m/%d/%Y";
//     anything else as it is;
//   11: seconds since 1970 as local "%m/%d/%Y %H:%M:%S" ("" stays "");
//   12: the first 19 characters; when they hold a date and time, the
//     picture the flags & 0x1800 choose: 0x800 "%m/%d/%Y", 0x1000
//     "%H:%M:%S", 0x1800 both, 0 the cut text;
//   others: the text without trailing blanks.
std::string FieldValueText(std::string_view text, const CFieldDef& field,
                           const DateSettings& date_settings);

}  // namespace vigilo
