// The SQL Query dialog: a rule condition written as a free query, the tables
// to select from and a WHERE clause, stored as "FROM %s WHERE (%s)".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kSqlQueryTitle = "SQL Query";
inline constexpr const char* kSqlQueryIntro = "Enter the Tables Names and the Where Clause";
inline constexpr const char* kSelectFromLabel = "Select &From :";
inline constexpr const char* kWhereClauseLabel = "&Where Clause :";
inline constexpr const char* kSelectTablesButton = "...";
inline constexpr int kSqlQueryHelpTopic = 628;
// Our own: the accessible name of the "..." button.
inline constexpr const char* kSelectTablesButtonName = "Select tables";
inline constexpr int kSelectFromLimit = 127;
inline constexpr int kWhereClauseLimit = 255;
inline constexpr const char* kSqlConditionForm = "FROM %s WHERE (%s)";
inline constexpr const char* kNoTablesMessage = "Please enter a table to select from.";
inline constexpr const char* kNoWhereClauseMessage = "Please enter a valid where clause.";

// A stored free query cut into its table list and its WHERE clause (without
// the parentheses around it), both trimmed.
std::pair<std::string, std::string> SplitSqlCondition(std::string_view condition);

class SqlQueryLogic {
 public:
  explicit SqlQueryLogic(Prompts& prompts) : prompts_(prompts) {}

  // OK: the condition, or std::nullopt with the message of what is missing,
  // or of a query the rule could not hold.
  std::optional<std::string> Ok(std::string_view tables, std::string_view where);

 private:
  Prompts& prompts_;
};

}  // namespace vigilo
