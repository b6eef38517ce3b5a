// CQueryBuilderDlg: the Query Builder Dialog, in which a rule condition is
// composed clause by clause (QueryBuilderLogic); Add and Modify open the
// Where Condition dialog the clause's field takes.
#pragma once

#include <functional>

#include <QDialog>

#include "data/date_settings.h"
#include "manager/query_builder.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace vigilo {

class CQueryBuilderDlg : public QDialog {
  Q_OBJECT

 public:
  CQueryBuilderDlg(long kind, std::vector<CFieldDef> fields, const std::string& condition,
                   const DateSettings& dates, Prompts& prompts, QWidget* parent = nullptr);

  QPushButton* button(const char* text) const;
  // The condition OK accepted.
  const std::string& condition() const { return condition_; }

  void accept() override;

  // Shows the Test button, which hands the condition as it stands to test.
  void set_tester(std::function<void(const std::string& condition)> test);

 private:
  void Add();
  void Modify();
  // Opens the Where Condition dialog of the clause's field; false on Cancel.
  bool EditWhere(Clause& clause);
  void ShowEntries();

  QueryBuilderLogic logic_;
  DateSettings dates_;
  Prompts& prompts_;
  QListWidget* fields_;
  QListWidget* criteria_;
  QLabel* reason_;  // why OK refuses the parentheses
  std::string condition_;
  std::function<void(const std::string&)> test_;
  QPushButton* test_button_;
};

}  // namespace vigilo
