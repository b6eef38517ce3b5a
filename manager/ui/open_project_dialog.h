// COpenProjectDlg: the Open Project dialog that Setup Rules opens first (the
// database kind and, through Browse, the project; OpenProjectLogic), and the
// dialogs its Browse opens: the Project dialog for client-server kinds and a
// file chooser in the server directory for dBase projects.
#pragma once

#include <QDialog>

#include "manager/manager_context.h"
#include "manager/open_project.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vigilo {

class QtProjectBrowser : public ProjectBrowser {
 public:
  QtProjectBrowser(ManagerContext& context, QWidget* parent)
      : context_(context), parent_(parent) {}
  bool ChooseCatalogueProject(ProjectSelection& selection,
                              std::vector<std::string> data_sources) override;
  std::optional<std::string> ChooseProjectFile(const std::string& start_dir) override;

 private:
  ManagerContext& context_;
  QWidget* parent_;
};

class COpenProjectDlg : public QDialog {
  Q_OBJECT

 public:
  COpenProjectDlg(ProjectSelection& selection, ManagerContext& context,
                  QWidget* parent = nullptr);

  OpenProjectLogic& logic() { return logic_; }

  void accept() override;

 private:
  void Browse();

  QtProjectBrowser browser_;
  OpenProjectLogic logic_;
  QComboBox* kinds_;
  QLineEdit* project_;
  QPushButton* browse_;
};

}  // namespace vigilo
