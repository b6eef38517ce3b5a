#include "manager/sql_query.h"

#include "common/format.h"
#include "common/text.h"
#include "manager/query_builder.h"

namespace vigilo {
namespace {

constexpr size_t kTablesStart = 5;  // after "FROM "

}  // namespace

std::pair<std::string, std::string> SplitSqlCondition(std::string_view condition) {
  if (condition.size() <= kTablesStart) return {};
  size_t where = condition.find("WHERE", kTablesStart);
  if (where == std::string_view::npos) return {Trimmed(condition.substr(kTablesStart)), ""};
  std::string tables = Trimmed(condition.substr(kTablesStart, where - kTablesStart));
  // After "WHERE" and its blank comes the clause in parentheses.
  size_t open = where + 6;
  std::string clause;
  if (open + 1 < condition.size()) {
    clause = Trimmed(condition.substr(open + 1, condition.size() - open - 2));
  }
  return {tables, clause};
}

std::optional<std::string> SqlQueryLogic::Ok(std::string_view tables, std::string_view where) {
  std::string from(tables.substr(0, kSelectFromLimit));
  std::string clause(where.substr(0, kWhereClauseLimit));
  if (from.empty()) {
    prompts_.Message(kNoTablesMessage);
    return std::nullopt;
  }
  if (clause.empty()) {
    prompts_.Message(kNoWhereClauseMessage);
    return std::nullopt;
  }
  std::string condition = Format(kSqlConditionForm, from.c_str(), clause.c_str());
  if (condition.size() > kConditionLimit) {
    prompts_.Message(Format(kConditionTooLongMessage, condition.size(), kConditionLimit),
                     PromptIcon::kWarning);
    return std::nullopt;
  }
  return condition;
}

}  // namespace vigilo
