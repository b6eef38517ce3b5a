// CLoginDlg: the login dialog "Verify Password " that the rule manager runs
// behind its main window at start-up; OK lets only "sysop" with the right
// password through (LoginLogic).
#pragma once

#include <QDialog>

#include "manager/login.h"

class QLineEdit;

namespace vigilo {

class CLoginDlg : public QDialog {
  Q_OBJECT

 public:
  CLoginDlg(Prompts& prompts, UserTableReader read_users, QWidget* parent = nullptr);


  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  LoginLogic logic_;
  QLineEdit* name_;
  QLineEdit* password_;
};

}  // namespace vigilo
