// The SQL function vg_not_listed, which answers the rule selection's
// "x NOT IN (SELECT FormID FROM flags WHERE RuleID =n)" from the engine's
// indexes, one look-up per row, instead of the list SQLite would build on
// every run (a temporary B-tree of every record the rule has fired on).
//
//   vg_not_listed(x, 'table', 'column', 'key column', n)
//
// gives what x NOT IN (SELECT column FROM table WHERE key column = n) gives
// (1, 0 or NULL), or 2 when it cannot answer (no such file or columns, a
// column that holds no integers, an error reading the file); the statement
// then evaluates the NOT IN itself. The dialect rewriter writes the call.
#pragma once

#include <sqlite3.h>

#include "platform/sql/dbf_vtab.h"

namespace vigilo::sql {

inline constexpr const char* kNotListedFunction = "vg_not_listed";

// Registers the function on db; ctx must outlive db.
int RegisterNotListedFunction(sqlite3* db, DbaseContext* ctx);

}  // namespace vigilo::sql
