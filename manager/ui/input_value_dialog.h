// CInputValueDlg: one labelled edit for a typed value — an Internet address
// of a Notify rule, or the value of a plain field in the Field Values dialog
// (InputValueLogic).
#pragma once

#include <QDialog>

#include "manager/input_value.h"

class QLabel;
class QLineEdit;

namespace vigilo {

class CInputValueDlg : public QDialog {
  Q_OBJECT

 public:
  // The edit starts with value; numeric: for a number field, whose value is
  // checked as it is typed.
  CInputValueDlg(const std::string& label, const std::string& value, Prompts& prompts,
                 QWidget* parent = nullptr, bool numeric = false);

  // The accepted text.
  const std::string& value() const { return value_; }

  void accept() override;

 private:
  InputValueLogic logic_;
  QLineEdit* edit_;
  QLabel* reason_;  // why the typed value is refused
  std::string value_;
};

}  // namespace vigilo
