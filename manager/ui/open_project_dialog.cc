#include "manager/ui/open_project_dialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/project_dialog.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/help_window.h"
#include "manager/ui/list_controls.h"
#include "manager/ui/project_dialog_view.h"

namespace vigilo {

bool QtProjectBrowser::ChooseCatalogueProject(ProjectSelection& selection,
                                              std::vector<std::string> data_sources) {
  CProjectDlg dialog(selection, std::move(data_sources), context_, parent_);
  return dialog.exec() == QDialog::Accepted;
}

std::optional<std::string> QtProjectBrowser::ChooseProjectFile(const std::string& start_dir) {
  QFileDialog dialog(parent_, "Open", QString::fromStdString(start_dir),
                     QString("%1;;All Files (*)").arg(kDbaseFileFilter));
  dialog.setObjectName("ProjectFileDialog");
  // Qt's own dialog, so that it looks the same everywhere and tests can answer it.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix("DBF");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

COpenProjectDlg::COpenProjectDlg(ProjectSelection& selection, ManagerContext& context,
                                 QWidget* parent)
    : QDialog(parent),
      browser_(context, this),
      logic_(context.paths(), selection, context.prompts(), browser_) {
  setWindowTitle(kOpenProjectTitle);
  FitTitle(this);
  setObjectName("OpenProjectDialog");
  OpenProjectView view = logic_.Open();

  kinds_ = new QComboBox(this);
  kinds_->setObjectName("DbmsType");
  for (const std::string& name : view.kinds) kinds_->addItem(QString::fromStdString(name));
  kinds_->setCurrentIndex(view.kind_index);
  project_ = new QLineEdit(QString::fromStdString(view.project_field), this);
  project_->setObjectName("Project");
  // The field changes only through Browse; a chosen path is shown whole, so
  // it carries no length limit that would cut it.
  project_->setEnabled(false);
  project_->setMinimumWidth(project_->fontMetrics().horizontalAdvance(QString(40, 'x')));

  auto* kind_label = new QLabel(kDbmsTypeLabel, this);
  kind_label->setBuddy(kinds_);
  NameByLabel(kind_label);
  auto* project_label = new QLabel(kProjectFieldLabel, this);
  project_label->setBuddy(project_);
  browse_ = new QPushButton(kBrowseButton, this);
  browse_->setObjectName("Browse");
  auto* fields = new QFormLayout;
  fields->addRow(kind_label, kinds_);
  auto* project_row = new QHBoxLayout;
  project_row->addWidget(project_, 1);
  project_row->addWidget(browse_);
  fields->addRow(project_label, project_row);

  QVBoxLayout* buttons = OkCancelHelpColumn(this, kProjectHelpTopic);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(fields, 1);
  layout->addLayout(buttons);

  connect(kinds_, &QComboBox::currentIndexChanged, this, [this](int index) {
    project_->setText(QString::fromStdString(logic_.KindChanged(index)));
  });
  connect(browse_, &QPushButton::clicked, this, &COpenProjectDlg::Browse);
}

void COpenProjectDlg::Browse() {
  if (std::optional<std::string> field = logic_.Browse(kinds_->currentIndex())) {
    project_->setText(QString::fromStdString(*field));
  }
}

void COpenProjectDlg::accept() {
  if (logic_.Ok(kinds_->currentIndex(), project_->text().toStdString())) QDialog::accept();
}

}  // namespace vigilo
