#include "manager/ui/sql_query_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "manager/open_project.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/help_window.h"
#include "manager/ui/list_controls.h"

namespace vigilo {

CSelectTablesDlg::CSelectTablesDlg(std::vector<std::string> tables, const std::string& current,
                                   Prompts& prompts, QWidget* parent)
    : QDialog(parent), logic_(std::move(tables), current, prompts) {
  setWindowTitle(kSelectTablesTitle);
  FitTitle(this);
  setObjectName("SelectTablesDialog");
  tables_ = new QListWidget(this);
  tables_->setObjectName("ListOfTables");
  tables_->setSelectionMode(QAbstractItemView::MultiSelection);
  for (const std::string& table : logic_.Entries()) tables_->addItem(QString::fromStdString(table));
  for (size_t row : logic_.InitiallySelected())
    tables_->item(static_cast<int>(row))->setSelected(true);
  auto* label = new QLabel(kTablesListLabel, this);
  label->setBuddy(tables_);
  NameByLabel(label);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(tables_, 1);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CSelectTablesDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CSelectTablesDlg::accept() {
  std::vector<size_t> rows;
  for (int i = 0; i < tables_->count(); ++i) {
    if (tables_->item(i)->isSelected()) rows.push_back(static_cast<size_t>(i));
  }
  std::optional<std::string> text = logic_.Ok(rows);
  if (!text) return;
  text_ = *text;
  QDialog::accept();
}

CSqlQueryDlg::CSqlQueryDlg(const std::string& condition, TableLister tables, Prompts& prompts,
                           QWidget* parent)
    : QDialog(parent),
      logic_(prompts),
      tables_(std::move(tables)),
      prompts_(prompts),
      condition_(condition) {
  setWindowTitle(kSqlQueryTitle);
  FitTitle(this);
  setObjectName("SqlQueryDialog");
  auto [from, where] = SplitSqlCondition(condition);
  from_ = new QLineEdit(QString::fromStdString(from), this);
  from_->setObjectName("From");
  from_->setMaxLength(kSelectFromLimit);
  where_ = new QLineEdit(QString::fromStdString(where), this);
  where_->setObjectName("Where");
  where_->setMaxLength(kWhereClauseLimit);
  where_->setMinimumWidth(where_->fontMetrics().horizontalAdvance(QString(50, 'x')));
  tables_button_ = new QPushButton(kSelectTablesButton, this);
  tables_button_->setObjectName("SelectTables");
  tables_button_->setAutoDefault(false);
  tables_button_->setAccessibleName(kSelectTablesButtonName);
  // As wide as its text with a button's margins, not a full button's width.
  tables_button_->setFixedWidth(tables_button_->fontMetrics().horizontalAdvance(" ... ") +
                                2 * tables_button_->style()->pixelMetric(QStyle::PM_ButtonMargin));
  auto* from_label = new QLabel(kSelectFromLabel, this);
  from_label->setBuddy(from_);
  auto* where_label = new QLabel(kWhereClauseLabel, this);
  where_label->setBuddy(where_);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(kSqlQueryIntro, this), 0, 0, 1, 3);
  fields->addWidget(from_label, 1, 0);
  fields->addWidget(from_, 1, 1);
  fields->addWidget(tables_button_, 1, 2);
  fields->addWidget(where_label, 2, 0);
  fields->addWidget(where_, 2, 1, 1, 2);
  fields->setRowStretch(3, 1);

  QVBoxLayout* buttons = OkCancelHelpColumn(this, kSqlQueryHelpTopic);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(fields, 1);
  layout->addLayout(buttons);

  connect(tables_button_, &QPushButton::clicked, this, &CSqlQueryDlg::SelectTables);
}

void CSqlQueryDlg::SelectTables() {
  CSelectTablesDlg dialog(tables_ ? tables_() : std::vector<std::string>{},
                          from_->text().toStdString(), prompts_, this);
  if (dialog.exec() == QDialog::Accepted) from_->setText(QString::fromStdString(dialog.text()));
}

void CSqlQueryDlg::accept() {
  std::optional<std::string> condition =
      logic_.Ok(from_->text().toStdString(), where_->text().toStdString());
  if (!condition) return;
  condition_ = *condition;
  QDialog::accept();
}

}  // namespace vigilo
