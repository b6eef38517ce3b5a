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
// [FROM]-style names need no change: SQLite accepts them.
#pragma once

#include <string>
#include <string_view>

namespace vigilo::sql {

// Returns the statement in SQLite's dialect. Throws DbException on a date
// literal that is not a valid date.
std::string RewriteDbaseSql(std::string_view statement);

// 'CCYY-MM-DD' text of a date written MM/DD/CCYY, MM/DD/YY (years below 30
// are 20YY), CCYY-MM-DD or CCYYMMDD; "" when the text is no valid date.
std::string IsoDateFromText(std::string_view text);

// True when the double-quoted name is a file name (ends in ".dbf" in any
// letter case): a table item of the dBase dialect.
bool IsDbfFileName(std::string_view name);

}  // namespace vigilo::sql
