// The three Where Condition dialogs the Query Builder edits a clause's value
// in, chosen by the field's type: COperatorCondDlg (numbers and dates),
// CValueListCondDlg (list and user fields) and CKeywordCondDlg (the rest).
// Each shows its logic class's state and hands every gesture to it; value()
// is the accepted value text.
#pragma once

#include <QDialog>

#include "data/date_settings.h"
#include "manager/where_keyword.h"
#include "manager/where_operator.h"
#include "manager/where_value_list.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace vigilo {

class COperatorCondDlg : public QDialog {
  Q_OBJECT

 public:
  COperatorCondDlg(const CFieldDef* field, const Clause& clause, const DateSettings& dates,
                   Prompts& prompts, QWidget* parent = nullptr);

  const std::string& value() const { return value_; }

  void accept() override;

 private:
  void SelectOperator();

  OperatorCondLogic logic_;
  std::string field_label_;
  DateSettings dates_;
  Prompts& prompts_;
  QListWidget* operators_;
  QLineEdit* expression_;
  QPushButton* select_;
  QLabel* reason_;  // why the expression cannot be stored
  std::string value_;
};

class CValueListCondDlg : public QDialog {
  Q_OBJECT

 public:
  CValueListCondDlg(CFieldDef* field, const Clause& clause, Prompts& prompts,
                    QWidget* parent = nullptr);

  const std::string& value() const { return value_; }

  void accept() override;

 private:
  void EntryDoubleClicked(int row);
  SearchOption Option() const;

  ValueListCondLogic logic_;
  const CFieldDef* field_;
  std::string field_label_;
  Prompts& prompts_;
  QListWidget* values_;
  QLineEdit* other_;
  QRadioButton* none_;
  QRadioButton* or_;
  QRadioButton* and_;
  std::string value_;
};

class CKeywordCondDlg : public QDialog {
  Q_OBJECT

 public:
  CKeywordCondDlg(const Clause& clause, const std::string& caption, Prompts& prompts,
                  QWidget* parent = nullptr);

  const std::string& value() const { return value_; }

  void accept() override;

 private:
  void Add();
  void Remove();
  void ShowState(std::optional<size_t> selected);

  KeywordCondLogic logic_;
  QLineEdit* keyword_;
  QListWidget* keywords_;
  QPushButton* add_;
  QPushButton* remove_;
  QCheckBox* wildcard_;
  QRadioButton* none_;
  QRadioButton* or_;
  QRadioButton* and_;
  std::string value_;
};

}  // namespace vigilo
