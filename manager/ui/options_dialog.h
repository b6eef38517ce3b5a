// COptionsDlg: the Options dialog, in which the supervisor sets how many
// minutes pass between two firings of the rules (OptionsLogic).
#pragma once

#include <QDialog>

#include "manager/options.h"

class QLabel;
class QLineEdit;

namespace vigilo {

class COptionsDlg : public QDialog {
  Q_OBJECT

 public:
  COptionsDlg(const std::string& program_ini_path, Prompts& prompts, QWidget* parent = nullptr);


  void accept() override;

 private:
  OptionsLogic logic_;
  QLineEdit* interval_;
  QLabel* reason_;  // why OK would refuse the interval
};

}  // namespace vigilo
