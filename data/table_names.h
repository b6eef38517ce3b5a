// The names of a watched project table as queries need them, computed from
// the project and the table's INI files: the table directory and INI path, the
// change-history and flag table names, their qualified names for the project's
// database kind, and the From-names placed in a query's table list.
//
// CProjectTable holds one TableNames. Paths are "/"-joined and resolved to
// the letter case found on disk; names that are data (the identifier) keep
// their backslashes.
#pragma once

#include <string>
#include <string_view>

#include "data/project_source.h"

namespace vigilo {

struct TableNames {
  std::string table;               // the table name, e.g. Bugs
  std::string identifier;          // "%s\\%s" of the project key and the table
  std::string directory;           // project directory or the "Table DSN" value
  bool own_directory = false;      // the table lives in a "Table DSN" directory
  std::string ini_path;            // <directory>/<table>.INI
  bool has_change_history = false; // the table INI names a "ChngHist Datafile"
  // Set only when has_change_history:
  std::string change_history;      // base name of the change-history data file
  std::string flag;                // first four characters of the table + "VGLS"
  std::string qualified_table;
  std::string qualified_change_history;
  std::string qualified_flag;      // kinds 1 to 3 carry the "VGLS" suffix twice
  std::string from_table;          // "\"<dir>/<qualified>.DBF\" AS <qualified>"
  std::string from_change_history; //   with an own directory, else the qualified
  std::string from_flag;           //   name
};

// Computes the names of a table of a project whose source has been resolved.
TableNames ResolveTableNames(long kind, std::string_view project, const ProjectSource& source,
                             std::string_view table);

// The change-history table name of a "ChngHist Datafile" value: without the
// directory part (when its last separator is past the first character) and
// without the extension (when its last dot is past the first character).
std::string ChangeHistoryName(std::string_view datafile);

// "%sVGLS" of the first four characters of a table name.
std::string FlagName(std::string_view table);

// The From-name of a qualified name: the quoted .DBF file in the table's own
// directory with the name as alias, or the qualified name itself.
std::string FromName(const TableNames& names, const std::string& qualified);

}  // namespace vigilo
