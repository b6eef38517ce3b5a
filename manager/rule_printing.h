// The lines the rule manager prints: prepared by Setup Rules (every rule of
// the shown table) and View of Rules (the selected rules), or the summary
// form of all rules when the Print command comes with no prepared lines.
// Lines that do not fit on one page continue on the next; every page starts
// with a heading saying whose rules they are, when, and which page it is.
#pragma once

#include <cstddef>
#include <ctime>
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

// What heads every printed page.
struct PrintHeading {
  std::string installation;   // the server directory whose rules are printed
  std::string date;           // when the print was made
  std::string project_table;  // the table of Setup Rules' print; empty for the others
};

// The day and time of a print, "2026-12-09 18:30", in local time.
std::string PrintDate(std::time_t when);

// The heading of page (from 1) of pages: "Vigilo rules of <installation>,
// printed <date>", "Project table: <table>" when there is one, "Page n of m",
// and an empty line.
std::vector<std::string> PageHeading(const PrintHeading& heading, size_t page, size_t pages);

// The lines cut into pages of lines_per_page, each starting with its heading
// (a print of no lines is one page with the heading alone). The heading
// leaves at least one line of each page for the rules.
std::vector<std::vector<std::string>> HeadedPages(const std::vector<std::string>& lines,
                                                  const PrintHeading& heading,
                                                  size_t lines_per_page);

// The lines cut into pages of lines_per_page (at least one line a page).
std::vector<std::vector<std::string>> PaginateLines(const std::vector<std::string>& lines,
                                                    size_t lines_per_page);

}  // namespace vigilo
