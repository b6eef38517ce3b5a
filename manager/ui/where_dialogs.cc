#include "manager/ui/where_dialogs.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "manager/open_project.h"
#include "manager/range.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/help_window.h"
#include "manager/ui/list_controls.h"
#include "manager/ui/range_dialog.h"

namespace vigilo {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QLabel* LabelFor(QWidget* buddy, const char* text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  NameByLabel(label);
  return label;
}

// Ok, Cancel and Help in a column beside the dialog's controls.
QVBoxLayout* ButtonColumn(QDialog* dialog, int help_topic) {
  auto* ok = new QPushButton(kDialogOkButton, dialog);
  ok->setDefault(true);
  auto* cancel = new QPushButton(kCancelButton, dialog);
  auto* help = new QPushButton(kHelpButton, dialog);
  auto* column = new QVBoxLayout;
  column->addWidget(ok);
  column->addWidget(cancel);
  column->addWidget(help);
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  QObject::connect(help, &QPushButton::clicked, dialog,
                   [help_topic] { ShowHelpTopic(help_topic); });
  return column;
}

void CheckOption(SearchOption option, QRadioButton* none, QRadioButton* any, QRadioButton* all) {
  (option == SearchOption::kNone  ? none
   : option == SearchOption::kAnd ? all
                                  : any)
      ->setChecked(true);
}

SearchOption OptionOf(QRadioButton* none, QRadioButton* all) {
  if (none->isChecked()) return SearchOption::kNone;
  return all->isChecked() ? SearchOption::kAnd : SearchOption::kOr;
}

}  // namespace

// --- Operators --------------------------------------------------------------

COperatorCondDlg::COperatorCondDlg(const CFieldDef* field, const Clause& clause,
                                   const DateSettings& dates, Prompts& prompts, QWidget* parent)
    : QDialog(parent),
      logic_(field, clause, dates, prompts),
      field_label_(FieldLabel(clause, field)),
      dates_(dates),
      prompts_(prompts) {
  setWindowTitle(kWhereConditionTitle);
  FitTitle(this);
  setObjectName("OperatorConditionDialog");
  operators_ = new QListWidget(this);
  operators_->setObjectName("Operators");
  for (const std::string& op : logic_.Operators()) operators_->addItem(Q(op));
  expression_ = new QLineEdit(Q(logic_.InitialExpression()), this);
  expression_->setObjectName("Expression");
  expression_->setMaxLength(kExpressionLimit);
  expression_->setMinimumWidth(expression_->fontMetrics().horizontalAdvance(QString(30, 'x')));
  select_ = new QPushButton(kSelectButton, this);
  select_->setObjectName("Select");

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(Q(logic_.Label()), this));
  left->addWidget(LabelFor(operators_, kOperatorsLabel, this));
  auto* list_row = new QHBoxLayout;
  list_row->addWidget(operators_, 1);
  list_row->addWidget(select_, 0, Qt::AlignTop);
  left->addLayout(list_row);
  left->addWidget(LabelFor(expression_, kExpressionLabel, this));
  left->addWidget(expression_);
  if (std::string hint = logic_.Hint(); !hint.empty()) {
    auto* hint_line = new QLabel(Q(hint), this);
    hint_line->setObjectName("Hint");
    expression_->setAccessibleDescription(hint_line->text());
    left->addWidget(hint_line);
  }
  reason_ = ReasonLabel(this);
  left->addWidget(reason_);
  QVBoxLayout* buttons = ButtonColumn(this, kOperatorHelpTopic);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  connect(select_, &QPushButton::clicked, this, &COperatorCondDlg::SelectOperator);
  connect(operators_, &QListWidget::itemDoubleClicked, this, &COperatorCondDlg::SelectOperator);
  connect(expression_, &QLineEdit::textChanged, this, [this](const QString& text) {
    ShowReason(reason_, logic_.Problem(text.toStdString()));
  });
  ShowReason(reason_, logic_.Problem(expression_->text().toStdString()));
  expression_->setFocus();
}

void COperatorCondDlg::SelectOperator() {
  std::string expression = expression_->text().toStdString();
  switch (logic_.Select(ChosenRow(operators_), expression)) {
    case OperatorCondLogic::Selection::kNothing:
      return;
    case OperatorCondLogic::Selection::kRange: {
      CRangeDlg range(field_label_, dates_.separator, expression, prompts_, this,
                      [this](std::string_view operand) { return logic_.OperandProblem(operand); });
      if (range.exec() == QDialog::Accepted) expression_->setText(Q(range.text()));
      break;
    }
    case OperatorCondLogic::Selection::kReplaced:
      expression_->setText(Q(expression));
      break;
  }
  // The operand is typed behind the operator.
  expression_->setFocus();
  expression_->end(false);
}

void COperatorCondDlg::accept() {
  std::optional<std::string> value = logic_.Ok(expression_->text().toStdString());
  if (!value) {
    expression_->setFocus();
    return;
  }
  value_ = *value;
  QDialog::accept();
}

// --- List of values -----------------------------------------------------------

CValueListCondDlg::CValueListCondDlg(CFieldDef* field, const Clause& clause, Prompts& prompts,
                                     QWidget* parent)
    : QDialog(parent),
      logic_(field, clause, prompts),
      field_(field),
      field_label_(FieldLabel(clause, field)),
      prompts_(prompts) {
  setWindowTitle(kWhereConditionTitle);
  FitTitle(this);
  setObjectName("ValueListConditionDialog");
  values_ = new QListWidget(this);
  values_->setObjectName("Values");
  values_->setSelectionMode(QAbstractItemView::MultiSelection);
  for (const std::string& entry : logic_.Entries()) values_->addItem(Q(entry));
  for (size_t row : logic_.InitiallySelected())
    values_->item(static_cast<int>(row))->setSelected(true);
  other_ = new QLineEdit(Q(logic_.InitialOther()), this);
  other_->setObjectName("Other");
  other_->setMaxLength(kOtherValuesLimit);

  auto* group = new QGroupBox(kSearchOptionGroup, this);
  none_ = new QRadioButton(kNoneItemsOption, group);
  none_->setObjectName("None");
  or_ = new QRadioButton(kOrItemsOption, group);
  or_->setObjectName("Or");
  and_ = new QRadioButton(kAndItemsOption, group);
  and_->setObjectName("And");
  auto* options = new QVBoxLayout(group);
  options->addWidget(none_);
  options->addWidget(or_);
  options->addWidget(and_);
  CheckOption(logic_.InitialOption(), none_, or_, and_);

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(Q(logic_.Label()), this));
  left->addWidget(LabelFor(values_, kValuesLabel, this));
  left->addWidget(values_, 1);
  left->addWidget(LabelFor(other_, kOtherValuesLabel, this));
  left->addWidget(other_);
  QVBoxLayout* buttons = ButtonColumn(this, kValueListHelpTopic);
  buttons->addWidget(group);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  connect(values_, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { EntryDoubleClicked(values_->row(item)); });
  connect(none_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) values_->clearSelection();
  });
}

void CValueListCondDlg::EntryDoubleClicked(int row) {
  if (row < 0 || !logic_.IsChangeEntry(static_cast<size_t>(row))) return;
  CFromToDlg from_to(field_, field_label_, other_->text().toStdString(), prompts_, this);
  if (from_to.exec() == QDialog::Accepted) other_->setText(Q(from_to.text()));
}

void CValueListCondDlg::accept() {
  std::vector<size_t> rows;
  for (int i = 0; i < values_->count(); ++i) {
    if (values_->item(i)->isSelected()) rows.push_back(static_cast<size_t>(i));
  }
  std::optional<std::string> value =
      logic_.Ok(rows, other_->text().toStdString(), OptionOf(none_, and_));
  if (!value) return;
  value_ = *value;
  QDialog::accept();
}

// --- Keywords -------------------------------------------------------------------

CKeywordCondDlg::CKeywordCondDlg(const Clause& clause, const std::string& caption, Prompts& prompts,
                                 QWidget* parent)
    : QDialog(parent), logic_(clause, caption, prompts) {
  setWindowTitle(kWhereConditionTitle);
  FitTitle(this);
  setObjectName("KeywordConditionDialog");
  keyword_ = new QLineEdit(this);
  keyword_->setObjectName("Keyword");
  keyword_->setMaxLength(kKeywordLimit);
  add_ = new QPushButton(kAddKeywordButton, this);
  add_->setObjectName("Add");
  keywords_ = new QListWidget(this);
  keywords_->setObjectName("Keywords");
  remove_ = new QPushButton(kRemoveKeywordButton, this);
  remove_->setObjectName("Remove");
  wildcard_ = new QCheckBox(kWildcardCheck, this);
  wildcard_->setObjectName("WildcardSearch");
  auto* group = new QGroupBox(kSearchOptionLabel, this);
  none_ = new QRadioButton(kNoneKeywordsOption, group);
  none_->setObjectName("None");
  or_ = new QRadioButton(kOrKeywordsOption, group);
  or_->setObjectName("Or");
  and_ = new QRadioButton(kAndKeywordsOption, group);
  and_->setObjectName("And");
  auto* options = new QVBoxLayout(group);
  options->addWidget(none_);
  options->addWidget(or_);
  options->addWidget(and_);

  auto* entry = new QVBoxLayout;
  entry->addWidget(LabelFor(keyword_, kKeywordLabel, this));
  entry->addWidget(keyword_);
  entry->addWidget(add_);
  entry->addStretch();
  auto* list = new QVBoxLayout;
  list->addWidget(LabelFor(keywords_, kKeywordsLabel, this));
  list->addWidget(keywords_, 1);
  list->addWidget(remove_);
  auto* lists = new QHBoxLayout;
  lists->addLayout(entry);
  lists->addLayout(list, 1);
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QString::fromStdString(logic_.Label()), this));
  left->addLayout(lists, 1);
  left->addWidget(wildcard_);
  QVBoxLayout* buttons = ButtonColumn(this, kKeywordHelpTopic);
  buttons->addWidget(group);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  ShowState(std::nullopt);
  connect(add_, &QPushButton::clicked, this, &CKeywordCondDlg::Add);
  // Enter in the keyword adds it and goes no further: Ok stays for Enter elsewhere.
  OnEnter(keyword_, [this] { Add(); });
  add_->setAutoDefault(false);
  remove_->setAutoDefault(false);
  connect(remove_, &QPushButton::clicked, this, &CKeywordCondDlg::Remove);
  connect(wildcard_, &QCheckBox::toggled, this, [this](bool on) { logic_.SetWildcard(on); });
  auto choose = [this](SearchOption option) {
    return [this, option](bool on) {
      if (!on || logic_.option() == option) return;
      logic_.SetOption(option);
      ShowState(std::nullopt);
    };
  };
  connect(none_, &QRadioButton::toggled, this, choose(SearchOption::kNone));
  connect(or_, &QRadioButton::toggled, this, choose(SearchOption::kOr));
  connect(and_, &QRadioButton::toggled, this, choose(SearchOption::kAnd));
  keyword_->setFocus();
}

void CKeywordCondDlg::ShowState(std::optional<size_t> selected) {
  keywords_->clear();
  for (const std::string& keyword : logic_.Keywords())
    keywords_->addItem(QString::fromStdString(keyword));
  if (selected) keywords_->setCurrentRow(static_cast<int>(*selected));
  const QSignalBlocker a(wildcard_), b(none_), c(or_), d(and_);
  wildcard_->setChecked(logic_.wildcard());
  CheckOption(logic_.option(), none_, or_, and_);
}

void CKeywordCondDlg::Add() {
  std::optional<size_t> row = logic_.Add(keyword_->text().toStdString());
  if (!row) return;
  keyword_->clear();
  ShowState(row);
  keyword_->setFocus();
}

void CKeywordCondDlg::Remove() {
  logic_.Remove(ChosenRow(keywords_));
  ShowState(std::nullopt);
}

void CKeywordCondDlg::accept() {
  std::optional<std::string> value = logic_.Ok();
  if (!value) return;
  value_ = *value;
  QDialog::accept();
}

}  // namespace vigilo
