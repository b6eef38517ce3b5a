// The project the supervisor sets up rules for: database kind, data source and
// project name, chosen in the Open Project dialog and handed to the Setup
// Rules dialog and the dialogs it opens; those keep the table they work on in
// the fourth field.
#pragma once

#include <string>

namespace vigilo {

struct ProjectSelection {
  std::string kind;     // decimal database kind: "0" dBase files ... "3" Sybase
  std::string dsn;      // ODBC data source; "SERVERDIR" for kind 0
  std::string project;  // project name (kind 0: the project file's base name)
  std::string table;    // the table being worked on; empty until Setup Rules sets it

  // The kind as a number (the leading number of the text; 0 when none).
  long Kind() const;
};

// The data-source word of a dBase project.
inline constexpr const char* kServerDirSource = "SERVERDIR";

}  // namespace vigilo
