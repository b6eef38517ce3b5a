#include "manager/ui/setup_rules_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "common/text.h"
#include "manager/ui/help_window.h"
#include "manager/ui/rule_list_view.h"
#include "manager/ui/rule_test_dialog.h"

namespace vigilo {
namespace {

void ShowChoices(QComboBox* combo, const std::vector<std::string>& entries, int index) {
  QSignalBlocker block(combo);
  QStringList texts;
  for (const std::string& entry : entries) texts << QString::fromStdString(entry);
  QStringList shown;
  for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
  if (shown != texts) {
    combo->clear();
    combo->addItems(texts);
  }
  combo->setCurrentIndex(index);
}

QLabel* Buddy(const char* text, QWidget* input, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(input);
  return label;
}

}  // namespace

CSetupRulesDlg::CSetupRulesDlg(ProjectSelection& selection, Prompts& prompts,
                               RuleBrowsers& browsers, QWidget* parent)
    : QDialog(parent),
      paths_(CServerPaths::Program::kManager),
      selection_(selection),
      logic_(paths_, selection, prompts, browsers),
      prompts_(prompts),
      choose_printer_(PrintDialogChooser(this)) {
  setWindowTitle(kSetupRulesTitle);
  setObjectName("SetupRulesDialog");

  auto* hint = new QLabel(kSetupRulesHint, this);
  hint->setWordWrap(true);
  tables_ = new QComboBox(this);
  tables_->setObjectName("ProjectTable");
  actions_ = new QComboBox(this);
  actions_->setObjectName("Action");
  targets_ = new QComboBox(this);
  targets_->setObjectName("Target");
  for (QComboBox* combo : {tables_, actions_, targets_}) {
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(24);
  }
  values_ = new QLineEdit(this);
  values_->setObjectName("Values");
  values_->setMaxLength(kSetupRulesValuesLimit);
  values_->setEnabled(false);
  auto* values_browse = new QPushButton(kSetupRulesValuesBrowseButton, this);
  condition_ = new QLineEdit(this);
  condition_->setObjectName("RuleCondition");
  condition_->setMaxLength(kSetupRulesConditionLimit);
  condition_->setEnabled(false);
  auto* condition_browse = new QPushButton(kSetupRulesConditionBrowseButton, this);
  list_ = new CRuleListCtrl(logic_.list(),
                            {RuleColumn::kRuleId, RuleColumn::kAction, RuleColumn::kTarget,
                             RuleColumn::kValues, RuleColumn::kCondition},
                            false, this);
  list_->setObjectName("ListOfRules");
  list_->setMinimumSize(600, 220);

  auto* fields = new QGridLayout;
  fields->addWidget(Buddy(kSetupRulesProjectTableLabel, tables_, this), 0, 0);
  fields->addWidget(tables_, 0, 1);
  fields->addWidget(Buddy(kSetupRulesActionLabel, actions_, this), 1, 0);
  fields->addWidget(actions_, 1, 1);
  fields->addWidget(Buddy(kSetupRulesTargetLabel, targets_, this), 2, 0);
  fields->addWidget(targets_, 2, 1);
  fields->addWidget(Buddy(kSetupRulesValuesLabel, values_, this), 3, 0);
  fields->addWidget(values_, 3, 1);
  fields->addWidget(values_browse, 3, 2);
  fields->addWidget(Buddy(kSetupRulesConditionLabel, condition_, this), 4, 0);
  fields->addWidget(condition_, 4, 1);
  fields->addWidget(condition_browse, 4, 2);
  fields->setColumnStretch(1, 1);

  auto* left = new QVBoxLayout;
  left->addWidget(hint);
  left->addLayout(fields);
  left->addWidget(Buddy(kSetupRulesRuleListLabel, list_, this));
  left->addWidget(list_, 1);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(AddButton(kSetupRulesNewButton, &CSetupRulesDlg::OnNew));
  buttons->addWidget(AddButton(kSetupRulesAddButton, &CSetupRulesDlg::OnAdd));
  buttons->addWidget(AddButton(kSetupRulesEditButton, &CSetupRulesDlg::OnEdit));
  buttons->addWidget(AddButton(kSetupRulesReplaceButton, &CSetupRulesDlg::OnReplace));
  buttons->addWidget(AddButton(kSetupRulesPrintRulesButton, &CSetupRulesDlg::OnPrint));
  buttons->addWidget(AddButton(kSetupRulesDeleteButton, &CSetupRulesDlg::OnDelete));
  buttons->addWidget(AddButton(kRuleTestButton, &CSetupRulesDlg::OnTest));
  auto* help = new QPushButton(kSetupRulesHelpButton, this);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpTopic(kSetupRulesHelpTopic); });
  buttons->addWidget(help);
  auto* close = new QPushButton(kSetupRulesCloseButton, this);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(close);
  buttons->addStretch();
  // Set by New, Edit and Rule Condition Browse, read by Add and Replace; the
  // supervisor never clicks it.
  run_always_ = new QCheckBox(kSetupRulesRunAlwaysCheck, this);
  run_always_->setObjectName("RunAlways");
  run_always_->hide();

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  connect(tables_, &QComboBox::currentIndexChanged, this, [this](int index) {
    logic_.TableChanged(index);
    edited_rule_id_.reset();
    Refresh();
    ShowList();
  });
  connect(actions_, &QComboBox::currentIndexChanged, this, [this](int index) {
    logic_.ActionChanged(index);
    Refresh();
  });
  connect(targets_, &QComboBox::currentIndexChanged, this, [this](int index) {
    logic_.TargetChanged(index);
    Refresh();
  });
  connect(values_browse, &QPushButton::clicked, this, &CSetupRulesDlg::OnBrowseValues);
  connect(condition_browse, &QPushButton::clicked, this, &CSetupRulesDlg::OnBrowseCondition);
  connect(list_, &QAbstractItemView::doubleClicked, this, [this] { OnEdit(); });
  list_->set_column_click([this](RuleColumn column) { logic_.ColumnClick(column); });

  bool has_rules = logic_.Open();
  Refresh();
  ShowList();
  if (has_rules) list_->setFocus();
}

QPushButton* CSetupRulesDlg::AddButton(const char* text, void (CSetupRulesDlg::*slot)()) {
  auto* button = new QPushButton(text, this);
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, slot);
  return button;
}

void CSetupRulesDlg::Refresh() {
  const SetupRulesState& state = logic_.state();
  ShowChoices(tables_, state.tables, state.table_index);
  ShowChoices(actions_, state.actions, state.action_index);
  ShowChoices(targets_, state.targets, state.target_index);
  values_->setText(QString::fromStdString(state.values));
  condition_->setText(QString::fromStdString(state.condition));
  run_always_->setChecked(state.run_always_checked);
  run_always_->setEnabled(state.run_always_enabled);
}

void CSetupRulesDlg::ShowList() { list_->Reload(); }

void CSetupRulesDlg::FocusList() { list_->setFocus(); }

void CSetupRulesDlg::OnNew() {
  logic_.New();
  edited_rule_id_.reset();
  Refresh();
}

void CSetupRulesDlg::OnEdit() {
  const int item = list_->SelectedItem();
  if (!logic_.Edit(item)) return;
  edited_rule_id_ = logic_.list().row(item).rule_id;
  Refresh();
  FocusList();
}

void CSetupRulesDlg::OnAdd() {
  if (!logic_.Add()) return;
  edited_rule_id_ = logic_.list().row(logic_.list().size() - 1).rule_id;
  ShowList();
  list_->scrollToBottom();
  FocusList();
}

void CSetupRulesDlg::OnReplace() {
  if (logic_.Replace(list_->SelectedItem())) {
    edited_rule_id_ = logic_.list().row(logic_.list().size() - 1).rule_id;
    ShowList();
  }
  FocusList();
}

void CSetupRulesDlg::OnDelete() {
  if (logic_.Delete(list_->SelectedItem())) ShowList();
}

void CSetupRulesDlg::OnPrint() {
  if (std::optional<std::vector<std::string>> lines = logic_.Print()) {
    RunRulePrint(*lines, choose_printer_);
  }
}

void CSetupRulesDlg::OnBrowseValues() {
  logic_.BrowseValues();
  Refresh();
}

void CSetupRulesDlg::OnBrowseCondition() {
  logic_.BrowseCondition();
  Refresh();
}

const RuleRow* CSetupRulesDlg::EditedRow() const {
  if (!edited_rule_id_) return nullptr;
  for (size_t i = 0; i < logic_.list().size(); ++i) {
    if (logic_.list().row(i).rule_id == *edited_rule_id_) return &logic_.list().row(i);
  }
  return nullptr;
}

TestedRule CSetupRulesDlg::RuleInDialog() const {
  const SetupRulesState& state = logic_.state();
  TestedRule rule;
  rule.kind = selection_.Kind();
  rule.dsn = selection_.dsn;
  rule.project_table = state.Table();
  rule.action = state.Action();
  rule.target = state.Target();
  rule.values = state.values;
  rule.condition = state.condition;
  rule.flag = state.run_always_checked ? kRuleFlagRunAlways : 0;
  if (state.condition.rfind("FROM", 0) == 0) rule.flag |= kRuleFlagSqlCondition;
  if (const RuleRow* row = EditedRow()) rule.rule_id = row->rule_id;
  return rule;
}

bool CSetupRulesDlg::RuleSaved() const {
  const RuleRow* row = EditedRow();
  const SetupRulesState& state = logic_.state();
  return row != nullptr && row->action == state.Action() && row->target == state.Target() &&
         row->values == state.values && row->condition == state.condition;
}

void CSetupRulesDlg::OnTest() {
  TestedRule rule = RuleInDialog();
  if (rule.project_table.empty() || Trimmed(rule.condition).empty()) {
    prompts_.Message(kRuleTestNoConditionMessage);
    return;
  }
  CRuleTestDlg test(std::move(rule), prompts_,
                    RuleSaved() ? CRuleTestDlg::MarkOffer::kEnabled
                                : CRuleTestDlg::MarkOffer::kDisabled,
                    this);
  test.exec();
}

}  // namespace vigilo
