#include "manager/ui/project_dialog_view.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/open_project.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/help_window.h"
#include "manager/ui/list_controls.h"

namespace vigilo {

CProjectDlg::CProjectDlg(ProjectSelection& selection, std::vector<std::string> data_sources,
                         ManagerContext& context, QWidget* parent)
    : QDialog(parent),
      logic_(selection, std::move(data_sources), context.paths(), context.prompts()) {
  setWindowTitle(kProjectDialogTitle);
  FitTitle(this);
  setObjectName("ProjectDialog");
  data_sources_ = new QComboBox(this);
  data_sources_->setObjectName("DataSource");
  for (const std::string& name : logic_.data_sources()) {
    data_sources_->addItem(QString::fromStdString(name));
  }
  data_sources_->setCurrentIndex(-1);
  projects_ = new QComboBox(this);
  projects_->setObjectName("ProjectList");
  projects_->setMinimumContentsLength(24);

  auto* source_label = new QLabel(kDataSourceLabel, this);
  source_label->setBuddy(data_sources_);
  NameByLabel(source_label);
  auto* project_label = new QLabel(kProjectListLabel, this);
  project_label->setBuddy(projects_);
  NameByLabel(project_label);
  auto* fields = new QFormLayout;
  fields->addRow(source_label, data_sources_);
  fields->addRow(project_label, projects_);

  QVBoxLayout* buttons = OkCancelHelpColumn(this, kProjectHelpTopic);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(fields, 1);
  layout->addLayout(buttons);

  connect(data_sources_, &QComboBox::currentIndexChanged, this, &CProjectDlg::DataSourceChanged);
}

void CProjectDlg::DataSourceChanged(int index) {
  projects_->clear();
  int selected = logic_.DataSourceChanged(index);
  for (const std::string& name : logic_.projects()) {
    projects_->addItem(QString::fromStdString(name));
  }
  projects_->setCurrentIndex(selected);
}

void CProjectDlg::accept() {
  if (logic_.Ok(data_sources_->currentIndex(), projects_->currentIndex())) QDialog::accept();
}

}  // namespace vigilo
