#include "manager/ui/rule_browsers_qt.h"

#include "manager/ui/field_values_dialog.h"
#include "manager/ui/input_value_dialog.h"
#include "manager/ui/notify_list_dialog.h"

namespace vigilo {

// ---- Values: the notify list, input value and field values dialogs ----

std::optional<std::string> RuleBrowsersQt::InputAddress(const ProjectSelection& /*selection*/,
                                                        const std::string& values) {
  CInputValueDlg dialog(kInternetAddressLabel, values, prompts_, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.value();
}

std::optional<std::string> RuleBrowsersQt::NotifyList(const ProjectSelection& selection,
                                                      const std::string& target,
                                                      const std::string& values) {
  CNotifyListDlg dialog(target, NotifyListLogic::Entries(target, paths_, selection, prompts_),
                        values, prompts_, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.values();
}

std::optional<std::string> RuleBrowsersQt::FieldValues(const ProjectSelection& selection,
                                                       const std::string& values) {
  CFieldValuesDlg dialog(ReadSelectionFields(paths_, selection, prompts_), values, prompts_,
                         parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.values();
}

// ---- Rule Condition: the query type, Query Builder and SQL Query dialogs ----

std::optional<RuleBrowsers::QueryType> RuleBrowsersQt::SelectQueryType() { return std::nullopt; }

std::optional<std::string> RuleBrowsersQt::QueryBuilder(const ProjectSelection& /*selection*/,
                                                        const std::string& /*condition*/) {
  return std::nullopt;
}

std::optional<std::string> RuleBrowsersQt::SqlQuery(const ProjectSelection& /*selection*/,
                                                    const std::string& /*condition*/) {
  return std::nullopt;
}

}  // namespace vigilo
