// The Project dialog's behaviour: choose a data source of the machine and one
// of the projects that the master catalogue behind it lists. Opened by the
// Open Project dialog's Browse for the client-server kinds.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "data/server_paths.h"
#include "manager/prompts.h"
#include "manager/project_selection.h"

namespace vigilo {

inline constexpr const char* kProjectDialogTitle = "Project";
inline constexpr const char* kDataSourceLabel = "Data &Source:";
inline constexpr const char* kProjectListLabel = "&Project:";
// A data-source name and a project name hold at most this many characters.
inline constexpr size_t kDataSourceNameLimit = 30;
inline constexpr size_t kProjectNameLimit = 32;
// Help topic of the Open Project and Project dialogs.
inline constexpr int kProjectHelpTopic = 618;

// The project names of a data source's master catalogue for a kind; empty
// when the connection or the query fails (reported through the Reporter).
using CatalogueLister = std::function<std::vector<std::string>(
    const CServerPaths& paths, Reporter report, long kind, const std::string& dsn)>;

// The lister that connects to the data source through ODBC.
CatalogueLister OdbcCatalogueLister();

class ProjectLogic {
 public:
  ProjectLogic(ProjectSelection& selection, std::vector<std::string> data_sources,
               const CServerPaths& paths, Prompts& prompts,
               CatalogueLister list_projects = OdbcCatalogueLister());

  // The Data Source list's entries, in the order given. The Project list is
  // empty on opening.
  const std::vector<std::string>& data_sources() const { return data_sources_; }
  const std::vector<std::string>& projects() const { return projects_; }

  // A data source was chosen: the projects of its catalogue, in fetch order
  // (each cut to 32 characters), with the wait cursor shown while connecting.
  // Returns the entry to select: 0, or -1 when the list stays empty.
  int DataSourceChanged(int index);

  // OK with the two lists' positions: true (selection filled) when both are
  // chosen; otherwise a beep and false.
  bool Ok(int data_source_index, int project_index);

 private:
  ProjectSelection& selection_;
  std::vector<std::string> data_sources_;
  const CServerPaths& paths_;
  Prompts& prompts_;
  CatalogueLister list_projects_;
  std::vector<std::string> projects_;
};

}  // namespace vigilo
