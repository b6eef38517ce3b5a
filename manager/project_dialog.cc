#include "manager/project_dialog.h"

#include "data/odbc_connection.h"

namespace vigilo {

CatalogueLister OdbcCatalogueLister() {
  return [](const CServerPaths& paths, Reporter report, long kind, const std::string& dsn) {
    return ListCatalogueProjects(paths, std::move(report), kind, dsn);
  };
}

ProjectLogic::ProjectLogic(ProjectSelection& selection, std::vector<std::string> data_sources,
                           const CServerPaths& paths, Prompts& prompts,
                           CatalogueLister list_projects)
    : selection_(selection),
      data_sources_(std::move(data_sources)),
      paths_(paths),
      prompts_(prompts),
      list_projects_(std::move(list_projects)) {}

int ProjectLogic::DataSourceChanged(int index) {
  projects_.clear();
  if (index < 0 || static_cast<size_t>(index) >= data_sources_.size()) return -1;
  {
    WaitCursor wait(prompts_);
    projects_ = list_projects_(paths_, prompts_.AsReporter(), selection_.Kind(),
                               data_sources_[index]);
  }
  for (std::string& project : projects_) {
    if (project.size() > kProjectNameLimit) project.resize(kProjectNameLimit);
  }
  return projects_.empty() ? -1 : 0;
}

bool ProjectLogic::Ok(int data_source_index, int project_index) {
  if (data_source_index < 0 || static_cast<size_t>(data_source_index) >= data_sources_.size() ||
      project_index < 0 || static_cast<size_t>(project_index) >= projects_.size()) {
    prompts_.Beep();
    return false;
  }
  selection_.dsn = data_sources_[data_source_index];
  selection_.project = projects_[project_index];
  return true;
}

}  // namespace vigilo
