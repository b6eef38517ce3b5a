#include "manager/ui/rule_browsers_qt.h"

#include "data/server_paths.h"
#include "manager/ui/field_values_dialog.h"
#include "manager/ui/input_value_dialog.h"
#include "manager/ui/notify_list_dialog.h"

namespace vigilo {

// --- The values dialogs -------------------------------------------------

std::optional<std::string> QtRuleBrowsers::InputAddress(const ProjectSelection&,
                                                        const std::string& values) {
  CInputValueDlg dialog(kInternetAddressLabel, values, prompts_, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.value();
}

std::optional<std::string> QtRuleBrowsers::NotifyList(const ProjectSelection& selection,
                                                      const std::string& target,
                                                      const std::string& values) {
  CServerPaths paths(CServerPaths::Program::kManager);
  CNotifyListDlg dialog(target, NotifyListLogic::Entries(target, paths, selection, prompts_),
                        values, prompts_, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.values();
}

std::optional<std::string> QtRuleBrowsers::FieldValues(const ProjectSelection& selection,
                                                       const std::string& values) {
  CServerPaths paths(CServerPaths::Program::kManager);
  CFieldValuesDlg dialog(ReadSelectionFields(paths, selection, prompts_), values, prompts_,
                         parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.values();
}

// --- The condition dialogs ----------------------------------------------

std::optional<RuleBrowsers::QueryType> QtRuleBrowsers::SelectQueryType() { return std::nullopt; }

std::optional<std::string> QtRuleBrowsers::QueryBuilder(const ProjectSelection&,
                                                        const std::string&) {
  return std::nullopt;
}

std::optional<std::string> QtRuleBrowsers::SqlQuery(const ProjectSelection&, const std::string&) {
  return std::nullopt;
}

}  // namespace vigilo
