// The notify action and the notification-rule preparation of a watched table
// (CProjectTable): they join the table's names, field definitions, database
// and selection operations (FindNewRecords, InsertFlags) to the notify code of
// this folder. CProjectTable::NotifyRecords (notify_records.cc) runs
// RunTableNotifications; the table's preparation of a notification rule ends
// with PrepareNotifyRecipients.
#pragma once

namespace vigilo {

class CNotifyRule;
class CProjectTable;

// Runs the table's notification rules once on its project's open database,
// selecting and flagging records through the table. Returns 0 when the table
// has no notification rule list, else 1.
int RunTableNotifications(CProjectTable& table);

// At rule load, after the rule's selection: its report column list (from the
// table INI, the table's report file and its field definitions), then its
// recipients (through the table's mail sender).
void PrepareNotifyRecipients(CProjectTable& table, CNotifyRule& rule);

}  // namespace vigilo
