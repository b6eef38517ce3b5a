// What the Test dialog shows around a count: its notes and when Mark may be
// pressed, for saved and new rules, through a marking that fails and one
// that succeeds.
#include "manager/rule_test_logic.h"

#include <gtest/gtest.h>

namespace vigilo {
namespace {

RuleTestResult Counted(long to_act_on, size_t listed, bool has_flag_table = true) {
  RuleTestResult result;
  result.outcome = RuleTestResult::Outcome::kCounted;
  result.meeting = to_act_on + 1;
  result.to_act_on = to_act_on;
  result.has_flag_table = has_flag_table;
  for (size_t i = 0; i < listed; ++i) result.records.push_back({static_cast<long>(i + 1), ""});
  return result;
}

TestedRule SavedRule() {
  TestedRule rule;
  rule.project_table = "Demo\\Bugs";
  rule.action = "Notify";
  rule.condition = "(Status) is Open";
  rule.rule_id = 7;
  return rule;
}

TEST(RuleTestLogic, MarkIsEnabledForASavedRuleWithRecordsToActOnAndNotWhileMarking) {
  RuleTestLogic logic(SavedRule(), RuleTestMarkOffer::kEnabled);
  EXPECT_EQ(logic.RuleLine(), "Rule 7 (Notify) on Demo\\Bugs");
  EXPECT_EQ(logic.CountStatus(), "Counting...");
  EXPECT_FALSE(logic.MarkEnabled());
  logic.Counted(Counted(3, 1));
  EXPECT_EQ(logic.CountStatus(), "");
  EXPECT_EQ(logic.Note(), "");
  EXPECT_EQ(logic.ListCutNote(), "Only the first 1 records are listed.");
  ASSERT_TRUE(logic.MarkEnabled());
  EXPECT_EQ(logic.MarkQuestion()->substr(0, 45), "The 3 records that meet rule 7 now and are no");

  logic.MarkingStarted();
  EXPECT_FALSE(logic.MarkEnabled());
  EXPECT_EQ(logic.Marked({false, 0, "locked"}), "locked");
  EXPECT_TRUE(logic.MarkEnabled());
  logic.MarkingStarted();
  EXPECT_EQ(logic.Marked({true, 3, ""}), "3 records marked as already handled.");
  EXPECT_FALSE(logic.MarkEnabled());  // until the count that follows
  logic.CountStarted();
  logic.Counted(Counted(0, 0));
  EXPECT_FALSE(logic.MarkEnabled());
  EXPECT_EQ(logic.ListCutNote(), "");
}

TEST(RuleTestLogic, NewRulesAndTablesWithoutFlagsAreNotedAndNeverMarked) {
  TestedRule fresh = SavedRule();
  fresh.rule_id.reset();
  RuleTestLogic unsaved(fresh, RuleTestMarkOffer::kEnabled);
  unsaved.Counted(Counted(2, 2));
  EXPECT_EQ(unsaved.RuleLine(), "New rule (Notify) on Demo\\Bugs");
  EXPECT_EQ(unsaved.Note(), kRuleTestNewRuleNote);
  EXPECT_FALSE(unsaved.MarkEnabled());
  EXPECT_FALSE(unsaved.MarkQuestion().has_value());

  RuleTestLogic changed(SavedRule(), RuleTestMarkOffer::kDisabled);
  changed.Counted(Counted(2, 2, false));
  EXPECT_EQ(changed.Note(), kRuleTestNoFlagTableNote);
  EXPECT_FALSE(changed.MarkEnabled());

  RuleTestLogic builder(SavedRule(), RuleTestMarkOffer::kNone);
  EXPECT_FALSE(builder.MarkShown());
  RuleTestResult failed;
  failed.outcome = RuleTestResult::Outcome::kFailed;
  builder.Counted(failed);
  EXPECT_EQ(builder.CountStatus(), "The count failed.");
  EXPECT_EQ(builder.Note(), "");
}

}  // namespace
}  // namespace vigilo
