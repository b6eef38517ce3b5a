// The rule list: column sorting, its capacity, and the print lines made from
// it.
#include "manager/rule_list.h"

#include <gtest/gtest.h>

#include "manager/rule_printing.h"

namespace vigilo {
namespace {

std::vector<long> Ids(const RuleList& list) {
  std::vector<long> ids;
  for (size_t item = 0; item < list.size(); ++item) ids.push_back(list.row(item).rule_id);
  return ids;
}

// Rows as read from the rule table: id, table, action, target, values and
// condition, in file order.
OrderedRuleRows Rows(const std::vector<RuleRow>& rows) {
  OrderedRuleRows ordered{rows, {}};
  for (uint32_t i = 0; i < rows.size(); ++i) ordered.order.push_back(i);
  return ordered;
}

TEST(RuleListTest, RuleIdSortsNumericallyDescendingOnTheSecondClickAndAscendingOnTheThird) {
  RuleList list(100);
  list.AddRows(Rows(
      {{9, "", "A", "B", "C", "D"}, {10, "", "a", "b", "c", "d"}, {1, "", "x", "y", "z", "w"}}));
  list.ColumnClick(RuleColumn::kRuleId);
  EXPECT_EQ(Ids(list), (std::vector<long>{1, 9, 10}));
  list.ColumnClick(RuleColumn::kRuleId);
  EXPECT_EQ(Ids(list), (std::vector<long>{10, 9, 1}));
  list.ColumnClick(RuleColumn::kRuleId);
  EXPECT_EQ(Ids(list), (std::vector<long>{1, 9, 10}));
  // Another column always starts ascending, case ignored.
  list.ColumnClick(RuleColumn::kAction);
  list.ColumnClick(RuleColumn::kTarget);
  EXPECT_EQ(list.sorted_column(), static_cast<int>(RuleColumn::kTarget));
  EXPECT_EQ(Ids(list), (std::vector<long>{9, 10, 1}));  // B = b < y, ties keep order
}

TEST(RuleListTest, TextColumnsCompareWithoutRegardToCase) {
  RuleList list(100);
  list.AddRows(Rows({{1, "", "Update", "Field", "beta", "c"},
                     {2, "", "Notify", "User", "Alpha", "c"},
                     {3, "", "Notify", "User", "ALPHA2", "c"}}));
  list.ColumnClick(RuleColumn::kValues);
  EXPECT_EQ(Ids(list), (std::vector<long>{2, 3, 1}));
  list.ColumnClick(RuleColumn::kValues);
  EXPECT_EQ(Ids(list), (std::vector<long>{1, 3, 2}));
}

TEST(RuleListTest, TheListStopsAtItsCapacity) {
  RuleList list(2);
  EXPECT_EQ(
      list.AddRows(Rows(
          {{1, "", "a", "b", "c", "d"}, {2, "", "a", "b", "c", "d"}, {3, "", "a", "b", "c", "d"}})),
      1u);
  EXPECT_EQ(Ids(list), (std::vector<long>{1, 2}));
  EXPECT_TRUE(list.full());
  EXPECT_FALSE(list.Append(RuleRow{}));
  list.Remove(0);
  RuleRow fourth;
  fourth.rule_id = 4;
  EXPECT_TRUE(list.Append(fourth));
  EXPECT_EQ(Ids(list), (std::vector<long>{2, 4}));
}

TEST(RuleListTest, FilteredPositionsCountShownItemsWhileAddsStayShownAndDeletesReachHiddenOnes) {
  RuleList list(100);
  list.AddRows(Rows({{1, "P\\T", "Notify", "User", "bob", "(A) is 1"},
                     {2, "P\\U", "Update", "Field", "X=1", "(B) is 2"},
                     {13, "P\\T", "Notify", "Group", "Bobby", "(C) is 3"}}));
  list.SetRuleDisabled(2, true);
  list.SetFilter("yes");  // Enabled: Yes
  ASSERT_TRUE(list.Append(RuleRow{20}));  // shown though it does not match
  list.Remove(0);
  EXPECT_EQ(Ids(list), (std::vector<long>{13, 20}));
  list.RemoveRule(2);
  list.SetFilter("");
  EXPECT_EQ(Ids(list), (std::vector<long>{13, 20}));
}

TEST(RulePrintingTest, SetupRulesPrintsSixLinesPerRule) {
  RuleList list(100);
  list.AddRows(Rows({{1, "", "Notify", "User", "bob", "(A) is 1"},
                     {2, "", "Update", "Field", "X=1", "(B) is 2", 2},
                     {3, "", "Notify", "Group", "dev", "(C) is 3"}}));
  std::vector<std::string> lines = SetupRulesPrintLines(list);
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[0], "Rule Id: 1");
  EXPECT_EQ(lines[1], "Action: Notify");
  EXPECT_EQ(lines[2], "Target: User");
  EXPECT_EQ(lines[3], "Values: bob");
  EXPECT_EQ(lines[4], "Condition: (A) is 1");
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(lines[17], "");
}

TEST(RulePrintingTest, ViewRulesPrintsTheSelectedItemsInListOrder) {
  RuleList list(100);
  list.AddRows(Rows({{1, "P\\T", "Notify", "User", "bob", "c1"},
                     {2, "P\\U", "Update", "Field", "X=1", "c2"},
                     {3, "P\\T", "Notify", "Group", "dev", "c3"}}));
  list.ColumnClick(RuleColumn::kRuleId);
  list.ColumnClick(RuleColumn::kRuleId);  // 3, 2, 1
  std::vector<std::string> lines = ViewRulesPrintLines(list, {2, 0});
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[0], "Rule Id: 3");
  EXPECT_EQ(lines[1], "Database\\Table: P\\T");
  EXPECT_EQ(lines[7], "Rule Id: 1");
  EXPECT_EQ(lines[12], "Condition: c1");
}

TEST(RulePrintingTest, LinesThatDoNotFitContinueOnTheNextPage) {
  std::vector<std::string> lines(7, "x");
  auto pages = PaginateLines(lines, 3);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[2].size(), 1u);
  EXPECT_EQ(PaginateLines(lines, 0).size(), 7u);
  EXPECT_TRUE(PaginateLines({}, 3).empty());
}

TEST(RulePrintingTest, EveryPageIsHeadedWithTheInstallationTableAndPageNumber) {
  PrintHeading heading{"/srv/vigilo", "2026-12-09 18:30", "Demo\\Bugs"};
  auto pages = HeadedPages(std::vector<std::string>(5, "x"), heading, 7);
  ASSERT_EQ(pages.size(), 2u);  // four heading lines leave three for rules
  EXPECT_EQ(pages[0][0], "Vigilo rules of /srv/vigilo, printed 2026-12-09 18:30");
  EXPECT_EQ(pages[0][1], "Project table: Demo\\Bugs");
  EXPECT_EQ(pages[1][2], "Page 2 of 2");
  EXPECT_EQ(pages[1].size(), 6u);
  heading.project_table.clear();
  auto empty = HeadedPages({}, heading, 2);  // no table line; the heading alone
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0], (std::vector<std::string>{PageHeading(heading, 1, 1)[0], "Page 1 of 1", ""}));
}

}  // namespace
}  // namespace vigilo
