// The check a rule passes before it runs: every clause and every update
// assignment must be made as written, or the rule is refused.
#include "data/rule_check.h"

#include <gtest/gtest.h>

#include "data/condition.h"
#include "tests/data/translation_fixture.h"

namespace vigilo {
namespace {

using testing::SampleFields;
using testing::Service;

CRule Rule(std::string action, std::string cond, std::string values = "") {
  CRule rule;
  rule.rule_id = 7;
  rule.action = std::move(action);
  rule.cond = std::move(cond);
  rule.values = std::move(values);
  return rule;
}

std::string Refusal(const CRule& rule, long kind = 1) {
  return CheckRule(rule, SampleFields(), Service(kind)).refusal.value_or("");
}

TEST(ConditionCheckTest, MisspelledColumnIsAFaultInsteadOfADroppedClause) {
  std::optional<ConditionFault> fault;
  const std::string sql = TranslateCondition("(Status is (Fixed)) AND (Stauts is (Open))",
                                             SampleFields(), Service(1), &fault);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->Reason(), "the condition names the field Stauts, which is not in the table");
  // Without the check the translation keeps its old, narrower-than-written form.
  EXPECT_EQ(TranslateCondition("(Status is (Fixed)) AND (Stauts is (Open))", SampleFields(),
                               Service(1)),
            "(Status = 'Fixed')");
}

TEST(ConditionCheckTest, EveryValueItemMustTranslate) {
  std::vector<std::string> messages;
  std::optional<ConditionFault> fault;
  // The second date of the list would be left out of the OR.
  TranslateCondition("(Due is (01/02/26,13/45/26))", SampleFields(), Service(1, &messages),
                     &fault);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->Reason(), "the value (13/45/26) of the field Due cannot be translated");
  EXPECT_EQ(messages.size(), 1u);

  for (const char* value : {"12.5", "-5", "abc", ">x", "1-"}) {
    fault.reset();
    TranslateCondition(std::string("(Priority is (") + value + "))", SampleFields(), Service(1),
                       &fault);
    EXPECT_TRUE(fault) << value;
  }
  for (const char* value : {"5", "=5", "1-3", ">2", "< 9", "1,2,3"}) {
    fault.reset();
    TranslateCondition(std::string("(Priority is (") + value + "))", SampleFields(), Service(1),
                       &fault);
    EXPECT_FALSE(fault) << value;
  }
}

TEST(ConditionCheckTest, ChangeClauseMustNameAField) {
  std::optional<ConditionFault> fault;
  TranslateCondition("(Stauts is (Open -> Closed))", SampleFields(), Service(1), &fault);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->column, "Stauts");
  fault.reset();
  TranslateCondition("(Status is (Open -> Closed))", SampleFields(), Service(1), &fault);
  EXPECT_FALSE(fault);
}

TEST(RuleCheckTest, RefusesWhatCannotRunAsWritten) {
  EXPECT_EQ(Refusal(Rule("Update", "(Status is (Fixed))", "Name=x")), "");
  EXPECT_EQ(Refusal(Rule("Notify", "(Status is (Fixed)) .AND.(Due is (13/45/26))"), 0),
            "the value (13/45/26) of the field Due cannot be translated");
  EXPECT_EQ(Refusal(Rule("notify", "(Status is (Fixed))")),
            "the Action \"notify\" is neither \"Update\" nor \"Notify\"");
  EXPECT_EQ(Refusal(Rule("Update", "(Status is (Fixed))", "Name=x;Nmae=y")),
            "the update names the field Nmae, which is not in the table");
  EXPECT_EQ(Refusal(Rule("Update", "(Status is (Fixed))", "Name")),
            "the update assignment \"Name\" has no \"=\"");
  EXPECT_EQ(Refusal(Rule("Notify", "")), "the condition is empty");
  // The supervisor's own SQL is not checked.
  CRule sql = Rule("Notify", "FROM Bugs WHERE Whatever = 1");
  sql.flag = kRuleFlagSqlCondition;
  EXPECT_EQ(Refusal(sql), "");
}

TEST(RuleCheckTest, RuleManagerChecksKindZeroInItsXbaseForm) {
  const CRule rule = Rule("Notify", "(Status is (Fixed)) .AND.(Stauts is (Open))");
  EXPECT_EQ(CheckRule(rule, SampleFields(), testing::Manager(0)).refusal.value_or(""),
            "the condition names the field Stauts, which is not in the table");
  EXPECT_FALSE(CheckRule(Rule("Notify", "(Status is (Fixed)) .AND.(Priority is (1-3))"),
                         SampleFields(), testing::Manager(0))
                   .refusal);
}

TEST(RuleCheckTest, UpdateValueOfTheWrongTypeIsLeftOutNotRefused) {
  RuleCheck check = CheckRule(
      Rule("Update", "(Status is (Fixed))", "Due=01/02/2026#, Priority = 9 --;Name=x"),
      SampleFields(), Service(0));
  EXPECT_FALSE(check.refusal);
  ASSERT_EQ(check.skipped.size(), 1u);
  EXPECT_EQ(check.skipped[0], "Invalid date value (MM/DD/YY) in the Due field!\n");

  check = CheckRule(Rule("Update", "(Status is (Fixed))", "Priority=9 or 1=1"), SampleFields(),
                    Service(1));
  EXPECT_EQ(check.refusal.value_or(""), "no assignment of the update can be made");
  EXPECT_EQ(check.skipped, std::vector<std::string>{
                               "Invalid number value (9 or 1=1) in the Priority field!\n"});
}

TEST(UpdateValueTest, DatesAreDatesAndNumbersAreNumbers) {
  const std::vector<CFieldDef> fields = SampleFields();
  const CFieldDef& due = *FindField(fields, "Due");
  const CFieldDef& when = *FindField(fields, "When");
  const CFieldDef& priority = *FindField(fields, "Priority");
  const DateSettings dates;
  for (const char* ok : {"DATE()", "date()", "01/02/26", "01/02/2026", "20260102"}) {
    EXPECT_FALSE(InvalidUpdateValue(due, ok, dates)) << ok;
  }
  for (const char* bad : {"", "01/02/2026#", "02/30/26", "2026010", "01/02/26 or 1=1"}) {
    EXPECT_TRUE(InvalidUpdateValue(due, bad, dates)) << bad;
  }
  EXPECT_FALSE(InvalidUpdateValue(when, "", dates));
  EXPECT_FALSE(InvalidUpdateValue(when, "01/02/26 10:30", dates));
  EXPECT_TRUE(InvalidUpdateValue(when, "soon", dates));
  EXPECT_FALSE(InvalidUpdateValue(priority, " -12 ", dates));
  EXPECT_TRUE(InvalidUpdateValue(priority, "12abc", dates));
}

}  // namespace
}  // namespace vigilo
