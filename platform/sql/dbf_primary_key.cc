#include "platform/sql/dbf_primary_key.h"

#include <fstream>

#include "common/file_system.h"
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
  const std::string path = PrimaryKeyPath(dbf_path);
  std::string fields;
  for (const std::string& f : key.fields) fields += (fields.empty() ? "" : ",") + f;
  const std::string text = "[PrimaryKey]\nName=" + key.name + "\nFields=" + fields + "\n";
  // Whole or not at all: a cut key would leave its table without one.
  std::string error;
  if (ReplaceFileAtomically(path, text, 0644, &error) != ReplaceResult::kDone) {
    throw DbException(Format("Cannot write the primary key file %s: %s", path.c_str(),
                             error.c_str()));
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
