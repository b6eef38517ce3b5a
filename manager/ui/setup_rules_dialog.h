// CSetupRulesDlg: the Setup Rules dialog (SetupRulesLogic) for the project
// chosen in Open Project. The view shows the logic's state after every
// gesture; Values and Rule Condition are read-only, selectable text that
// changes only through their Browse buttons, and Run Always is kept hidden.
// Enter or a double click in the list edits the selected rule, Delete
// deletes it; no button takes Enter. Close, Esc and the window's close box
// ask before an unsaved rule is lost.
#pragma once

#include <QDialog>

#include "manager/manager_context.h"
#include "manager/setup_rules.h"
#include "manager/ui/rule_printing_view.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vigilo {

class CRuleListCtrl;

class CSetupRulesDlg : public QDialog {
  Q_OBJECT

 public:
  CSetupRulesDlg(ProjectSelection& selection, ManagerContext& context, RuleBrowsers& browsers,
                 QWidget* parent = nullptr);

  SetupRulesLogic& logic() { return logic_; }
  void set_printer_chooser(PrinterChooser choose) { choose_printer_ = std::move(choose); }

  // Shows the logic's state again (after a change made through logic()).
  void Refresh();

  void reject() override;

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
  void OnEnable(bool enabled);
  void OnClose();

  SetupRulesLogic logic_;
  Prompts& prompts_;
  std::string installation_;  // the server directory, for the print's heading
  PrinterChooser choose_printer_;
  QComboBox* tables_;
  QComboBox* actions_;
  QComboBox* targets_;
  QLineEdit* values_;
  QPlainTextEdit* condition_;
  QLabel* edit_state_;
  QLineEdit* filter_;
  CRuleListCtrl* list_;
  QCheckBox* run_always_;
};

}  // namespace vigilo
