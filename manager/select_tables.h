// The Select Tables dialog: the tables of a project, in the form a query's
// table list names them, for the SQL Query dialog's "FROM" part.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/server_paths.h"
#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kSelectTablesTitle = "Select Tables";
inline constexpr const char* kTablesListLabel = "&List of Tables";

// The table names of a project: its main table (the project name), then the
// tables its project INI lists (ReadProjectIniTables), for dBase projects by
// their table names, for the others by their data files without extension,
// as Setup Rules lists them. Empty when the project INI cannot be read.
std::vector<std::string> ProjectTableNames(const CServerPaths& paths, long kind,
                                           std::string_view dsn, std::string_view project);

// The same tables by the names a query's FROM part gives them: qualified for
// the kind, and as a quoted file with an alias for a table kept in its own
// directory.
std::vector<std::string> ProjectTableFromNames(const CServerPaths& paths, long kind,
                                               std::string_view dsn, std::string_view project);

class SelectTablesLogic {
 public:
  // current: the Select From text; the tables it names are shown selected.
  SelectTablesLogic(std::vector<std::string> tables, std::string_view current, Prompts& prompts);

  const std::vector<std::string>& Entries() const { return tables_; }
  const std::vector<size_t>& InitiallySelected() const { return selected_; }
  // OK: the selected names in list order joined by ","; beep for none.
  std::optional<std::string> Ok(const std::vector<size_t>& selected_rows);

 private:
  std::vector<std::string> tables_;
  std::vector<size_t> selected_;
  Prompts& prompts_;
};

}  // namespace vigilo
