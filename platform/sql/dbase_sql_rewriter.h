// Rewrites the dBase SQL dialect the system writes into SQLite's dialect, token
// by token, for the embedded dBase engine:
//   #MM/DD/CCYY#               -> 'CCYY-MM-DD' (dates are read as that text)
//   DATE()                      -> today's local date as 'CCYY-MM-DD'
//   col + 'x', 'x' + col        -> col || 'x' (string concatenation)
//   col =NULL, col <> NULL      -> a test that also takes a blank field as NULL
//   "dir\FILE.DBF"              -> kept as a table name (a file of the engine)
//   "text" (any other)          -> 'text' (a string literal)
//   UPDATE t SET t.col = v      -> UPDATE t SET col = v
//   TO, VALUES and other keywords used as column names -> "TO", "VALUES"
//   IN (SELECT DISTINCT ...)    -> IN (SELECT ...) (unless LIMIT or OFFSET):
//                                  the same set, without a temporary B-tree
//   x NOT IN (SELECT c FROM t WHERE k = n) in a SELECT
//                               -> a look-up in t's indexes per row, falling
//                                  back on the NOT IN
// [FROM]-style names need no change: SQLite accepts them.
#pragma once

#include <string>
#include <string_view>

namespace vigilo::sql {

// Returns the statement in SQLite's dialect. Throws DbException on a date
// literal that is not a valid date. With `look_up`, the flag test of a
// selection ("x NOT IN (SELECT c FROM t WHERE k = n)") becomes a call of
// the engine's vg_not_listed (see dbf_not_listed.h); without, it stays a
// NOT IN that plain SQLite runs.
std::string RewriteDbaseSql(std::string_view statement, bool look_up = true);

// 'CCYY-MM-DD' text of a date written MM/DD/CCYY, MM/DD/YY (years below 30
// are 20YY), CCYY-MM-DD or CCYYMMDD; "" when the text is no valid date.
std::string IsoDateFromText(std::string_view text);

// True when the double-quoted name is a file name (ends in ".dbf" in any
// letter case): a table item of the dBase dialect.
bool IsDbfFileName(std::string_view name);

}  // namespace vigilo::sql
