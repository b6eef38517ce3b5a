#include "manager/ui/rule_browsers_qt.h"

#include "common/text.h"
#include "data/date_settings.h"
#include "data/field_defs_reader.h"
#include "data/server_paths.h"
#include "manager/setup_rules.h"
#include "manager/ui/field_values_dialog.h"
#include "manager/ui/input_value_dialog.h"
#include "manager/ui/notify_list_dialog.h"
#include "manager/ui/query_builder_dialog.h"
#include "manager/ui/query_type_dialog.h"
#include "manager/ui/rule_test_dialog.h"
#include "manager/ui/sql_query_dialog.h"

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
  dialog.set_tester([this, &dialog, selection](const std::string& tried) {
    if (Trimmed(tried).empty()) {
      prompts_.Message(kRuleTestNoConditionMessage);
      return;
    }
    TestedRule rule = rule_source_ ? rule_source_() : TestedRule();
    rule.kind = selection.Kind();
    rule.dsn = selection.dsn;
    rule.project_table = selection.project + "\\" + selection.table;
    rule.condition = tried;
    rule.flag &= ~kRuleFlagSqlCondition;
    CRuleTestDlg test(std::move(rule), prompts_, CRuleTestDlg::MarkOffer::kNone, &dialog);
    test.exec();
  });
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
