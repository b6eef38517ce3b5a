#include "manager/ui/notify_list_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/input_value.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/help_window.h"
#include "manager/ui/list_controls.h"

namespace vigilo {

CNotifyListDlg::CNotifyListDlg(const std::string& target, std::vector<std::string> entries,
                               const std::string& values, Prompts& prompts, QWidget* parent)
    : QDialog(parent), logic_(target, std::move(entries), values, prompts) {
  setWindowTitle(QString::fromStdString(logic_.Title()));
  FitTitle(this);
  setObjectName("NotifyListDialog");
  list_ = new QListWidget(this);
  list_->setObjectName("List");
  list_->setSelectionMode(QAbstractItemView::MultiSelection);
  for (size_t i = 0; i < logic_.entries().size(); ++i) {
    auto* item = new QListWidgetItem(QString::fromStdString(logic_.entries()[i]), list_);
    item->setSelected(logic_.preselected()[i]);
  }
  auto* list_label = new QLabel(kNotifyListLabel, this);
  list_label->setBuddy(list_);
  NameByLabel(list_label);
  FilterBox filter = AddFilterBox(list_, list_->accessibleName(), this);
  QWidget* sort_header = AddSortHeader(list_, QString::fromStdString(logic_.target()), this);
  other_ = new QLineEdit(QString::fromStdString(logic_.other_fields()), this);
  other_->setObjectName("OtherFields");
  other_->setMaxLength(static_cast<int>(kRuleValuesLimit));
  other_label_ = new QLabel(kOtherFieldsLabel, this);
  other_label_->setBuddy(other_);
  other_label_->setVisible(logic_.ShowsOtherFields());
  other_->setVisible(logic_.ShowsOtherFields());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* help = buttons->addButton(kNotifyListHelpButton, QDialogButtonBox::HelpRole);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_label);
  auto* filter_row = new QHBoxLayout;
  filter_row->addWidget(filter.label);
  filter_row->addWidget(filter.edit, 1);
  layout->addLayout(filter_row);
  auto* headed_list = new QVBoxLayout;
  headed_list->setSpacing(0);
  headed_list->addWidget(sort_header);
  headed_list->addWidget(list_);
  layout->addLayout(headed_list);
  layout->addWidget(other_label_);
  layout->addWidget(other_);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CNotifyListDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpTopic(kNotifyListHelpTopic); });
  if (QListWidgetItem* first = list_->item(0)) list_->setCurrentItem(first, QItemSelectionModel::NoUpdate);
}

void CNotifyListDlg::accept() {
  std::vector<bool> selected(static_cast<size_t>(list_->count()));
  for (int i = 0; i < list_->count(); ++i) selected[EntryIndex(list_, i)] = list_->item(i)->isSelected();
  if (std::optional<std::string> values = logic_.Ok(selected, other_->text().toStdString())) {
    values_ = *values;
    QDialog::accept();
  }
}

}  // namespace vigilo
