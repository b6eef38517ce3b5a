// The lines the rule manager prints: prepared by Setup Rules (every rule of
// the shown table) and View of Rules (the selected rules), or the summary
// form of all rules when the Print command comes with no prepared lines.
// Lines that do not fit on one page continue on the next.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "manager/rule_list.h"

namespace vigilo {

inline constexpr const char* kNothingToPrintMessage = "Nothing to print!";
inline constexpr const char* kPrintNoticeMessage = "Print";
inline constexpr const char* kNoRulesSelectedMessage =
    "Unable, to Print the rules!\nPlease, select the rules you want to print and try again.";

// Five lines and an empty one per rule, in list order.
std::vector<std::string> SetupRulesPrintLines(const RuleList& list);
// Six lines and an empty one per selected item, in list order whatever the
// order of items.
std::vector<std::string> ViewRulesPrintLines(const RuleList& list, std::vector<size_t> items);
// The summary form of every rule of the rule table, in RuleId order; *error
// says why a table that opens cannot be read (ReadRuleSummaryLines).
std::vector<std::string> SummaryPrintLines(const std::string& rule_table_path,
                                           std::string* error = nullptr);

// The lines cut into pages of lines_per_page (at least one line a page).
std::vector<std::vector<std::string>> PaginateLines(const std::vector<std::string>& lines,
                                                    size_t lines_per_page);

}  // namespace vigilo
