#include "manager/setup_rules.h"

#include <algorithm>

#include "common/file_system.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/project_source.h"
#include "data/project_tables.h"
#include "manager/rule_list_table.h"
#include "manager/rule_printing.h"

namespace vigilo {
namespace {

constexpr const char* kTableDsnSection = "Table DSN";

std::string At(const std::vector<std::string>& list, int index) {
  return index >= 0 && static_cast<size_t>(index) < list.size() ? list[index] : std::string();
}

int FindNoCase(const std::vector<std::string>& list, const std::string& text) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (EqualsNoCase(list[i], text)) return static_cast<int>(i);
  }
  return -1;
}

bool BeginsWithFrom(const std::string& condition) { return condition.rfind("FROM", 0) == 0; }

}  // namespace

std::string SetupRulesState::Table() const { return At(tables, table_index); }
std::string SetupRulesState::Action() const { return At(actions, action_index); }
std::string SetupRulesState::Target() const { return At(targets, target_index); }

std::string ProjectTableName(const std::string& project_table) {
  size_t slash = project_table.find('\\');
  return slash == std::string::npos ? project_table : project_table.substr(slash + 1);
}

std::optional<TestedRule> BuilderRuleToTest(TestedRule rule, const ProjectSelection& selection,
                                            const std::string& condition, Prompts& prompts) {
  if (Trimmed(condition).empty()) {
    prompts.Message(kRuleTestNoConditionMessage);
    return std::nullopt;
  }
  rule.kind = selection.Kind();
  rule.dsn = selection.dsn;
  rule.project_table = selection.project + "\\" + selection.table;
  rule.condition = condition;
  rule.flag &= ~kRuleFlagSqlCondition;
  return rule;
}

SetupRulesLogic::SetupRulesLogic(const CServerPaths& paths, ProjectSelection& selection,
                                 Prompts& prompts, RuleBrowsers& browsers, size_t capacity)
    : paths_(paths),
      selection_(selection),
      prompts_(prompts),
      browsers_(browsers),
      list_(capacity) {}

std::string SetupRulesLogic::ProjectIniPath() const {
  std::string dir = selection_.Kind() == kDbaseKind
                        ? DbaseProjectDirectory(paths_, selection_.project)
                        : paths_.server_dir;
  return ResolveFileCase(JoinPath(dir, selection_.project + ".ini"));
}

bool SetupRulesLogic::Open() {
  FillTables();
  state_.table_index = state_.tables.empty() ? -1 : 0;
  state_.actions = SplitText(kActions, ',');
  std::sort(state_.actions.begin(), state_.actions.end());
  state_.action_index = -1;
  state_.targets.clear();
  state_.target_index = -1;
  LoadRules();
  return !list_.empty();
}

void SetupRulesLogic::FillTables() {
  state_.tables.clear();
  std::string ini = ProjectIniPath();
  if (!OpensForReadWrite(ini)) {
    prompts_.Message(Format(kUnableToOpenFileMessage, ini.c_str()));
    return;
  }
  const std::string& project = selection_.project;
  state_.tables.push_back(project + "\\" + project);
  bool dbase = selection_.Kind() == kDbaseKind;
  for (const ProjectIniTable& listed : ReadProjectIniTables(ini)) {
    if (!dbase) {
      state_.tables.push_back(listed.value);
      continue;
    }
    if (!listed.directory.empty()) {
      // The engine finds a table kept outside the project directory here.
      WriteProfileString(ini, kTableDsnSection, project + "\\" + listed.table, listed.directory);
    }
    state_.tables.push_back(project + "\\" + listed.table);
  }
}

void SetupRulesLogic::LoadRules() {
  list_.Clear();
  std::string table = state_.Table();
  if (table.empty()) return;
  std::string error;
  size_t cut = list_.AddRows(
      ReadTableRules(paths_.rule_table_path, selection_.Kind(), selection_.dsn, table, &error));
  if (!error.empty()) {
    prompts_.Message(Format(kRuleTableUnreadableMessage, error.c_str()), PromptIcon::kWarning);
  }
  if (cut > 0) prompts_.Message(Format(kListCutMessage, list_.capacity()), PromptIcon::kWarning);
}

void SetupRulesLogic::TableChanged(int index) {
  state_.table_index = index;
  edited_rule_id_.reset();
  state_.values.clear();
  state_.condition.clear();
  LoadRules();
}

void SetupRulesLogic::FillTargets() {
  std::string action = state_.Action();
  if (action == "Notify") {
    state_.targets = SplitText(kNotifyTargets, ',');
  } else if (action == "Update") {
    state_.targets = {"Field"};
  } else {
    state_.targets.clear();
  }
  state_.target_index = state_.targets.empty() ? -1 : 0;
}

void SetupRulesLogic::ActionChanged(int index) {
  state_.action_index = index;
  FillTargets();
  state_.values.clear();
}

void SetupRulesLogic::TargetChanged(int index) {
  state_.target_index = index;
  state_.values.clear();
}

void SetupRulesLogic::New() {
  edited_rule_id_.reset();
  state_.values.clear();
  state_.condition.clear();
  state_.run_always_checked = false;
}

bool SetupRulesLogic::Edit(int item) {
  if (item < 0 || static_cast<size_t>(item) >= list_.size()) {
    prompts_.Beep();
    return false;
  }
  const RuleRow row = list_.row(item);
  state_.action_index = FindNoCase(state_.actions, row.action);
  FillTargets();
  state_.target_index = FindNoCase(state_.targets, row.target);
  state_.values = row.values;
  state_.condition = row.condition;
  if (selection_.Kind() == kDbaseKind && (row.flag & kRuleFlagSqlCondition) == 0) {
    state_.run_always_checked = false;
    state_.run_always_enabled = false;
  } else {
    state_.run_always_enabled = true;
    state_.run_always_checked = (row.flag & kRuleFlagRunAlways) != 0;
  }
  edited_rule_id_ = row.rule_id;
  return true;
}

void SetupRulesLogic::StoreTableName() { selection_.table = ProjectTableName(state_.Table()); }

void SetupRulesLogic::BrowseValues() {
  if (state_.action_index < 0 || state_.target_index < 0) return;
  StoreTableName();
  std::string action = state_.Action();
  std::string target = state_.Target();
  std::optional<std::string> values;
  if (action == "Notify" && target == "Address") {
    values = browsers_.InputAddress(selection_, state_.values);
  } else if (action == "Notify") {
    values = browsers_.NotifyList(selection_, target, state_.values);
  } else if (action == "Update") {
    values = browsers_.FieldValues(selection_, state_.values);
  }
  if (values) state_.values = *values;
}

void SetupRulesLogic::BrowseCondition() {
  if (state_.action_index < 0 || state_.target_index < 0) return;
  StoreTableName();
  std::optional<std::string> condition;
  if (state_.condition.empty()) {
    std::optional<RuleBrowsers::QueryType> type = browsers_.SelectQueryType();
    if (!type) return;
    bool visual = *type == RuleBrowsers::QueryType::kVisualQueryBuilder;
    if (selection_.Kind() == kDbaseKind && visual) {
      state_.run_always_checked = false;
      state_.run_always_enabled = false;
    } else {
      state_.run_always_enabled = true;
    }
    condition = visual ? browsers_.QueryBuilder(selection_, state_.condition)
                       : browsers_.SqlQuery(selection_, state_.condition);
  } else if (BeginsWithFrom(state_.condition)) {
    condition = browsers_.SqlQuery(selection_, state_.condition);
  } else {
    condition = browsers_.QueryBuilder(selection_, state_.condition);
  }
  if (condition) state_.condition = *condition;
}

bool SetupRulesLogic::Complete() const {
  return state_.table_index >= 0 && state_.action_index >= 0 && state_.target_index >= 0 &&
         !state_.Table().empty() && !state_.values.empty() && !state_.Action().empty() &&
         !state_.condition.empty() && !state_.Target().empty();
}

bool SetupRulesLogic::FitsRuleTable() {
  struct Check {
    const char* name;
    const std::string& text;
    size_t width;
  };
  const Check checks[] = {
      {"The data source", selection_.dsn, kRuleDsnWidth},
      {"The project table", state_.tables[state_.table_index], kRuleDbTableWidth},
      {"The action", state_.actions[state_.action_index], kRuleActionWidth},
      {"The target", state_.targets[state_.target_index], kRuleTargetWidth},
      {"Values", state_.values, kRuleValuesWidth},
      {"The rule condition", state_.condition, kRuleCondWidth},
  };
  for (const Check& check : checks) {
    if (check.text.size() > check.width) {
      prompts_.Message(Format(kTooLongMessage, check.name, check.width), PromptIcon::kWarning);
      return false;
    }
  }
  return true;
}

bool SetupRulesLogic::SetRunAlways(bool checked) {
  if (!state_.run_always_enabled) return false;
  state_.run_always_checked = checked;
  return true;
}

RuleRecord SetupRulesLogic::ComposedRecord() const {
  RuleRecord record;
  record.db_type = static_cast<int32_t>(selection_.Kind());
  record.dsn = selection_.dsn;
  record.db_table = state_.Table();
  record.action = state_.Action();
  record.target = state_.Target();
  record.values = state_.values;
  record.cond = state_.condition;
  record.flag = state_.run_always_checked ? kRuleFlagRunAlways : 0;
  if (BeginsWithFrom(record.cond)) record.flag |= kRuleFlagSqlCondition;
  return record;
}

void SetupRulesLogic::ReportWriteFailure(const char* message, const RuleTableStatus& status) {
  prompts_.Message(std::string(message) + "\n\n" + status.message, PromptIcon::kWarning);
}

void SetupRulesLogic::AppendToList(const RuleRecord& record) {
  RuleRow row = RuleRowOf(record);
  row.table.clear();
  list_.Append(std::move(row));
  edited_rule_id_ = record.rule_id;
}

bool SetupRulesLogic::Add() {
  if (!Complete()) {
    prompts_.Message(kIncompleteRuleMessage);
    return false;
  }
  if (!FitsRuleTable()) return false;
  if (list_.full()) {
    prompts_.Message(Format(kListFullMessage, list_.capacity()), PromptIcon::kWarning);
    return false;
  }
  RuleRecord record = ComposedRecord();
  // A second click on Add, or a rule composed again by hand, would make the
  // service act twice on every record.
  long same = 0;
  bool duplicate = list_.AnyRow([&](const RuleRow& row) {
    same = row.rule_id;
    return row.action == record.action && row.target == record.target &&
           row.values == record.values && row.condition == record.cond &&
           row.flag == record.flag;
  });
  if (duplicate && !prompts_.AskYesNo(Format(kDuplicateRuleQuestion, same))) return false;
  const std::string& path = paths_.rule_table_path;
  RuleTableStatus status = AppendRule(path, &record);
  if (status.code == RuleTableStatus::Code::kCannotWrite) {
    ReportWriteFailure(kUnableToAddMessage, status);
    return false;
  }
  if (!status.ok()) {
    ReportWriteFailure(Format(kUnableToCreateOrOpenMessage, path.c_str()).c_str(), status);
    return false;
  }
  AppendToList(record);
  return true;
}

bool SetupRulesLogic::AskDelete(int item, const char* verb) {
  if (item < 0 || static_cast<size_t>(item) >= list_.size()) {
    prompts_.Beep();
    return false;
  }
  return prompts_.AskYesNo(Format(kDeleteQuestion, verb));
}

bool SetupRulesLogic::Delete(int item) {
  if (!AskDelete(item, "deleted")) return false;
  const std::string& path = paths_.rule_table_path;
  const long rule_id = list_.row(item).rule_id;
  RuleTableStatus status = DeleteRule(path, static_cast<int32_t>(rule_id));
  if (!status.ok()) {
    ReportWriteFailure(Format(kUnableToOpenFileMessage, path.c_str()).c_str(), status);
    return false;
  }
  // Every record of the id is gone from the table, so every item of it goes,
  // shown or not: one left behind would let Replace write a deleted rule.
  list_.RemoveRule(rule_id);
  return true;
}

bool SetupRulesLogic::Replace(int item) {
  if (item < 0 || static_cast<size_t>(item) >= list_.size()) {
    prompts_.Beep();
    return false;
  }
  if (!Complete()) {
    prompts_.Message(kIncompleteRuleMessage);
    return false;
  }
  // Checked before anything is written, so a rule that cannot be written is
  // never lost.
  if (!FitsRuleTable()) return false;
  if (!AskDelete(item, "replaced")) return false;
  const std::string& path = paths_.rule_table_path;
  const long rule_id = list_.row(item).rule_id;
  // The old records go and the new one comes in one step: a reader sees the
  // old rule or the new one. The replaced rule keeps its reserved fields, so
  // a rule kept from the service stays kept from it when its text changes.
  RuleRecord record = ComposedRecord();
  RuleTableStatus status = ReplaceRule(path, static_cast<int32_t>(rule_id), &record);
  if (status.code == RuleTableStatus::Code::kCannotWrite) {
    ReportWriteFailure(kUnableToAddMessage, status);
    return false;
  }
  if (!status.ok()) {
    ReportWriteFailure(Format(kUnableToOpenFileMessage, path.c_str()).c_str(), status);
    return false;
  }
  // Every record of the id is gone from the table, so every item of it goes,
  // shown or not: one left behind would let Replace write a deleted rule.
  list_.RemoveRule(rule_id);
  AppendToList(record);
  return true;
}

bool SetupRulesLogic::SetEnabled(int item, bool enabled) {
  if (item < 0 || static_cast<size_t>(item) >= list_.size()) {
    prompts_.Beep();
    return false;
  }
  const long rule_id = list_.row(item).rule_id;
  RuleTableStatus status =
      SetRuleDisabled(paths_.rule_table_path, static_cast<int32_t>(rule_id), !enabled);
  if (!status.ok()) {
    ReportWriteFailure(kUnableToChangeMessage, status);
    return false;
  }
  list_.SetRuleDisabled(rule_id, !enabled);
  return true;
}

std::string SetupRulesLogic::EditState() const {
  if (const RuleRow* row = EditedRow()) {
    return Format(RuleSaved() ? kEditingSavedText : kEditingChangedText, row->rule_id);
  }
  return HasUnsavedRule() ? kEditingNewText : "";
}

bool SetupRulesLogic::HasUnsavedRule() const {
  if (EditedRow() != nullptr) return !RuleSaved();
  return !state_.values.empty() || !state_.condition.empty();
}

bool SetupRulesLogic::ConfirmClose() {
  return !HasUnsavedRule() || prompts_.AskYesNo(kDiscardRuleQuestion);
}

const RuleRow* SetupRulesLogic::EditedRow() const {
  return edited_rule_id_ ? list_.FindRule(*edited_rule_id_) : nullptr;
}

std::optional<long> SetupRulesLogic::EditedRuleId() const {
  const RuleRow* row = EditedRow();
  return row ? std::optional<long>(row->rule_id) : std::nullopt;
}

long SetupRulesLogic::RuleFlags() const { return ComposedRecord().flag; }

TestedRule SetupRulesLogic::RuleInDialog() const {
  TestedRule rule;
  rule.kind = selection_.Kind();
  rule.dsn = selection_.dsn;
  rule.project_table = state_.Table();
  rule.action = state_.Action();
  rule.target = state_.Target();
  rule.values = state_.values;
  rule.condition = state_.condition;
  rule.flag = RuleFlags();
  rule.rule_id = EditedRuleId();
  const RuleRow* row = EditedRow();
  rule.disabled = row != nullptr && row->disabled;
  return rule;
}

bool SetupRulesLogic::RuleSaved() const {
  const RuleRow* row = EditedRow();
  return row != nullptr && row->action == state_.Action() && row->target == state_.Target() &&
         row->values == state_.values && row->condition == state_.condition;
}

std::optional<TestedRule> SetupRulesLogic::RuleToTest() {
  TestedRule rule = RuleInDialog();
  if (rule.project_table.empty() || Trimmed(rule.condition).empty()) {
    prompts_.Message(kRuleTestNoConditionMessage);
    return std::nullopt;
  }
  return rule;
}

std::optional<std::vector<std::string>> SetupRulesLogic::Print() {
  if (list_.empty()) {
    prompts_.Message(kNothingToPrintMessage);
    return std::nullopt;
  }
  prompts_.Message(kPrintNoticeMessage);
  return SetupRulesPrintLines(list_);
}

}  // namespace vigilo
