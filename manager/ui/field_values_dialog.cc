#include "manager/ui/field_values_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "manager/ui/dialog_buttons.h"
#include "manager/ui/list_controls.h"

#include "manager/ui/input_value_dialog.h"
#include "manager/ui/values_dialog_view.h"

namespace vigilo {

CFieldValuesDlg::CFieldValuesDlg(std::vector<CFieldDef> fields, const std::string& values,
                                 Prompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), logic_(std::move(fields), values, prompts, *this) {
  setWindowTitle(kFieldValuesTitle);
  FitTitle(this);
  setObjectName("FieldValuesDialog");
  fields_ = new QListWidget(this);
  fields_->setObjectName("FieldList");
  fields_->setAccessibleName(kFieldListName);
  for (const std::string& name : logic_.field_names()) fields_->addItem(QString::fromStdString(name));
  assignments_ = new QListWidget(this);
  assignments_->setObjectName("AssignmentList");
  assignments_->setAccessibleName(kAssignmentListName);
  ShowAssignments(std::nullopt);

  auto* group = new QGroupBox(kFieldValuesGroup, this);
  FilterBox filter = AddFilterBox(fields_, kFieldListName, this);
  auto* field_column = new QVBoxLayout;
  auto* filter_row = new QHBoxLayout;
  filter_row->addWidget(filter.label);
  filter_row->addWidget(filter.edit, 1);
  field_column->addLayout(filter_row);
  auto* headed_list = new QVBoxLayout;
  headed_list->setSpacing(0);
  headed_list->addWidget(AddSortHeader(fields_, kFieldListHeader, this));
  headed_list->addWidget(fields_, 1);
  field_column->addLayout(headed_list, 1);
  auto* lists = new QHBoxLayout(group);
  lists->addLayout(field_column);
  lists->addWidget(assignments_, 2);
  auto* add = new QPushButton(kFieldValuesAddButton, this);
  auto* modify = new QPushButton(kFieldValuesModifyButton, this);
  auto* remove = new QPushButton(kFieldValuesRemoveButton, this);
  auto* gestures = new QHBoxLayout;
  gestures->addWidget(add);
  gestures->addWidget(modify);
  gestures->addWidget(remove);
  gestures->addStretch();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(gestures);
  layout->addWidget(buttons);
  resize(560, 320);

  connect(add, &QPushButton::clicked, this, &CFieldValuesDlg::Add);
  connect(modify, &QPushButton::clicked, this, &CFieldValuesDlg::Modify);
  connect(remove, &QPushButton::clicked, this, &CFieldValuesDlg::Remove);
  connect(fields_, &QListWidget::itemDoubleClicked, this, &CFieldValuesDlg::Add);
  connect(assignments_, &QListWidget::itemDoubleClicked, this, &CFieldValuesDlg::Modify);
  connect(buttons, &QDialogButtonBox::accepted, this, &CFieldValuesDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CFieldValuesDlg::ShowAssignments(std::optional<size_t> select) {
  assignments_->clear();
  for (const std::string& assignment : logic_.assignments()) {
    assignments_->addItem(QString::fromStdString(assignment));
  }
  if (select) assignments_->setCurrentRow(static_cast<int>(*select));
}

void CFieldValuesDlg::Add() {
  if (std::optional<size_t> added = logic_.Add(ChosenRow(fields_))) ShowAssignments(added);
}

void CFieldValuesDlg::Modify() {
  if (std::optional<size_t> changed = logic_.Modify(ChosenRow(assignments_))) {
    ShowAssignments(changed);
  }
}

void CFieldValuesDlg::Remove() {
  logic_.Remove(ChosenRow(assignments_));
  ShowAssignments(std::nullopt);
}

std::optional<std::string> CFieldValuesDlg::ChooseValue(const CFieldDef& field,
                                                        const std::string& value) {
  CValuesDlg dialog(field, value, prompts_, this);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.value();
}

std::optional<std::string> CFieldValuesDlg::TypeValue(const std::string& label,
                                                      const std::string& value) {
  const CFieldDef* field = FindField(logic_.fields(), label);
  bool numeric = field != nullptr &&
                 (field->type == CFieldDef::kNumber || field->type == CFieldDef::kNumber7);
  CInputValueDlg dialog(label, value, prompts_, this, numeric);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.value();
}

void CFieldValuesDlg::accept() {
  if (std::optional<std::string> values = logic_.Ok()) {
    values_ = *values;
    QDialog::accept();
  }
}

}  // namespace vigilo
