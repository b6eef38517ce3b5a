// The statements that write the product's internal mail table ORVKPOST (a
// dBase table in the server directory, reached through the embedded dBase
// engine): one row per (record number, recipient, database name), updated in
// place when it exists and inserted otherwise. The database name is part of
// the row's identity so that notices of two tables about the same record
// number for the same user are two rows (the row format is unchanged). Every
// text between single quotes has its apostrophes doubled, so a recipient or
// database name holding one is written as it is instead of breaking the
// statement.
#pragma once

#include <string>
#include <string_view>

namespace vigilo {

inline constexpr const char* kInternalMailTable = "ORVKPOST";
inline constexpr const char* kInternalMailSender = "VIGILO";

// "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;"
std::string InternalMailConnection(std::string_view server_dir);

// "SELECT BUGNUM FROM %s WHERE BUGNUM =%d AND TO ='%s' AND [DBNAME] ='%s'": only
// the columns that identify a row are read, so a large table is not loaded
// whole to learn whether the row exists.
std::string InternalMailLookup(long record_number, std::string_view recipient,
                               std::string_view database_name);
// "INSERT INTO %s ([FROM], [TO], [DATE], ISNEW, STATUS, BUGNUM, [DBNAME],
// MESSAGE) VALUES ('%s', '%s', '%s',%d,'*',%d,'%s','%s')"
std::string InternalMailInsert(std::string_view recipient, std::string_view date, int is_new,
                               long record_number, std::string_view database_name,
                               std::string_view message);
// "UPDATE %s SET [FROM] ='%s', [DATE] ='%s', ISNEW =%d, STATUS ='*', [DBNAME]
// ='%s', MESSAGE ='%s' WHERE BUGNUM =%d AND TO ='%s' AND [DBNAME] ='%s'"
std::string InternalMailUpdate(std::string_view recipient, std::string_view date, int is_new,
                               long record_number, std::string_view database_name,
                               std::string_view message);

// The current local date as "%m/%d/%Y".
std::string InternalMailDate();

}  // namespace vigilo
