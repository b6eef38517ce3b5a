// The notification operation of a watched table. Its body lives with the
// notify action (table_notify.cc); this file holds only the member, so the
// table's own source file need not know the notify code.
#include "service/project_table.h"
#include "service/table_notify.h"

namespace vigilo {

int CProjectTable::NotifyRecords() { return RunTableNotifications(*this); }

}  // namespace vigilo
