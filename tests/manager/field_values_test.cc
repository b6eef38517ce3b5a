// The Field Values dialog's assignments: which fields it offers, how a
// Values text is split and rebuilt, which dialog edits a value, and OK.
#include <gtest/gtest.h>

#include "manager/field_values.h"
#include "manager/input_value.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

CFieldDef Field(const std::string& name, int type, int flags = 1) {
  CFieldDef field(1);
  field.name = name;
  field.type = type;
  field.flags = flags;
  return field;
}

// Answers each value edit from a queue and records what was opened.
class ScriptedEditor : public ValueEditor {
 public:
  std::optional<std::string> ChooseValue(const CFieldDef& field,
                                         const std::string& value) override {
    opened.push_back("Values " + field.name + " " + value);
    return Next();
  }
  std::optional<std::string> TypeValue(const std::string& label,
                                       const std::string& value) override {
    opened.push_back("Input " + label + " " + value);
    return Next();
  }
  std::optional<std::string> Next() {
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }

  std::vector<std::optional<std::string>> answers;
  std::vector<std::string> opened;
};

std::vector<CFieldDef> BugFields() {
  return {Field("Title", CFieldDef::kText),       Field("Status", CFieldDef::kList),
          Field("Count", CFieldDef::kNumber7),    Field("Owner", CFieldDef::kUser),
          Field("Locked", CFieldDef::kText, 0x2001), Field("Form", CFieldDef::kHiddenType),
          Field("Due", CFieldDef::kDate),         Field("ChngHist->ChngTo", CFieldDef::kText)};
}

TEST(FieldValues, OffersFieldsAnUpdateMaySet) {
  EXPECT_EQ(UpdatableFieldNames(BugFields()),
            (std::vector<std::string>{"Title", "Status", "Owner", "Due"}));

  testing::TestInstallation home{testing::InstallationBuilder::Demo()};
  RecordingPrompts prompts;
  CServerPaths paths(CServerPaths::Program::kManager);
  std::vector<CFieldDef> fields =
      ReadSelectionFields(paths, {"0", kServerDirSource, "Demo", "Bugs"}, prompts);
  EXPECT_EQ(UpdatableFieldNames(fields),
            (std::vector<std::string>{"Title", "Status", "Priority", "Owner", "Reporter",
                                      "Created", "Resolution", "Descript"}));
  EXPECT_TRUE(prompts.shown.empty());
}

TEST(FieldValues, ListsEachAssignmentAndSplitsAtTheFirstEquals) {
  RecordingPrompts prompts;
  ScriptedEditor editor;
  FieldValuesLogic logic(BugFields(), "Title=a=b;Status=Fixed;Due=DATE()", prompts, editor);
  EXPECT_EQ(logic.assignments(),
            (std::vector<std::string>{"Title=a=b", "Status=Fixed", "Due=DATE()"}));
  EXPECT_EQ(SplitAssignment("Title=a=b"), std::make_pair(std::string("Title"), std::string("a=b")));
  EXPECT_EQ(SplitAssignment("Title"), std::make_pair(std::string("Title"), std::string()));

  editor.answers = {std::string("x=y")};
  EXPECT_EQ(logic.Modify(0), std::optional<size_t>(0));
  editor.answers = {std::string("Closed")};
  EXPECT_EQ(logic.Modify(1), std::optional<size_t>(1));
  EXPECT_EQ(editor.opened, (std::vector<std::string>{"Input Title a=b", "Values Status Fixed"}));
  EXPECT_EQ(logic.Ok(), "Title=x=y;Status=Closed;Due=DATE()");
  EXPECT_TRUE(FieldValuesLogic(BugFields(), "", prompts, editor).assignments().empty());
}

TEST(FieldValues, AddModifyAndRemove) {
  RecordingPrompts prompts;
  ScriptedEditor editor;
  FieldValuesLogic logic(BugFields(), "Gone=1", prompts, editor);
  EXPECT_FALSE(logic.Add(std::nullopt));
  EXPECT_FALSE(logic.Modify(0));  // no definition for Gone: nothing opens
  EXPECT_TRUE(editor.opened.empty());

  editor.answers = {std::string("ann")};
  EXPECT_EQ(logic.Add(2), std::optional<size_t>(1));  // Owner
  editor.answers = {std::nullopt};
  EXPECT_FALSE(logic.Add(0));                         // Cancel adds nothing
  EXPECT_EQ(editor.opened, (std::vector<std::string>{"Values Owner ", "Input Title "}));
  EXPECT_EQ(logic.assignments(), (std::vector<std::string>{"Gone=1", "Owner=ann"}));

  logic.Remove(0);
  logic.Remove(std::nullopt);
  EXPECT_EQ(logic.assignments(), (std::vector<std::string>{"Owner=ann"}));
}

TEST(FieldValues, ValueHoldingASemicolonIsEditedAgain) {
  RecordingPrompts prompts;
  ScriptedEditor editor;
  FieldValuesLogic logic(BugFields(), "", prompts, editor);
  editor.answers = {std::string("a;b"), std::string("a, b")};
  EXPECT_EQ(logic.Add(0), std::optional<size_t>(0));
  EXPECT_EQ(editor.opened, (std::vector<std::string>{"Input Title ", "Input Title a;b"}));
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{kSemicolonInValueMessage});
  EXPECT_EQ(logic.Ok(), "Title=a, b");
}

TEST(FieldValues, OkRefusesNoneAndTooMany) {
  RecordingPrompts prompts;
  ScriptedEditor editor;
  EXPECT_FALSE(FieldValuesLogic(BugFields(), "", prompts, editor).Ok());
  EXPECT_EQ(prompts.beeps, 1);

  std::string long_value(120, 'v');
  std::string over_sum = "Title=" + long_value + ";Title=" + long_value + ";Title=" + long_value;
  EXPECT_FALSE(FieldValuesLogic(BugFields(), over_sum, prompts, editor).Ok());
  // Within the sum but past the 127 characters of the rule's Values field.
  std::string over_field = "Title=" + std::string(60, 'v') + ";Due=" + std::string(60, 'v');
  FieldValuesLogic too_long(BugFields(), over_field, prompts, editor);
  EXPECT_FALSE(too_long.Ok());
  EXPECT_EQ(too_long.assignments().size(), 2u);  // nothing lost, the supervisor removes one
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>(
                                 2, "Too many values selected.\n\nSplit into multiple rules."));
  std::string fits = "Title=" + std::string(kRuleValuesLimit - 6, 'v');
  EXPECT_EQ(FieldValuesLogic(BugFields(), fits, prompts, editor).Ok(), fits);
}

}  // namespace
}  // namespace vigilo
