#include "service/selection.h"

#include <algorithm>

#include "common/format.h"
#include "common/text.h"

namespace vigilo {
namespace {

void ReplaceSameLength(std::string& text, std::string_view from, std::string_view to) {
  for (size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

SelectionNames SelectionNamesOf(const TableSource& source, int32_t db_type) {
  SelectionNames names;
  names.db_type = db_type;
  names.table = source.table_qualified;
  names.table_from = source.table_from;
  names.chnghist = source.chnghist_qualified;
  names.chnghist_from = source.chnghist_from;
  names.flag_from = source.flag_from;
  return names;
}

void RewriteConnectors(std::string& condition) {
  ReplaceSameLength(condition, ".AND.", " AND ");
  ReplaceSameLength(condition, ".OR.", " OR ");
  ReplaceSameLength(condition, ".NOT.", " NOT ");
}

std::string SubstituteDateFunction(std::string_view text, int32_t db_type) {
  std::string_view replacement;
  switch (db_type) {
    case 0: replacement = "DATE()"; break;
    case 1:
    case 3: replacement = "getdate()"; break;
    case 2: replacement = "sysdate"; break;
    default: return std::string(text);
  }
  constexpr std::string_view kToken = "DATE()";
  const std::string upper = ToUpper(text);
  std::string result;
  result.reserve(text.size() + 8);
  size_t copied = 0;
  for (size_t pos = upper.find(kToken); pos != std::string::npos;
       pos = upper.find(kToken, pos + kToken.size())) {
    // At the very start, or as the end of a longer name (MYDATE()), the six
    // characters are no date function.
    if (pos == 0 || IsAsciiLetter(upper[pos - 1])) continue;
    result.append(text.substr(copied, pos - copied));
    result.append(replacement);
    copied = pos + kToken.size();
  }
  result.append(text.substr(copied));
  return result;
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

bool BuildSelectionSql(CRule& rule, const SelectionNames& names,
                       const ConditionTranslator& translate, std::string* problem) {
  bool usable = true;
  std::string condition;
  rule.uses_chnghist = 0;
  if ((rule.flag & kRuleFlagSqlCondition) != 0) {
    if (!SplitSqlCondition(rule.cond, &rule.from_list, &condition)) {
      usable = false;
      if (problem != nullptr) *problem = "its SQL condition has no WHERE clause";
    }
  } else {
    std::string text = rule.cond;
    RewriteConnectors(text);
    condition = translate ? translate(text) : std::string();
    if (ReplaceChngHistPrefix(condition, names.chnghist) > 0) rule.uses_chnghist = 1;
    rule.from_list = names.table_from;
    if (rule.uses_chnghist) rule.from_list += "," + names.chnghist_from;
  }
  rule.where_condition = SubstituteDateFunction(condition, names.db_type);
  if (usable && Trimmed(rule.where_condition).empty()) {
    usable = false;
    if (problem != nullptr) *problem = "its condition gives no SQL";
  }

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
  return usable;
}

}  // namespace vigilo
