// The notify action and the notification-rule preparation of a watched table
// (CProjectTable): they join the table's names, field definitions, database
// and selection operations (FindNewRecords, InsertFlags) to the notify code.
// CProjectTable::NotifyRecords runs RunTableNotifications; the table's
// preparation of a notification rule ends with PrepareNotifyRecipients.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "notify/database_notify_access.h"

namespace vigilo {

class CNotifyRule;
class CProjectTable;

// The notify action's access to a watched table: the selection and the flags
// are the table's own, records are read on its project's database.
class ProjectTableAccess : public DatabaseNotifyAccess {
 public:
  // REQUIRES: the table's project database stays open while this is used.
  explicit ProjectTableAccess(CProjectTable& table);

  std::string FindNewRecords(const CNotifyRule& rule) override;
  void InsertFlags(const std::string& list, int32_t rule_id) override;
  bool FlagRecord(long long form_id, int32_t rule_id) override;
  bool EnsureFlag(long long form_id, int32_t rule_id) override;
  std::vector<bool> FlagRecords(const std::vector<long long>& form_ids, int32_t rule_id) override;
  bool RemoveFlag(long long form_id, int32_t rule_id) override;

 private:
  CProjectTable& table_;
};

// Runs the table's notification rules once on its project's open database,
// selecting and flagging records through the table. Returns 0 when the table
// has no notification rule list, else 1.
int RunTableNotifications(CProjectTable& table);

// Flags one record for a notification rule: the record's message is in the
// outbox. With ensure, nothing is written when the flag is there already (a
// message a crash left behind). Returns false when the flag could not be
// written (logged as a flag insert is).
bool FlagOneRecord(CProjectTable& table, long long form_id, int32_t rule_id, bool ensure);

// Flags several records for a notification rule: for each whether its flag
// is written. On dBase files in one statement; should that fail part way
// (the engine writes row by row), each record is made sure of one by one, as
// on servers, where each is one statement.
std::vector<bool> FlagRecords(CProjectTable& table, const std::vector<long long>& form_ids,
                              int32_t rule_id);

// At rule load, after the rule's selection: its report column list (from the
// table INI, the table's report file and its field definitions), then its
// recipients (through the table's mail sender).
void PrepareNotifyRecipients(CProjectTable& table, CNotifyRule& rule);

}  // namespace vigilo
