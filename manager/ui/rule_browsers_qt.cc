#include "manager/ui/rule_browsers_qt.h"

#include "data/date_settings.h"
#include "data/field_defs_reader.h"
#include "data/server_paths.h"
#include "manager/ui/query_builder_dialog.h"
#include "manager/ui/query_type_dialog.h"
#include "manager/ui/sql_query_dialog.h"

namespace vigilo {

// --- The values dialogs -------------------------------------------------

std::optional<std::string> QtRuleBrowsers::InputAddress(const ProjectSelection&,
                                                        const std::string&) {
  return std::nullopt;
}

std::optional<std::string> QtRuleBrowsers::NotifyList(const ProjectSelection&,
                                                      const std::string&, const std::string&) {
  return std::nullopt;
}

std::optional<std::string> QtRuleBrowsers::FieldValues(const ProjectSelection&,
                                                       const std::string&) {
  return std::nullopt;
}

// --- The condition dialogs ----------------------------------------------

std::optional<RuleBrowsers::QueryType> QtRuleBrowsers::SelectQueryType() {
  CQueryTypeDlg dialog(parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.choice();
}

std::optional<std::string> QtRuleBrowsers::QueryBuilder(const ProjectSelection& selection,
                                                        const std::string& condition) {
  CServerPaths paths(CServerPaths::Program::kManager);
  long kind = selection.Kind();
  std::vector<CFieldDef> fields;
  std::string message;
  // Without the table's definitions the change-history fields are still
  // offered, and the supervisor is told why the others are missing.
  if (!ReadFieldDefs(FieldDefsIniPath(paths, kind, selection.project, selection.table), fields,
                     &message)) {
    prompts_.Message(message, PromptIcon::kWarning);
  }
  CQueryBuilderDlg dialog(kind, std::move(fields), condition, DateSettingsOf(paths), prompts_,
                          parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.condition();
}

std::optional<std::string> QtRuleBrowsers::SqlQuery(const ProjectSelection& selection,
                                                    const std::string& condition) {
  TableLister tables = [selection] {
    CServerPaths paths(CServerPaths::Program::kManager);
    return ProjectTableFromNames(paths, selection.Kind(), selection.dsn, selection.project);
  };
  CSqlQueryDlg dialog(condition, std::move(tables), prompts_, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.condition();
}

}  // namespace vigilo
