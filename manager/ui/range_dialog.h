// CRangeDlg and CFromToDlg: the two small dialogs the Where Condition dialogs
// open for a range expression and for a from-to change of a field.
#pragma once

#include <QDialog>

#include "manager/from_to.h"
#include "manager/range.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace vigilo {

class CRangeDlg : public QDialog {
  Q_OBJECT

 public:
  // check: why an operand cannot stand in the range (none by default).
  CRangeDlg(const std::string& field_label, char date_separator, const std::string& current,
            Prompts& prompts, QWidget* parent = nullptr, OperandCheck check = {});

  const std::string& text() const { return text_; }

  void accept() override;

 private:
  RangeLogic logic_;
  QLineEdit* from_;
  QLineEdit* to_;
  QLabel* reason_;  // why the operands cannot be stored
  std::string text_;
};

class CFromToDlg : public QDialog {
  Q_OBJECT

 public:
  CFromToDlg(const CFieldDef* field, const std::string& field_label, const std::string& current,
             Prompts& prompts, QWidget* parent = nullptr);

  const std::string& text() const { return text_; }

  void accept() override;

 private:
  FromToLogic logic_;
  QComboBox* from_;
  QComboBox* to_;
  std::string text_;
};

}  // namespace vigilo
