// CRule, CUpdateRule, CNotifyRule: one rule of the rule table as the engine
// keeps it.
//
// A CRule carries the record's fields (texts with trailing blanks removed)
// and the SQL prepared from its condition when it is loaded: the selection
// of newly matching records, the flag-table select, the WHERE condition and
// the FROM list. An update rule adds its update statement template, a notify
// rule its report columns and recipients. Rules belong to the CProjectTable
// that runs them; everyone else holds plain pointers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vigilo {

// Bit 0 of Flag: Cond holds an SQL "FROM ... WHERE ..." text.
inline constexpr int32_t kRuleFlagSqlCondition = 1;

class CRule {
 public:
  CRule() = default;
  virtual ~CRule() = default;

  // Prepared at load time from the condition.
  std::string selection;        // records that meet the condition, not yet flagged
  int32_t uses_chnghist = 0;    // 1 when the condition joins the change history
  std::string where_condition;  // the condition as SQL
  std::string flag_select;      // the rule's FormIDs in the flag table
  std::string from_list;        // the tables after FROM

  // The rule table record.
  int32_t rule_id = 0;
  int32_t db_type = 0;
  std::string dsn;
  std::string db_table;  // project and table joined by one backslash
  std::string action;    // "Update" or "Notify", compared exactly
  std::string target;
  std::string values;
  std::string cond;
  int32_t flag = 0;

  // The record fields only (the prepared SQL stays empty).
  void CopyRecord(const CRule& record);
};

class CUpdateRule : public CRule {
 public:
  CUpdateRule() = default;
  explicit CUpdateRule(const CRule& record) { CopyRecord(record); }

  std::string update_statement;  // template of the UPDATE statement
};

class CNotifyRule : public CRule {
 public:
  CNotifyRule() = default;
  explicit CNotifyRule(const CRule& record) { CopyRecord(record); }

  std::string report_columns;  // columns of the message text
  // Resolved recipients, each once; absent when none were resolved.
  std::optional<std::vector<std::string>> addresses;
  // Target "Field": the record fields that hold recipients.
  std::optional<std::vector<std::string>> field_names;
};

}  // namespace vigilo
