// ProjectSource and TableSource: what a watched project's data source and a
// watched table's names resolve to, and the resolvers that fill them.
//
// A CProject is built from the resolved source of its data (directory,
// project INI file, connection string); a CProjectTable from the resolved
// names of its table (directory, INI file, change-history and flag tables
// with their qualified names and From-names). The resolvers are functions so
// that the data-source and table-definition logic can be plugged into the
// engine, and tests can supply installations of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vigilo {

class CProject;
class CServerPaths;

struct ProjectSource {
  std::string project_dir;        // directory of the project's files
  std::string project_ini_path;   // <project_dir>/<project>.INI
  std::string connection_string;  // empty when no login was found
};

struct TableSource {
  std::string table_dir;  // project directory or the "Table DSN" directory
  std::string ini_path;   // <table_dir>/<table>.INI
  // Empty when the table INI names no change-history data file.
  std::string chnghist_name;
  std::string flag_name;  // first four characters of the table name + "VGLS"
  // Names as written in a statement for the project's database kind.
  std::string table_qualified, chnghist_qualified, flag_qualified;
  std::string table_from, chnghist_from, flag_from;
};

// Resolves the source of project `project_name` of kind `db_type` on data
// source `dsn`.
using ProjectSourceResolver = std::function<ProjectSource(
    int32_t db_type, const std::string& dsn, const std::string& project_name,
    const CServerPaths& settings)>;

// Resolves the names of table `table_name` of a project whose source is set.
using TableSourceResolver =
    std::function<TableSource(const std::string& table_name, const CProject& project)>;

struct SourceResolvers {
  ProjectSourceResolver project;
  TableSourceResolver table;
};

// The resolvers the service uses unless told otherwise.
SourceResolvers DefaultSourceResolvers();

}  // namespace vigilo
