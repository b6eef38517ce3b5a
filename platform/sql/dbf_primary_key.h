// The primary key of a .dbf table made by CREATE TABLE, kept in a side file
// beside it ("NAME.pk": an INI-style text with the constraint name and the
// key's field names), because a .dbf header has no place for a key over
// several fields. Other dBase tools ignore the side file.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vigilo::sql {

struct PrimaryKey {
  std::string name;                 // constraint name, may be ""
  std::vector<std::string> fields;  // field names in key order
};

// Path of the side file of a .dbf path (extension replaced by ".pk").
std::string PrimaryKeyPath(const std::string& dbf_path);
// Writes the side file; throws DbException when it cannot be written.
void WritePrimaryKey(const std::string& dbf_path, const PrimaryKey& key);
// The key of a table, nullopt when it has no side file.
std::optional<PrimaryKey> ReadPrimaryKey(const std::string& dbf_path);

}  // namespace vigilo::sql
