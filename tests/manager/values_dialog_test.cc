// The Values dialog and the Input Value dialog: the value of one field or
// one Internet address, and what their OK accepts.
#include <gtest/gtest.h>

#include "manager/input_value.h"
#include "manager/values_dialog.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

CFieldDef ListField(int flags) {
  CFieldDef field(1);
  field.name = "Status";
  field.type = CFieldDef::kList;
  field.flags = flags;
  field.choices = {"Open", "Fixed($Group$Developers)", "Closed"};
  return field;
}

TEST(ValuesDialog, SingleChoiceTakesOneEntryOrTheOtherValue) {
  RecordingPrompts prompts;
  ValuesLogic logic(ListField(1), "fixed", prompts);
  EXPECT_FALSE(logic.multiple());
  EXPECT_EQ(logic.entries(), (std::vector<std::string>{"Open", "Fixed", "Closed"}));
  EXPECT_EQ(logic.preselected(), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(logic.Ok(logic.preselected(), ""), "Fixed");
  EXPECT_EQ(logic.Ok(logic.preselected(), "Deferred"), "Deferred");

  ValuesLogic other(ListField(1), "Deferred", prompts);
  EXPECT_EQ(other.preselected(), (std::vector<bool>(3, false)));
  EXPECT_EQ(other.other_values(), "Deferred");
  EXPECT_FALSE(other.Ok({false, false, false}, ""));
  EXPECT_EQ(prompts.beeps, 1);
}

TEST(ValuesDialog, MultipleChoicesJoinInListOrderThenTheOtherValue) {
  RecordingPrompts prompts;
  ValuesLogic logic(ListField(1 | 0x80), "Closed,Deferred,open", prompts);
  EXPECT_TRUE(logic.multiple());
  EXPECT_EQ(logic.preselected(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(logic.other_values(), "Deferred");
  EXPECT_EQ(logic.Ok(logic.preselected(), logic.other_values()), "Open,Closed,Deferred");
  EXPECT_EQ(logic.Ok({false, false, false}, "Deferred"), "Deferred");
}

TEST(ValuesDialog, ValueOverOneHundredTwentyEightIsRefused) {
  RecordingPrompts prompts;
  CFieldDef field = ListField(0x80);
  field.choices = {std::string(64, 'a'), std::string(64, 'b')};
  ValuesLogic logic(field, "", prompts);
  EXPECT_FALSE(logic.Ok({true, true}, ""));
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{
                                 "Too many items selected!\n\nSelect fewer items and try again."});
  EXPECT_EQ(logic.Ok({true, false}, std::string(63, 'c'))->size(), 128u);
}

TEST(InputValue, InternetAddressChecks) {
  RecordingPrompts prompts;
  InputValueLogic address(kInternetAddressLabel, prompts);
  EXPECT_EQ(address.Ok("QA Lead <qa@demo.example>"), "QA Lead <qa@demo.example>");
  for (const char* refused : {"qa@localhost", "qa.demo.example", "a@b.c,d@e.f", "a@b.c;d@e.f"}) {
    EXPECT_FALSE(address.Ok(refused)) << refused;
  }
  EXPECT_EQ(prompts.beeps, 4);
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>(4, "Invalid Internet Address"));

  EXPECT_FALSE(address.Ok(""));
  EXPECT_EQ(prompts.beeps, 5);
  // A field's label checks nothing but emptiness.
  EXPECT_EQ(InputValueLogic("Title", prompts).Ok("no at sign, no dot"), "no at sign, no dot");
  EXPECT_EQ(prompts.shown.size(), 4u);
}

}  // namespace
}  // namespace vigilo
