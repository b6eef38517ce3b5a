#include "data/table_names.h"

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "data/database_kind.h"

namespace vigilo {

std::string ChangeHistoryName(std::string_view datafile) {
  std::string name(datafile);
  size_t separator = LastSeparator(name);
  if (separator != std::string::npos && separator > 0) name.erase(0, separator + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string FlagName(std::string_view table) { return std::string(table.substr(0, 4)) + "VGLS"; }

std::string FromName(const TableNames& names, const std::string& qualified) {
  if (!names.own_directory) return qualified;
  return Format("\"%s\" AS %s", JoinPath(names.directory, qualified + ".DBF").c_str(),
                qualified.c_str());
}

TableNames ResolveTableNames(long kind, std::string_view project, const ProjectSource& source,
                             std::string_view table) {
  TableNames names;
  names.table = std::string(table);
  names.identifier = source.key + "\\" + names.table;
  names.directory = source.directory;
  std::string key = std::string(project) + "\\" + names.table;
  std::string table_dsn = GetProfileString(source.ini_path, "Table DSN", key, "");
  if (!table_dsn.empty()) {
    names.directory = NormalizePath(table_dsn);
    names.own_directory = true;
  }
  names.ini_path = ResolveFileCase(JoinPath(names.directory, names.table + ".INI"));

  std::string datafile = GetProfileString(names.ini_path, "Morvane Orvik", "ChngHist Datafile", "");
  if (datafile.empty()) return names;
  names.has_change_history = true;
  names.change_history = ChangeHistoryName(datafile);
  names.flag = FlagName(names.table);

  std::string p(project);
  switch (kind) {
    case kDbaseKind:
      names.qualified_table = names.table;
      names.qualified_change_history = names.change_history;
      names.qualified_flag = names.flag;
      break;
    case kSqlServerKind:
    case kSybaseKind:
    case kOracleKind:
      names.qualified_table = QualifiedName(kind, p, names.table);
      names.qualified_change_history = QualifiedName(kind, p, names.change_history);
      names.qualified_flag = QualifiedName(kind, p, names.flag) + "VGLS";
      break;
    default:
      break;
  }
  if (names.qualified_table.empty()) return names;  // an unknown kind
  names.from_table = FromName(names, names.qualified_table);
  names.from_change_history = FromName(names, names.qualified_change_history);
  names.from_flag = FromName(names, names.qualified_flag);
  return names;
}

}  // namespace vigilo
