#include "manager/ui/view_rules_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/ui/rule_list_view.h"

namespace vigilo {

CViewRulesDlg::CViewRulesDlg(ManagerContext& context, QWidget* parent)
    : QDialog(parent),
      logic_(context.paths(), context.prompts()),
      choose_printer_(PrintDialogChooser(this)) {
  setWindowTitle(kViewRulesTitle);
  setObjectName("ViewRulesDialog");
  list_ = new CRuleListCtrl(logic_.list(),
                            {RuleColumn::kRuleId, RuleColumn::kTable, RuleColumn::kAction,
                             RuleColumn::kTarget, RuleColumn::kValues, RuleColumn::kCondition},
                            true, this);
  list_->setObjectName("RuleList");
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
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);

  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(print, &QPushButton::clicked, this, &CViewRulesDlg::OnPrint);

  logic_.Open();
  list_->Reload();
}

void CViewRulesDlg::OnPrint() {
  if (std::optional<std::vector<std::string>> lines = logic_.Print(list_->SelectedItems())) {
    RunRulePrint(*lines, choose_printer_);
  }
}

}  // namespace vigilo
