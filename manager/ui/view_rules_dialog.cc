#include "manager/ui/view_rules_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "manager/ui/dialog_buttons.h"
#include "manager/ui/rule_list_view.h"

namespace vigilo {

CViewRulesDlg::CViewRulesDlg(ManagerContext& context, QWidget* parent)
    : QDialog(parent),
      logic_(context.paths(), context.prompts()),
      installation_(context.paths().server_dir),
      choose_printer_(PrintDialogChooser(this)) {
  setWindowTitle(kViewRulesTitle);
  setObjectName("ViewRulesDialog");
  list_ = new CRuleListCtrl(logic_.list(),
                            {RuleColumn::kRuleId, RuleColumn::kTable, RuleColumn::kAction,
                             RuleColumn::kTarget, RuleColumn::kValues, RuleColumn::kCondition,
                             RuleColumn::kEnabled},
                            true, this);
  list_->setObjectName("RuleList");
  list_->setAccessibleName(kViewRulesListName);
  auto* filter = new QLineEdit(this);
  filter->setObjectName("RuleFilter");
  filter->setClearButtonEnabled(true);
  list_->setMinimumSize(720, 300);
  list_->set_column_click([this](RuleColumn column) { logic_.ColumnClick(column); });

  auto* close = new QPushButton(kViewCloseButton, this);
  close->setDefault(true);
  auto* print = new QPushButton(kViewPrintButton, this);
  print->setAutoDefault(false);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(close);
  buttons->addWidget(print);
  buttons->addStretch();
  auto* filter_row = new QHBoxLayout;
  filter_row->addStretch();
  filter_row->addWidget(NamingLabel(kViewFilterLabel, filter, this));
  filter_row->addWidget(filter);
  auto* left = new QVBoxLayout;
  left->addLayout(filter_row);
  left->addWidget(list_, 1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);
  setTabOrder(list_, filter);

  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(print, &QPushButton::clicked, this, &CViewRulesDlg::OnPrint);
  connect(new QShortcut(QKeySequence::Print, this), &QShortcut::activated, this,
          &CViewRulesDlg::OnPrint);
  connect(filter, &QLineEdit::textChanged, this, [this](const QString& text) {
    logic_.Filter(text.toStdString());
    list_->Reload();
  });

  logic_.Open();
  list_->Reload();
}

void CViewRulesDlg::OnPrint() {
  if (std::optional<std::vector<std::string>> lines = logic_.Print(list_->SelectedItems())) {
    RunRulePrint(*lines, HeadingNow(installation_), choose_printer_);
  }
}

}  // namespace vigilo
