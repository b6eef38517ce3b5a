#include "manager/ui/values_dialog_view.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/ui/dialog_buttons.h"
#include "manager/ui/list_controls.h"

namespace vigilo {

CValuesDlg::CValuesDlg(const CFieldDef& field, const std::string& value, Prompts& prompts,
                       QWidget* parent)
    : QDialog(parent), logic_(field, value, prompts) {
  setWindowTitle(kValuesDialogTitle);
  FitTitle(this);
  setObjectName("ValuesDialog");
  list_ = new QListWidget(this);
  list_->setObjectName("List");
  list_->setSelectionMode(logic_.multiple() ? QAbstractItemView::MultiSelection
                                            : QAbstractItemView::SingleSelection);
  for (size_t i = 0; i < logic_.entries().size(); ++i) {
    auto* item = new QListWidgetItem(QString::fromStdString(logic_.entries()[i]), list_);
    if (logic_.preselected()[i]) {
      item->setSelected(true);
      list_->setCurrentItem(item, QItemSelectionModel::NoUpdate);
    }
  }
  auto* list_label = new QLabel(kValuesListLabel, this);
  list_label->setBuddy(list_);
  NameByLabel(list_label);
  auto* caption = new QLabel(QString::fromStdString(logic_.FieldCaption()), this);
  caption->setObjectName("FieldCaption");
  other_ = new QLineEdit(this);
  other_->setObjectName("OtherValues");
  // A value of its own kept from an earlier choice may be longer than what
  // can be typed; it must come back whole.
  other_->setMaxLength(
      static_cast<int>(std::max(kValuesOtherLimit, logic_.other_values().size())));
  other_->setText(QString::fromStdString(logic_.other_values()));
  auto* other_label = new QLabel(kValuesOtherLabel, this);
  other_label->setBuddy(other_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(kValuesOkButton, QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(kValuesCancelButton, QDialogButtonBox::RejectRole);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption);
  layout->addWidget(list_label);
  layout->addWidget(list_);
  layout->addWidget(other_label);
  layout->addWidget(other_);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CValuesDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CValuesDlg::accept() {
  std::vector<bool> selected;
  for (int i = 0; i < list_->count(); ++i) selected.push_back(list_->item(i)->isSelected());
  if (std::optional<std::string> value = logic_.Ok(selected, other_->text().toStdString())) {
    value_ = *value;
    QDialog::accept();
  }
}

}  // namespace vigilo
