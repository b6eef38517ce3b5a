// The one translator of SQLite result codes into DbException, for the
// embedded dBase engine.
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "platform/sql/database.h"

namespace vigilo::sql {

// The exception for result code rc of a call on db: SQLite's message of the
// failure ending in "\n", SQLSTATE "HY000" (23000 for a constraint), and the
// extended result code as native error.
DbException SqliteError(sqlite3* db, int rc);

}  // namespace vigilo::sql
