#include "manager/ui/query_builder_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/open_project.h"
#include "manager/rule_test.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/help_window.h"
#include "manager/ui/list_controls.h"
#include "manager/ui/where_dialogs.h"
#include "manager/where_condition.h"

namespace vigilo {
namespace {

// Average character widths the two lists are made wide enough for.
constexpr int kFieldListChars = 32;
constexpr int kCriteriaListChars = 64;

}  // namespace

CQueryBuilderDlg::CQueryBuilderDlg(long kind, std::vector<CFieldDef> fields,
                                   const std::string& condition, const DateSettings& dates,
                                   Prompts& prompts, QWidget* parent)
    : QDialog(parent),
      logic_(kind, std::move(fields), condition, dates, prompts),
      dates_(dates),
      prompts_(prompts),
      condition_(condition) {
  setWindowTitle(kQueryBuilderTitle);
  FitTitle(this);
  setObjectName("QueryBuilderDialog");
  fields_ = new QListWidget(this);
  fields_->setObjectName("FieldList");
  for (const std::string& name : logic_.FieldNames())
    fields_->addItem(QString::fromStdString(name));
  fields_->setMinimumWidth(
      fields_->fontMetrics().horizontalAdvance(QString(kFieldListChars * 2 / 3, QChar('x'))));
  criteria_ = new QListWidget(this);
  criteria_->setObjectName("Criteria");
  criteria_->setMinimumWidth(criteria_->fontMetrics().averageCharWidth() * kCriteriaListChars);
  auto* fields_label = new QLabel(kFieldsLabel, this);
  fields_label->setBuddy(fields_);
  auto* criteria_label = new QLabel(kCriteriaLabel, this);
  criteria_label->setBuddy(criteria_);
  NameByLabel(fields_label);
  NameByLabel(criteria_label);
  reason_ = ReasonLabel(this);

  auto make = [this](const char* text, auto slot) {
    auto* button = new QPushButton(text, this);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, slot);
    return button;
  };
  auto flip = [this](void (QueryBuilderLogic::*gesture)()) {
    return [this, gesture] {
      (logic_.*gesture)();
      ShowEntries();
    };
  };
  auto* gestures = new QVBoxLayout;
  gestures->addWidget(make(kAddButton, [this] { Add(); }));
  gestures->addWidget(make(kModifyButton, [this] { Modify(); }));
  gestures->addWidget(make(kRemoveButton, flip(&QueryBuilderLogic::Remove)));
  gestures->addWidget(make(kAndOrButton, flip(&QueryBuilderLogic::FlipConnector)));
  gestures->addWidget(make(kNotButton, flip(&QueryBuilderLogic::FlipNegated)));
  auto* parens = new QHBoxLayout;
  QPushButton* open = make(kGroupOpenButton, flip(&QueryBuilderLogic::FlipGroupOpen));
  open->setAccessibleDescription(kGroupOpenDescription);
  QPushButton* close = make(kGroupCloseButton, flip(&QueryBuilderLogic::FlipGroupClose));
  close->setAccessibleDescription(kGroupCloseDescription);
  parens->addWidget(open);
  parens->addWidget(close);
  gestures->addLayout(parens);
  gestures->addStretch();

  auto* field_column = new QVBoxLayout;
  field_column->addWidget(fields_label);
  field_column->addWidget(fields_, 1);
  auto* criteria_column = new QVBoxLayout;
  criteria_column->addWidget(criteria_label);
  criteria_column->addWidget(criteria_, 1);
  criteria_column->addWidget(reason_);

  QVBoxLayout* buttons = OkCancelHelpColumn(this, kQueryBuilderHelpTopic);
  // Below Help, shown only where the rule's table is known.
  test_button_ = make(kRuleTestButton, [this] {
    if (test_) test_(JoinEntries(logic_.Entries()));
  });
  test_button_->hide();
  buttons->insertWidget(buttons->count() - 1, test_button_);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(field_column);
  layout->addLayout(gestures);
  layout->addLayout(criteria_column, 1);
  layout->addLayout(buttons);

  connect(fields_, &QListWidget::itemDoubleClicked, this, [this] { Add(); });
  connect(criteria_, &QListWidget::itemDoubleClicked, this, [this] { Modify(); });
  connect(criteria_, &QListWidget::itemSelectionChanged, this,
          [this] { logic_.Select(ChosenRow(criteria_)); });
  ShowEntries();
}

QPushButton* CQueryBuilderDlg::button(const char* text) const {
  for (auto* button : findChildren<QPushButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

void CQueryBuilderDlg::ShowEntries() {
  std::optional<size_t> selected = logic_.Selected();
  const QSignalBlocker blocker(criteria_);
  criteria_->clear();
  for (const std::string& entry : logic_.Entries())
    criteria_->addItem(QString::fromStdString(entry));
  if (selected) {
    criteria_->setCurrentRow(static_cast<int>(*selected));
    criteria_->scrollToItem(criteria_->currentItem());
  }
  ShowReason(reason_, logic_.GroupProblem());
}

bool CQueryBuilderDlg::EditWhere(Clause& clause) {
  CFieldDef* field = logic_.FieldOf(clause);
  switch (WhereDialogFor(field)) {
    case WhereDialog::kOperator: {
      COperatorCondDlg dialog(field, clause, dates_, prompts_, this);
      if (dialog.exec() != QDialog::Accepted) return false;
      clause.values = dialog.value();
      return true;
    }
    case WhereDialog::kValueList: {
      CValueListCondDlg dialog(field, clause, prompts_, this);
      if (dialog.exec() != QDialog::Accepted) return false;
      clause.values = dialog.value();
      return true;
    }
    case WhereDialog::kKeyword: {
      CKeywordCondDlg dialog(clause, WhereCaption(clause, field), prompts_, this);
      if (dialog.exec() != QDialog::Accepted) return false;
      clause.values = dialog.value();
      return true;
    }
  }
  return false;
}

void CQueryBuilderDlg::Add() {
  std::optional<Clause> clause = logic_.BeginAdd(ChosenRow(fields_));
  if (!clause || !EditWhere(*clause)) return;
  logic_.FinishAdd(*clause);
  ShowEntries();
}

void CQueryBuilderDlg::Modify() {
  std::optional<Clause> clause = logic_.BeginModify();
  if (!clause || !EditWhere(*clause)) return;
  logic_.FinishModify(*clause);
  ShowEntries();
}

void CQueryBuilderDlg::set_tester(std::function<void(const std::string& condition)> test) {
  test_ = std::move(test);
  test_button_->setVisible(static_cast<bool>(test_));
}

void CQueryBuilderDlg::accept() {
  std::optional<std::string> condition = logic_.Ok();
  if (!condition) return;
  condition_ = *condition;
  QDialog::accept();
}

}  // namespace vigilo
