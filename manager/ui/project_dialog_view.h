// CProjectDlg: the Project dialog, choosing a data source and one of the
// projects its master catalogue lists (ProjectLogic).
#pragma once

#include <QDialog>

#include "manager/project_dialog.h"

class QComboBox;

namespace vigilo {

class CProjectDlg : public QDialog {
  Q_OBJECT

 public:
  CProjectDlg(ProjectSelection& selection, std::vector<std::string> data_sources,
              Prompts& prompts, QWidget* parent = nullptr);

  QComboBox* data_source_list() const { return data_sources_; }
  QComboBox* project_list() const { return projects_; }

  void accept() override;

 private:
  void DataSourceChanged(int index);

  CServerPaths paths_;
  ProjectLogic logic_;
  QComboBox* data_sources_;
  QComboBox* projects_;
};

}  // namespace vigilo
