#include "platform/sql/sqlite_error.h"

#include <string>

namespace vigilo::sql {

DbException SqliteError(sqlite3* db, int rc) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int extended = db ? sqlite3_extended_errcode(db) : rc;
  if (message.empty()) message = sqlite3_errstr(rc);
  std::string state = (rc & 0xff) == SQLITE_CONSTRAINT ? "23000" : "HY000";
  return DbException(message, state, extended);
}

}  // namespace vigilo::sql
