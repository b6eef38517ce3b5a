// CProjectDlg: the Project dialog, choosing a data source and one of the
// projects its master catalogue lists (ProjectLogic).
#pragma once

#include <QDialog>

#include "manager/manager_context.h"
#include "manager/project_dialog.h"

class QComboBox;

namespace vigilo {

class CProjectDlg : public QDialog {
  Q_OBJECT

 public:
  CProjectDlg(ProjectSelection& selection, std::vector<std::string> data_sources,
              ManagerContext& context, QWidget* parent = nullptr);


  void accept() override;

 private:
  void DataSourceChanged(int index);

  ProjectLogic logic_;
  QComboBox* data_sources_;
  QComboBox* projects_;
};

}  // namespace vigilo
