// The collation "DBDATE" of the embedded dBase engine's date columns. Date
// fields read as 'CCYY-MM-DD'; the system also compares them with texts in
// the user's short form ('12/24/01', '12/24/2001    ' from a text clause on
// the change-history date). Under this collation both sides that read as a
// date compare as dates; any other text compares as it is (trailing blanks
// ignored).
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace vigilo::sql {

constexpr const char* kDateCollation = "DBDATE";

// The 'CCYY-MM-DD' form of a date written CCYY-MM-DD, MM/DD/CCYY, MM/DD/YY
// (00-29 are 2000-2029) or CCYYMMDD, without checking the day against the
// month; otherwise the text without trailing blanks. Fast: used once per
// compared row.
std::string_view DateKey(std::string_view text, char (&buffer)[10]);

// Registers the collation on db.
int RegisterDateCollation(sqlite3* db);

}  // namespace vigilo::sql
