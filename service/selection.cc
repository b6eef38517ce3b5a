#include "service/selection.h"

#include <algorithm>

#include "common/format.h"
#include "common/text.h"
#include "data/condition.h"
#include "data/date_settings.h"
#include "data/log_stream.h"
#include "data/server_paths.h"
#include "data/translation_context.h"
#include "service/project.h"
#include "service/project_table.h"

namespace vigilo {
SelectionNames SelectionNamesOf(const TableNames& table, int32_t db_type) {
  SelectionNames names;
  names.db_type = db_type;
  names.table = table.qualified_table;
  names.table_from = table.from_table;
  names.chnghist = table.qualified_change_history;
  names.chnghist_from = table.from_change_history;
  names.flag_from = table.from_flag;
  return names;
}

int ReplaceChngHistPrefix(std::string& text, std::string_view chnghist) {
  constexpr std::string_view kPrefix = "ChngHist->";
  const std::string replacement = std::string(chnghist) + ".";
  int count = 0;
  for (size_t pos = text.find(kPrefix); pos != std::string::npos;
       pos = text.find(kPrefix, pos + replacement.size())) {
    text.replace(pos, kPrefix.size(), replacement);
    ++count;
  }
  return count;
}

bool SplitSqlCondition(std::string_view cond, std::string* from_list, std::string* where) {
  from_list->clear();
  where->clear();
  if (cond.size() < 5) return false;
  std::string_view rest = cond.substr(5);  // "FROM "
  const size_t pos = rest.find("WHERE");
  if (pos == std::string_view::npos) {
    *from_list = Trimmed(rest);
    return false;
  }
  // The list ends one character before "WHERE" (the blank that joins them).
  *from_list = Trimmed(rest.substr(0, pos > 0 ? pos - 1 : 0));
  *where = Trimmed(rest.substr(std::min(rest.size(), pos + 6)));
  return true;
}

void BuildSelectionSql(CRule& rule, const SelectionNames& names,
                       const ConditionTranslator& translate) {
  std::string condition;
  rule.uses_chnghist = 0;
  if ((rule.flag & kRuleFlagSqlCondition) != 0) {
    SplitSqlCondition(rule.cond, &rule.from_list, &condition);
  } else {
    std::string text = rule.cond;
    RewriteConnectors(text);
    condition = translate ? translate(text) : std::string();
    if (ReplaceChngHistPrefix(condition, names.chnghist) > 0) rule.uses_chnghist = 1;
    rule.from_list = names.table_from;
    if (rule.uses_chnghist) rule.from_list += "," + names.chnghist_from;
  }
  rule.where_condition = SubstituteDateFunction(condition, names.db_type);

  const long rule_id = rule.rule_id;
  rule.flag_select =
      Format("SELECT DISTINCT FormID FROM %s WHERE RuleID =%ld", names.flag_from.c_str(), rule_id);
  if (rule.uses_chnghist) {
    rule.selection = Format("SELECT DISTINCT %s.FormID FROM %s WHERE %s.FormID =%s.FormID AND ",
                            names.table.c_str(), rule.from_list.c_str(), names.table.c_str(),
                            names.chnghist.c_str());
  } else {
    rule.selection = Format("SELECT DISTINCT %s.FormID FROM %s WHERE ", names.table.c_str(),
                            rule.from_list.c_str());
  }
  rule.selection += Format("%s.FormID NOT IN (%s) AND (%s)", names.table.c_str(),
                           rule.flag_select.c_str(), rule.where_condition.c_str());
}

TranslationContext CProjectTable::ConditionContext() const {
  const int32_t db_type = project()->db_type();
  // An invalid date in a condition is a message for the supervisor; the
  // service has no desktop, so it goes where its message boxes go.
  Reporter report = [this](const std::string& message) {
    std::string_view line = message;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (log != nullptr) log->Report(line);
  };
  TranslationContext context;
  if (settings != nullptr) {
    context = MakeTranslationContext(*settings, db_type, CServerPaths::Program::kService, report);
  } else {
    context.kind = db_type;
    context.report = report;
  }
  return context;
}

int CProjectTable::BuildSelection(CRule& rule) {
  const TranslationContext context = ConditionContext();
  const std::vector<CFieldDef>& table_fields = field_defs;
  auto translate = [&](const std::string& text) {
    return TranslateCondition(text, table_fields, context);
  };
  BuildSelectionSql(rule, SelectionNamesOf(names(), project()->db_type()), translate);
  return 1;
}

}  // namespace vigilo
