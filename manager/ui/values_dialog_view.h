// CValuesDlg: the value of a list or user field chosen from its choices,
// one or several by the field's multi-value flag (ValuesLogic).
#pragma once

#include <QDialog>

#include "manager/values_dialog.h"

class QLineEdit;
class QListWidget;

namespace vigilo {

class CValuesDlg : public QDialog {
  Q_OBJECT

 public:
  CValuesDlg(const CFieldDef& field, const std::string& value, Prompts& prompts,
             QWidget* parent = nullptr);

  // The accepted value.
  const std::string& value() const { return value_; }

  void accept() override;

 private:
  ValuesLogic logic_;
  QListWidget* list_;
  QLineEdit* other_;
  std::string value_;
};

}  // namespace vigilo
