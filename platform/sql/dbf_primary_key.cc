#include "platform/sql/dbf_primary_key.h"

#include <fstream>

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/database.h"

namespace vigilo::sql {

std::string PrimaryKeyPath(const std::string& dbf_path) {
  size_t slash = dbf_path.rfind('/');
  size_t dot = dbf_path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return dbf_path + ".pk";
  }
  return dbf_path.substr(0, dot) + ".pk";
}

void WritePrimaryKey(const std::string& dbf_path, const PrimaryKey& key) {
  std::string path = PrimaryKeyPath(dbf_path);
  std::ofstream out(path, std::ios::trunc);
  std::string fields;
  for (const std::string& f : key.fields) fields += (fields.empty() ? "" : ",") + f;
  out << "[PrimaryKey]\nName=" << key.name << "\nFields=" << fields << "\n";
  out.close();
  if (!out) {
    throw DbException(Format("Cannot write the primary key file %s.", path.c_str()));
  }
}

std::optional<PrimaryKey> ReadPrimaryKey(const std::string& dbf_path) {
  std::ifstream in(PrimaryKeyPath(dbf_path));
  if (!in) return std::nullopt;
  PrimaryKey key;
  std::string line;
  while (ReadLine(in, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = Trimmed(line.substr(0, eq));
    std::string value = Trimmed(line.substr(eq + 1));
    if (EqualsNoCase(name, "Name")) key.name = value;
    if (EqualsNoCase(name, "Fields")) {
      for (std::string& f : SplitNonEmpty(value, ',')) key.fields.push_back(Trimmed(f));
    }
  }
  if (key.fields.empty()) return std::nullopt;
  return key;
}

}  // namespace vigilo::sql
