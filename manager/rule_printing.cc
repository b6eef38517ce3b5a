#include "manager/rule_printing.h"

#include <algorithm>

#include "common/format.h"
#include "manager/rule_list_table.h"

namespace vigilo {

std::vector<std::string> SetupRulesPrintLines(const RuleList& list) {
  std::vector<std::string> lines;
  lines.reserve(list.size() * 6);
  for (size_t item = 0; item < list.size(); ++item) {
    const RuleRow& row = list.row(item);
    lines.push_back("Rule Id: " + RuleCellText(row, RuleColumn::kRuleId));
    lines.push_back("Action: " + row.action);
    lines.push_back("Target: " + row.target);
    lines.push_back("Values: " + row.values);
    lines.push_back("Condition: " + row.condition);
    lines.push_back("");
  }
  return lines;
}

std::vector<std::string> ViewRulesPrintLines(const RuleList& list, std::vector<size_t> items) {
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  std::vector<std::string> lines;
  for (size_t item : items) {
    if (item >= list.size()) continue;
    const RuleRow& row = list.row(item);
    lines.push_back("Rule Id: " + RuleCellText(row, RuleColumn::kRuleId));
    lines.push_back("Database\\Table: " + row.table);
    lines.push_back("Action: " + row.action);
    lines.push_back("Target: " + row.target);
    lines.push_back("Values: " + row.values);
    lines.push_back("Condition: " + row.condition);
    lines.push_back("");
  }
  return lines;
}

std::vector<std::string> SummaryPrintLines(const std::string& rule_table_path,
                                           std::string* error) {
  return ReadRuleSummaryLines(rule_table_path, error);
}

std::string PrintDate(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

std::vector<std::string> PageHeading(const PrintHeading& heading, size_t page, size_t pages) {
  std::vector<std::string> lines;
  lines.push_back(Format("Vigilo rules of %s, printed %s", heading.installation.c_str(),
                         heading.date.c_str()));
  if (!heading.project_table.empty()) lines.push_back("Project table: " + heading.project_table);
  lines.push_back(Format("Page %zu of %zu", page, pages));
  lines.push_back("");
  return lines;
}

std::vector<std::vector<std::string>> HeadedPages(const std::vector<std::string>& lines,
                                                  const PrintHeading& heading,
                                                  size_t lines_per_page) {
  const size_t heading_lines = PageHeading(heading, 1, 1).size();
  const size_t body = lines_per_page > heading_lines ? lines_per_page - heading_lines : 1;
  std::vector<std::vector<std::string>> pages = PaginateLines(lines, body);
  if (pages.empty()) pages.emplace_back();
  for (size_t i = 0; i < pages.size(); ++i) {
    std::vector<std::string> head = PageHeading(heading, i + 1, pages.size());
    pages[i].insert(pages[i].begin(), head.begin(), head.end());
  }
  return pages;
}

std::vector<std::vector<std::string>> PaginateLines(const std::vector<std::string>& lines,
                                                    size_t lines_per_page) {
  if (lines_per_page == 0) lines_per_page = 1;
  std::vector<std::vector<std::string>> pages;
  for (size_t i = 0; i < lines.size(); i += lines_per_page) {
    size_t end = std::min(lines.size(), i + lines_per_page);
    pages.emplace_back(lines.begin() + static_cast<long>(i), lines.begin() + static_cast<long>(end));
  }
  return pages;
}

}  // namespace vigilo
