// COpenProjectDlg: the Open Project dialog that Setup Rules opens first (the
// database kind and, through Browse, the project; OpenProjectLogic), and the
// dialogs its Browse opens: the Project dialog for client-server kinds and a
// file chooser in the server directory for dBase projects.
#pragma once

#include <QDialog>

#include "manager/open_project.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vigilo {

class QtProjectBrowser : public ProjectBrowser {
 public:
  QtProjectBrowser(Prompts& prompts, QWidget* parent) : prompts_(prompts), parent_(parent) {}
  bool ChooseCatalogueProject(ProjectSelection& selection,
                              std::vector<std::string> data_sources) override;
  std::optional<std::string> ChooseProjectFile(const std::string& start_dir) override;

 private:
  Prompts& prompts_;
  QWidget* parent_;
};

class COpenProjectDlg : public QDialog {
  Q_OBJECT

 public:
  COpenProjectDlg(ProjectSelection& selection, Prompts& prompts, QWidget* parent = nullptr);

  QComboBox* kind_list() const { return kinds_; }
  QLineEdit* project_field() const { return project_; }
  QPushButton* browse_button() const { return browse_; }
  OpenProjectLogic& logic() { return logic_; }

  void accept() override;

 private:
  void Browse();

  CServerPaths paths_;
  QtProjectBrowser browser_;
  OpenProjectLogic logic_;
  QComboBox* kinds_;
  QLineEdit* project_;
  QPushButton* browse_;
};

}  // namespace vigilo
