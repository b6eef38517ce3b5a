// The notify action and the notification-rule preparation of a watched table
// (CProjectTable), joining the table's names, fields, database and selection
// operations to the notify code of this folder.
//
// CProjectTable::NotifyRecords is RunTableNotifications with the table's field
// definitions and its FindNewRecords / InsertFlags; the preparation of a
// notification rule at load time ends with PrepareNotifyRecipients.
#pragma once

#include <vector>

#include "data/field_def.h"
#include "notify/database_notify_access.h"

namespace vigilo {

class CNotifyRule;
class CProjectTable;

// Runs the table's notification rules once on its project's open database.
// Returns 0 when the table has no notification rule list, else 1.
int RunTableNotifications(CProjectTable& table, const std::vector<CFieldDef>& fields,
                          DatabaseNotifyAccess::FindFunction find,
                          DatabaseNotifyAccess::FlagFunction flag);

// At rule load, after the rule's selection: its report column list (from the
// table INI, the table's report file and its fields), then its recipients
// (through the table's mail sender).
void PrepareNotifyRecipients(CProjectTable& table, const std::vector<CFieldDef>& fields,
                             CNotifyRule& rule);

}  // namespace vigilo
