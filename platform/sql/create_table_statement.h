// Reads a CREATE TABLE statement of the system's dialect into the field list
// of a new .dbf file and its primary key, for the embedded dBase engine
// (SQLite never sees CREATE TABLE: the table is a file).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/dbf_table.h"

namespace vigilo::sql {

struct CreateTableStatement {
  std::string table;                     // name or quoted file name, unquoted
  std::vector<DbfField> fields;          // in declaration order
  std::string key_name;                  // constraint name ("" when unnamed)
  std::vector<std::string> primary_key;  // field names, empty when none
};

// nullopt when the statement is not a CREATE TABLE. Column types map to
// dBase fields: INT, INTEGER, SMALLINT, LONG, COUNTER -> N(11); NUMERIC(p,s),
// DECIMAL(p,s) -> N(p,s); FLOAT, DOUBLE, REAL, CURRENCY -> N(20,6);
// CHAR(n), VARCHAR(n), TEXT(n) -> C(n) (254 without n); DATE, DATETIME ->
// D; MEMO, LONGTEXT -> M; BIT, LOGICAL, BOOLEAN -> L. Throws DbException on
// a malformed statement or an unknown type.
std::optional<CreateTableStatement> ParseCreateTable(std::string_view statement);

}  // namespace vigilo::sql
