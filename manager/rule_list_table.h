// The rule table as the rule manager's lists read it: the rules of one
// project table for Setup Rules, all rules for View of Rules and the summary
// print. The table itself (layout, record, writes) is data/rule_table.
//
// A missing table, or one that cannot be opened for reading and writing,
// gives an empty list without a word, as the dialogs always did; a table that
// opens but cannot be read (damaged, a field missing) gives an empty list and
// an error naming the file and the reason, for the dialog to show.
#pragma once

#include <string>
#include <vector>

#include "data/rule_table.h"
#include "manager/rule_list.h"

namespace vigilo {


// Every rule with a rule id above 0, ordered by DbTable (rules of one table
// in the order they were written).
OrderedRuleRows ReadAllRules(const std::string& path, std::string* error = nullptr);

// The rules of one project table (kind, data source and Project Table text,
// letter case ignored) in RuleId order; row.table stays empty.
OrderedRuleRows ReadTableRules(const std::string& path, long kind, const std::string& dsn,
                               const std::string& table, std::string* error = nullptr);

// The summary print lines: "007 Notify User bob" and, with a condition,
// "... if (Status) is Open", in RuleId order.
std::vector<std::string> ReadRuleSummaryLines(const std::string& path,
                                              std::string* error = nullptr);

// The message a dialog shows for a rule table that cannot be read.
inline constexpr const char* kRuleTableUnreadableMessage = "The rule table cannot be read: %s";

// The rule row a list shows for a record.
RuleRow RuleRowOf(const RuleRecord& record);

}  // namespace vigilo
