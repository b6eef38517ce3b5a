// CSetupRulesDlg: the Setup Rules dialog (SetupRulesLogic) for the project
// chosen in Open Project. The view shows the logic's state after every
// gesture; Values and Rule Condition are read-only and change only through
// their Browse buttons, and Run Always is kept hidden.
#pragma once

#include <QDialog>

#include "data/server_paths.h"
#include "manager/rule_test.h"
#include "manager/setup_rules.h"
#include "manager/ui/rule_printing_view.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace vigilo {

class CRuleListCtrl;

class CSetupRulesDlg : public QDialog {
  Q_OBJECT

 public:
  CSetupRulesDlg(ProjectSelection& selection, Prompts& prompts, RuleBrowsers& browsers,
                 QWidget* parent = nullptr);

  SetupRulesLogic& logic() { return logic_; }
  QComboBox* table_list() const { return tables_; }
  QComboBox* action_list() const { return actions_; }
  QComboBox* target_list() const { return targets_; }
  QLineEdit* values_field() const { return values_; }
  QLineEdit* condition_field() const { return condition_; }
  QCheckBox* run_always() const { return run_always_; }
  CRuleListCtrl* rule_list() const { return list_; }
  void set_printer_chooser(PrinterChooser choose) { choose_printer_ = std::move(choose); }

  // Shows the logic's state again (after a change made through logic()).
  void Refresh();

  // The rule as the controls hold it, for the Test buttons: with the id of
  // the rule last taken in by Edit (or written by Add or Replace), whose
  // flags a Replace keeps; without an id after New.
  TestedRule RuleInDialog() const;
  // True when the controls hold that rule exactly as it is saved.
  bool RuleSaved() const;

 private:
  QPushButton* AddButton(const char* text, void (CSetupRulesDlg::*slot)());
  void ShowList();
  void FocusList();
  void OnNew();
  void OnEdit();
  void OnAdd();
  void OnReplace();
  void OnDelete();
  void OnPrint();
  void OnBrowseValues();
  void OnBrowseCondition();
  void OnTest();
  // The list row of the rule last taken in or written, if it is still listed.
  const RuleRow* EditedRow() const;

  CServerPaths paths_;
  ProjectSelection& selection_;
  SetupRulesLogic logic_;
  Prompts& prompts_;
  std::optional<long> edited_rule_id_;
  PrinterChooser choose_printer_;
  QComboBox* tables_;
  QComboBox* actions_;
  QComboBox* targets_;
  QLineEdit* values_;
  QLineEdit* condition_;
  CRuleListCtrl* list_;
  QCheckBox* run_always_;
};

}  // namespace vigilo
