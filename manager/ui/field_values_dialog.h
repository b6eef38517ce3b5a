// CFieldValuesDlg: the assignments of an Update rule, composed from the
// table's updatable fields (FieldValuesLogic). It opens the Values dialog or
// the Input Value dialog for each value.
#pragma once

#include <QDialog>

#include "manager/field_values.h"

class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace vigilo {

class CFieldValuesDlg : public QDialog, private ValueEditor {
  Q_OBJECT

 public:
  CFieldValuesDlg(std::vector<CFieldDef> fields, const std::string& values, Prompts& prompts,
                  QWidget* parent = nullptr);

  // The accepted Values text.
  const std::string& values() const { return values_; }

  void accept() override;

 private:
  std::optional<std::string> ChooseValue(const CFieldDef& field,
                                         const std::string& value) override;
  std::optional<std::string> TypeValue(const std::string& label,
                                       const std::string& value) override;

  void Add();
  void Modify();
  void Remove();
  // Shows the logic's assignments, selecting the one at index when given.
  void ShowAssignments(std::optional<size_t> select);

  Prompts& prompts_;
  FieldValuesLogic logic_;
  QListWidget* fields_;
  QListWidget* assignments_;
  std::string values_;
};

}  // namespace vigilo
