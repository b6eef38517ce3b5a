// CRule, CUpdateRule, CNotifyRule: one rule of the rule table as the engine
// keeps it.
//
// A CRule is the rule table's record (RuleRecord, texts with trailing
// blanks removed) and the SQL prepared from its condition when it is loaded: the selection
// of newly matching records, the flag-table select, the WHERE condition and
// the FROM list. An update rule adds its update statement template, a notify
// rule its report columns and recipients. Rules belong to the CProjectTable
// that runs them; everyone else holds plain pointers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/rule_table.h"

namespace vigilo {

class CRule : public RuleRecord {
 public:
  CRule() = default;
  explicit CRule(const RuleRecord& record) : RuleRecord(record) {}
  virtual ~CRule() = default;

  // Prepared at load time from the condition.
  std::string selection;        // records that meet the condition, not yet flagged
  int32_t uses_chnghist = 0;    // 1 when the condition joins the change history
  std::string where_condition;  // the condition as SQL
  std::string flag_select;      // the rule's FormIDs in the flag table
  std::string from_list;        // the tables after FROM

  const RuleRecord& record() const { return *this; }
};

class CUpdateRule : public CRule {
 public:
  CUpdateRule() = default;
  explicit CUpdateRule(const RuleRecord& record) : CRule(record) {}

  std::string update_statement;  // template of the UPDATE statement
};

class CNotifyRule : public CRule {
 public:
  CNotifyRule() = default;
  explicit CNotifyRule(const RuleRecord& record) : CRule(record) {}

  std::string report_columns;  // columns of the message text
  // Resolved recipients, each once; absent when none were resolved.
  std::optional<std::vector<std::string>> addresses;
  // Target "Field": the record fields that hold recipients.
  std::optional<std::vector<std::string>> field_names;
};

}  // namespace vigilo
