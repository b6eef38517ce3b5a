// CViewRulesDlg: the View of Rules dialog (ViewRulesLogic): every rule in a
// sortable list with several rules selectable, Print for the selected ones
// and Close.
#pragma once

#include <QDialog>

#include "manager/manager_context.h"
#include "manager/view_rules.h"
#include "manager/ui/rule_printing_view.h"

namespace vigilo {

class CRuleListCtrl;

class CViewRulesDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CViewRulesDlg(ManagerContext& context, QWidget* parent = nullptr);

  ViewRulesLogic& logic() { return logic_; }
  void set_printer_chooser(PrinterChooser choose) { choose_printer_ = std::move(choose); }

 private:
  void OnPrint();

  ViewRulesLogic logic_;
  std::string installation_;  // the server directory, for the print's heading
  PrinterChooser choose_printer_;
  CRuleListCtrl* list_;
};

}  // namespace vigilo
