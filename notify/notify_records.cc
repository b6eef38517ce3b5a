// The notification operation of a watched table. Its body lives with the
// notify action (table_notify.cc); this file holds only the member, so the
// table's own source file need not know the notify code.
#include "notify/table_notify.h"
#include "service/project_table.h"

namespace vigilo {

int CProjectTable::NotifyRecords() { return RunTableNotifications(*this); }

}  // namespace vigilo
