#include "manager/ui/setup_rules_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "manager/ui/dialog_buttons.h"
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

QPushButton* BrowseButton(const char* text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setAccessibleName(name);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

CSetupRulesDlg::CSetupRulesDlg(ProjectSelection& selection, ManagerContext& context,
                               RuleBrowsers& browsers, QWidget* parent)
    : QDialog(parent),
      logic_(context.paths(), selection, context.prompts(), browsers),
      prompts_(context.prompts()),
      installation_(context.paths().server_dir),
      choose_printer_(PrintDialogChooser(this)) {
  setWindowTitle(kSetupRulesTitle);
  setObjectName("SetupRulesDialog");
  SetHelpTopic(this, kSetupRulesHelpTopic);

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
  values_->setReadOnly(true);
  auto* values_browse =
      BrowseButton(kSetupRulesValuesBrowseButton, kSetupRulesValuesBrowseName, this);
  condition_ = new QPlainTextEdit(this);
  condition_->setObjectName("RuleCondition");
  condition_->setReadOnly(true);
  condition_->setTabChangesFocus(true);
  // Three lines show a long condition whole; more scroll.
  condition_->setFixedHeight(condition_->fontMetrics().lineSpacing() * 3 +
                             2 * condition_->frameWidth() + 8);
  auto* condition_browse =
      BrowseButton(kSetupRulesConditionBrowseButton, kSetupRulesConditionBrowseName, this);
  edit_state_ = new QLabel(this);
  edit_state_->setObjectName("EditState");
  filter_ = new QLineEdit(this);
  filter_->setObjectName("RuleFilter");
  filter_->setClearButtonEnabled(true);
  list_ = new CRuleListCtrl(logic_.list(),
                            {RuleColumn::kRuleId, RuleColumn::kAction, RuleColumn::kTarget,
                             RuleColumn::kValues, RuleColumn::kCondition, RuleColumn::kEnabled},
                            false, this);
  list_->setObjectName("ListOfRules");
  list_->setMinimumSize(600, 220);

  auto* fields = new QGridLayout;
  fields->addWidget(NamingLabel(kSetupRulesProjectTableLabel, tables_, this), 0, 0);
  fields->addWidget(tables_, 0, 1);
  fields->addWidget(NamingLabel(kSetupRulesActionLabel, actions_, this), 1, 0);
  fields->addWidget(actions_, 1, 1);
  fields->addWidget(NamingLabel(kSetupRulesTargetLabel, targets_, this), 2, 0);
  fields->addWidget(targets_, 2, 1);
  fields->addWidget(NamingLabel(kSetupRulesValuesLabel, values_, this), 3, 0);
  fields->addWidget(values_, 3, 1);
  fields->addWidget(values_browse, 3, 2);
  fields->addWidget(NamingLabel(kSetupRulesConditionLabel, condition_, this), 4, 0);
  fields->addWidget(condition_, 4, 1);
  fields->addWidget(condition_browse, 4, 2);
  fields->setColumnStretch(1, 1);

  auto* left = new QVBoxLayout;
  left->addWidget(hint);
  left->addLayout(fields);
  left->addWidget(edit_state_);
  auto* list_head = new QHBoxLayout;
  list_head->addWidget(NamingLabel(kSetupRulesRuleListLabel, list_, this));
  list_head->addStretch();
  list_head->addWidget(NamingLabel(kSetupRulesFilterLabel, filter_, this));
  list_head->addWidget(filter_);
  left->addLayout(list_head);
  left->addWidget(list_, 1);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(AddButton(kSetupRulesNewButton, &CSetupRulesDlg::OnNew));
  buttons->addWidget(AddButton(kSetupRulesAddButton, &CSetupRulesDlg::OnAdd));
  buttons->addWidget(AddButton(kSetupRulesEditButton, &CSetupRulesDlg::OnEdit));
  buttons->addWidget(AddButton(kSetupRulesReplaceButton, &CSetupRulesDlg::OnReplace));
  buttons->addWidget(AddButton(kSetupRulesPrintRulesButton, &CSetupRulesDlg::OnPrint));
  buttons->addWidget(AddButton(kSetupRulesDeleteButton, &CSetupRulesDlg::OnDelete));
  auto* enable = new QPushButton(kSetupRulesEnableButton, this);
  auto* disable = new QPushButton(kSetupRulesDisableButton, this);
  for (QPushButton* button : {enable, disable}) {
    button->setAutoDefault(false);
    buttons->addWidget(button);
  }
  connect(enable, &QPushButton::clicked, this, [this] { OnEnable(true); });
  connect(disable, &QPushButton::clicked, this, [this] { OnEnable(false); });
  buttons->addWidget(AddButton(kRuleTestButton, &CSetupRulesDlg::OnTest));
  auto* help = new QPushButton(kSetupRulesHelpButton, this);
  help->setAutoDefault(false);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpTopic(kSetupRulesHelpTopic); });
  buttons->addWidget(help);
  buttons->addWidget(AddButton(kSetupRulesCloseButton, &CSetupRulesDlg::OnClose));
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
  connect(list_, &CRuleListCtrl::editRequested, this, &CSetupRulesDlg::OnEdit);
  connect(list_, &CRuleListCtrl::deleteRequested, this, &CSetupRulesDlg::OnDelete);
  connect(new QShortcut(QKeySequence::Print, this), &QShortcut::activated, this,
          &CSetupRulesDlg::OnPrint);
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    logic_.Filter(text.toStdString());
    ShowList();
  });
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
  values_->setCursorPosition(0);
  const QString condition = QString::fromStdString(state.condition);
  if (condition_->toPlainText() != condition) condition_->setPlainText(condition);
  edit_state_->setText(QString::fromStdString(logic_.EditState()));
  run_always_->setChecked(state.run_always_checked);
  run_always_->setEnabled(state.run_always_enabled);
}

void CSetupRulesDlg::ShowList() {
  list_->Reload();
  edit_state_->setText(QString::fromStdString(logic_.EditState()));
}

void CSetupRulesDlg::FocusList() { list_->setFocus(); }

void CSetupRulesDlg::OnNew() {
  logic_.New();
  // A row left selected would be the one Replace overwrites.
  list_->clearSelection();
  list_->setCurrentIndex(QModelIndex());
  Refresh();
}

void CSetupRulesDlg::OnEnable(bool enabled) {
  const int item = list_->SelectedItem();
  if (!logic_.SetEnabled(item, enabled)) return;
  list_->viewport()->update();
  list_->setFocus();
}

void CSetupRulesDlg::OnClose() {
  if (logic_.ConfirmClose()) accept();
}

void CSetupRulesDlg::reject() {
  if (logic_.ConfirmClose()) QDialog::reject();
}

void CSetupRulesDlg::OnEdit() {
  const int item = list_->SelectedItem();
  if (!logic_.Edit(item)) return;
  Refresh();
  FocusList();
}

void CSetupRulesDlg::OnAdd() {
  if (!logic_.Add()) return;
  ShowList();
  Refresh();
  list_->scrollToBottom();
  FocusList();
}

void CSetupRulesDlg::OnReplace() {
  if (logic_.Replace(list_->SelectedItem())) {
    ShowList();
    Refresh();
  }
  FocusList();
}

void CSetupRulesDlg::OnDelete() {
  if (logic_.Delete(list_->SelectedItem())) ShowList();
  list_->setFocus();
}

void CSetupRulesDlg::OnPrint() {
  if (std::optional<std::vector<std::string>> lines = logic_.Print()) {
    RunRulePrint(*lines, HeadingNow(installation_, logic_.state().Table()), choose_printer_);
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

void CSetupRulesDlg::OnTest() {
  std::optional<TestedRule> rule = logic_.RuleToTest();
  if (!rule) return;
  CRuleTestDlg test(std::move(*rule), prompts_, logic_.TestMarkOffer(), this);
  test.exec();
}

}  // namespace vigilo
