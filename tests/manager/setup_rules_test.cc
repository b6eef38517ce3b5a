// The Setup Rules dialog's behaviour on a temporary installation: the Project
// Table list from the project INI, the rules of a table, composing, Add, Edit,
// Replace, Delete, the hidden Run Always state and the rule table they write.
#include "manager/setup_rules.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "common/format.h"
#include "common/ini_profile.h"
#include "manager/rule_list_table.h"
#include "manager/view_rules.h"
#include "platform/xbase/dbf_table.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"
#include "tests/support/faulty_file_system.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;
using testing::WriteText;

class FakeBrowsers : public RuleBrowsers {
 public:
  std::optional<std::string> InputAddress(const ProjectSelection& s, const std::string&) override {
    opened.push_back("InputAddress " + s.table);
    return answer;
  }
  std::optional<std::string> NotifyList(const ProjectSelection& s, const std::string& target,
                                        const std::string&) override {
    opened.push_back("NotifyList " + target + " " + s.table);
    return answer;
  }
  std::optional<std::string> FieldValues(const ProjectSelection& s, const std::string&) override {
    opened.push_back("FieldValues " + s.table);
    return answer;
  }
  std::optional<QueryType> SelectQueryType() override {
    opened.push_back("SelectQueryType");
    return query_type;
  }
  std::optional<std::string> QueryBuilder(const ProjectSelection&, const std::string&) override {
    opened.push_back("QueryBuilder");
    return answer;
  }
  std::optional<std::string> SqlQuery(const ProjectSelection&, const std::string&) override {
    opened.push_back("SqlQuery");
    return answer;
  }

  std::optional<std::string> answer;
  std::optional<QueryType> query_type;
  std::vector<std::string> opened;
};

struct StoredRule {
  long id, kind;
  std::string dsn, table, action, target, values, cond;
  long flag;
};

class SetupRulesTest : public ::testing::Test {
 protected:
  SetupRulesTest() {
    std::filesystem::create_directory(home_.File("orvhome"));
    home_.WriteServerFile("Bugs.ini",
                          "[Morvane Orvik]\nProject Name=Bugs\nLinkInfo Datafile=Bugs.dbf\n"
                          "Defects Datafile=Defects.dbf\nChngHist Datafile=History.dbf\n"
                          "Tasks Datafile=Tasks.DBF\n");
  }

  SetupRulesLogic& Logic(const std::string& kind = "1", const std::string& dsn = "BUGSDB",
                         const std::string& project = "Bugs") {
    selection_ = {kind, dsn, project, ""};
    logic_ = std::make_unique<SetupRulesLogic>(home_.paths(), selection_, prompts_, browsers_);
    logic_->Open();
    return *logic_;
  }

  // Chooses the table, action and target and sets values and condition as the
  // Browse dialogs would.
  void Compose(SetupRulesLogic& logic, int table, int action, int target, const std::string& values,
               const std::string& condition) {
    if (logic.state().table_index != table) logic.TableChanged(table);
    logic.ActionChanged(action);
    logic.TargetChanged(target);
    logic.set_values(values);
    logic.set_condition(condition);
  }

  std::vector<StoredRule> Stored() {
    std::vector<StoredRule> rules;
    auto table = DbfTable::Open(home_.paths().rule_table_path, false);
    for (bool on = table->GoFirst(); on; on = table->Skip()) {
      rules.push_back({table->FieldLong(0), table->FieldLong(1), table->Text(2), table->Text(3),
                       table->Text(4), table->Text(5), table->Text(6), table->Text(7),
                       table->FieldLong(8)});
    }
    return rules;
  }

  testing::TestInstallation home_{testing::ManagerHomeBuilder()};
  RecordingPrompts prompts_;
  FakeBrowsers browsers_;
  ProjectSelection selection_;
  std::unique_ptr<SetupRulesLogic> logic_;
};

TEST_F(SetupRulesTest, ProjectTableListsTheMainTableAndTheDataFilesButNotLinkInfoOrHistory) {
  SetupRulesLogic& logic = Logic();
  EXPECT_EQ(logic.state().tables, (std::vector<std::string>{"Bugs\\Bugs", "Defects", "Tasks"}));
  EXPECT_EQ(logic.state().table_index, 0);
  EXPECT_EQ(logic.state().actions, (std::vector<std::string>{"Notify", "Update"}));
  EXPECT_TRUE(logic.list().empty());
}

TEST_F(SetupRulesTest, DbaseTablesInOtherDirectoriesAreRecordedAsTableDsn) {
  std::filesystem::create_directory(home_.File("proj"));
  home_.WriteServerFile("morvik.ini", "[Orvik Dsn]\nBugs=" + home_.File("proj") + "\n");
  WriteText(home_.File("proj/Bugs.ini"),
            "[Morvane Orvik]\nLinkInfo Datafile=Bugs.dbf\nDefects Datafile=D:\\data\\Defects.dbf\n"
            "Tasks Datafile=Tasks.dbf\n");
  SetupRulesLogic& logic = Logic("0", "SERVERDIR");
  EXPECT_EQ(logic.state().tables,
            (std::vector<std::string>{"Bugs\\Bugs", "Bugs\\Defects", "Bugs\\Tasks"}));
  EXPECT_EQ(GetProfileString(home_.File("proj/Bugs.ini"), "Table DSN", "Bugs\\Defects"),
            "D:\\data");
}

TEST_F(SetupRulesTest, SlashSeparatedDataFilesAreListedByTableWithTheirDirectoryRecorded) {
  std::filesystem::create_directory(home_.File("proj"));
  home_.WriteServerFile("morvik.ini", "[Orvik Dsn]\nBugs=" + home_.File("proj") + "\n");
  WriteText(home_.File("proj/Bugs.ini"),
            "[Morvane Orvik]\nLinkInfo Datafile=Bugs.dbf\ndefects DATAFILE=/srv/data.d/Defects.dbf\n");
  SetupRulesLogic& logic = Logic("0", "SERVERDIR");
  EXPECT_EQ(logic.state().tables, (std::vector<std::string>{"Bugs\\Bugs", "Bugs\\Defects"}));
  EXPECT_EQ(GetProfileString(home_.File("proj/Bugs.ini"), "Table DSN", "Bugs\\Defects"),
            "/srv/data.d");
}

TEST_F(SetupRulesTest, AnUnopenableProjectIniIsReportedAndLeavesTheListEmpty) {
  SetupRulesLogic& logic = Logic("1", "BUGSDB", "Missing");
  EXPECT_TRUE(logic.state().tables.empty());
  EXPECT_EQ(prompts_.Texts(),
            (std::vector<std::string>{"Unable to open " + home_.File("Missing.ini") + "!"}));
}

TEST_F(SetupRulesTest, AddNumbersRulesFromOneInAMissingTableAndReusesTheLastIdAfterItsDelete) {
  SetupRulesLogic& logic = Logic();
  Compose(logic, 1, 0, 0, "bob", "(Status) is Open");
  ASSERT_TRUE(logic.Add());
  Compose(logic, 1, 1, 0, "Owner=bob", "FROM Defects WHERE Status = 'Open'");
  ASSERT_TRUE(logic.Add());
  std::vector<StoredRule> stored = Stored();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].id, 1);
  EXPECT_EQ(stored[0].kind, 1);
  EXPECT_EQ(stored[0].dsn, "BUGSDB");
  EXPECT_EQ(stored[0].table, "Defects");
  EXPECT_EQ(stored[0].action, "Notify");
  EXPECT_EQ(stored[0].target, "User");
  EXPECT_EQ(stored[0].values, "bob");
  EXPECT_EQ(stored[0].flag, 0);
  EXPECT_EQ(stored[1].id, 2);
  EXPECT_EQ(stored[1].action, "Update");
  EXPECT_EQ(stored[1].target, "Field");
  EXPECT_EQ(stored[1].flag, 1);  // the SQL-query bit from "FROM"
  EXPECT_EQ(DbfTable::Open(home_.paths().rule_table_path, false)->Fields(), RuleTableFields());
  EXPECT_EQ(logic.list().size(), 2u);
  EXPECT_EQ(logic.list().row(1).rule_id, 2);

  prompts_.answers = {true};
  ASSERT_TRUE(logic.Delete(1));
  EXPECT_EQ(prompts_.Texts().back(), "Selected rule will be deleted!\n\nAre you sure?");
  Compose(logic, 1, 0, 1, "dev", "(Status) is Open");
  ASSERT_TRUE(logic.Add());
  EXPECT_EQ(Stored().back().id, 2);
}

TEST_F(SetupRulesTest, AddRefusesAnIncompleteRuleAndATextTheTableWouldCut) {
  SetupRulesLogic& logic = Logic();
  Compose(logic, 1, 0, 0, "bob", "");
  EXPECT_FALSE(logic.Add());
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_EQ(prompts_.shown[0].text, "Incomplete rule!");
  EXPECT_EQ(prompts_.shown[0].icon, PromptIcon::kNone);
  EXPECT_EQ(prompts_.shown[0].caption, "Morvane Vigilo");

  logic.set_condition("(Status) is Open");
  logic.set_values(std::string(129, 'v'));
  EXPECT_FALSE(logic.Add());
  EXPECT_EQ(prompts_.Texts().back(),
            "Values is too long: the rule table holds at most 128 characters!");
  EXPECT_FALSE(std::filesystem::exists(home_.paths().rule_table_path));
}

TEST_F(SetupRulesTest, AddAsksBeforeADuplicateAndTheEditStateFollowsChanges) {
  SetupRulesLogic& logic = Logic();
  Compose(logic, 1, 0, 0, "bob", "(Status) is Open");
  EXPECT_EQ(logic.EditState(), kEditingNewText);
  ASSERT_TRUE(logic.Add());
  prompts_.answers = {false, true};
  EXPECT_FALSE(logic.Add());
  EXPECT_EQ(prompts_.Texts().back(), "Rule 1 already does exactly this!\n\nAdd the same rule again?");
  EXPECT_TRUE(logic.Add());
  EXPECT_EQ(Stored().size(), 2u);
  logic.set_values("ann");
  EXPECT_EQ(logic.EditState(), "Editing rule 2: changed, not saved.");
}

TEST_F(SetupRulesTest, TestOfADisabledRuleSaysSo) {
  SetupRulesLogic& logic = Logic();
  Compose(logic, 1, 0, 0, "bob", "(Status) is Open");
  ASSERT_TRUE(logic.Add() && logic.SetEnabled(0, false));
  RuleTestLogic test(*logic.RuleToTest(), logic.TestMarkOffer());
  EXPECT_EQ(test.Note(), Format(kRuleTestDisabledNote, 1L));
}

TEST_F(SetupRulesTest, AnUncreatableRuleTableIsReported) {
  std::filesystem::remove(home_.File("orvhome"));
  SetupRulesLogic& logic = Logic();
  Compose(logic, 1, 0, 0, "bob", "(A) is 1");
  EXPECT_FALSE(logic.Add());
  // The dialog's message, then the reason.
  EXPECT_EQ(prompts_.shown.back().text.rfind(
                "Unable to create or open " + home_.paths().rule_table_path + "!\n\n" +
                    home_.paths().rule_table_path + ": cannot create the table: No such file or directory",
                0),
            0u);
  EXPECT_EQ(prompts_.shown.back().icon, PromptIcon::kWarning);
  EXPECT_TRUE(logic.list().empty());
}

TEST_F(SetupRulesTest, ADamagedRuleTableIsShownAsAMessageNotAsAnEmptyList) {
  const std::string& path = home_.paths().rule_table_path;
  DbfTable::Create(path, {{"RuleId", 'N', 8, 0}, {"DbType", 'N', 8, 0}})->Close();
  const std::string expected = "The rule table cannot be read: " + path + ": no field Dsn";
  Logic();
  ASSERT_FALSE(prompts_.Texts().empty());
  EXPECT_EQ(prompts_.Texts().back(), expected);
  RecordingPrompts view_prompts;
  ViewRulesLogic view(home_.paths(), view_prompts);
  view.Open();
  EXPECT_EQ(view_prompts.Texts(), std::vector<std::string>{expected});
}

TEST_F(SetupRulesTest, LoadingSelectsTheTablesRulesInRuleIdOrder) {
  RuleRecord record{0, 1, "BUGSDB", "Defects", "Notify", "User", "a", "(A) is 1", 0, {}};
  AppendRule(home_.paths().rule_table_path, &record, 5);
  record.db_table = "Tasks";
  AppendRule(home_.paths().rule_table_path, &record, 6);
  record.db_table = "defects";  // letter case ignored
  record.values = "b|c";     // a "|" stays inside its field
  AppendRule(home_.paths().rule_table_path, &record, 2);
  record.dsn = "OTHERDB";
  AppendRule(home_.paths().rule_table_path, &record, 1);
  SetupRulesLogic& logic = Logic();
  logic.TableChanged(1);
  ASSERT_EQ(logic.list().size(), 2u);
  EXPECT_EQ(logic.list().row(0).rule_id, 2);
  EXPECT_EQ(logic.list().row(0).values, "b|c");
  EXPECT_EQ(logic.list().row(1).rule_id, 5);
}

TEST_F(SetupRulesTest, ReplaceKeepsARuleThatTheServiceDoesNotLoadUnloaded) {
  RuleRecord record{0, 1, "BUGSDB", "Defects", "Notify", "User", "a", "(A) is 1", 0, {}};
  RuleReserved reserved{kRuleDisabledMark, "", "", "", "kept"};
  record.reserved = reserved;
  AppendRule(home_.paths().rule_table_path, &record, 4);
  SetupRulesLogic& logic = Logic();
  logic.TableChanged(1);
  ASSERT_TRUE(logic.Edit(0));
  logic.set_values("changed");
  prompts_.answers = {true};
  ASSERT_TRUE(logic.Replace(0));
  std::vector<RuleRecord> replaced;
  ASSERT_TRUE(ReadRuleTable(home_.paths().rule_table_path, &replaced, RuleIdFilter(4)).ok());
  ASSERT_EQ(replaced.size(), 1u);
  EXPECT_EQ(replaced[0].values, "changed");
  EXPECT_EQ(replaced[0].reserved, reserved);
}

TEST_F(SetupRulesTest, ReplaceKeepsTheIdAndMovesTheRuleLast) {
  SetupRulesLogic& logic = Logic();
  Compose(logic, 1, 0, 0, "a", "(A) is 1");
  logic.Add();
  logic.set_values("b");
  logic.Add();
  ASSERT_TRUE(logic.Edit(0));
  EXPECT_EQ(logic.state().values, "a");
  logic.set_values("changed");
  prompts_.answers = {true};
  ASSERT_TRUE(logic.Replace(0));
  EXPECT_EQ(prompts_.Texts().back(), "Selected rule will be replaced!\n\nAre you sure?");
  ASSERT_EQ(logic.list().size(), 2u);
  EXPECT_EQ(logic.list().row(1).rule_id, 1);
  EXPECT_EQ(logic.list().row(1).values, "changed");
  std::vector<StoredRule> stored = Stored();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1].id, 1);
  EXPECT_EQ(stored[1].values, "changed");

  // No: nothing changes; no selection or an incomplete rule: nothing asked.
  prompts_.answers = {false};
  EXPECT_FALSE(logic.Replace(0));
  EXPECT_EQ(Stored().size(), 2u);
  EXPECT_FALSE(logic.Replace(-1));
  EXPECT_EQ(prompts_.beeps, 1);
  logic.New();
  EXPECT_FALSE(logic.Replace(0));
  EXPECT_EQ(prompts_.Texts().back(), "Incomplete rule!");
  EXPECT_EQ(Stored().size(), 2u);
}

TEST_F(SetupRulesTest, OneDeleteRemovesEveryRecordOfTheRuleId) {
  RuleRecord record{0, 1, "BUGSDB", "Defects", "Notify", "User", "a", "(A) is 1", 0, {}};
  AppendRule(home_.paths().rule_table_path, &record, 3);
  AppendRule(home_.paths().rule_table_path, &record, 3);
  AppendRule(home_.paths().rule_table_path, &record, 4);
  SetupRulesLogic& logic = Logic();
  logic.TableChanged(1);
  ASSERT_EQ(logic.list().size(), 3u);
  prompts_.answers = {false};
  EXPECT_FALSE(logic.Delete(0));
  EXPECT_EQ(Stored().size(), 3u);
  prompts_.answers = {true};
  EXPECT_TRUE(logic.Delete(0));
  ASSERT_EQ(Stored().size(), 1u);
  EXPECT_EQ(Stored()[0].id, 4);
  ASSERT_EQ(logic.list().size(), 1u);  // both items of id 3 are gone
  EXPECT_EQ(logic.list().row(0).rule_id, 4);
}

TEST_F(SetupRulesTest, TheSqlQueryBitAndRunAlwaysGiveFlagsOneToThree) {
  SetupRulesLogic& logic = Logic();
  Compose(logic, 1, 0, 0, "bob", "");
  browsers_.query_type = RuleBrowsers::QueryType::kSqlQuery;
  browsers_.answer = "FROM Defects WHERE x = 1";
  logic.BrowseCondition();
  EXPECT_EQ(browsers_.opened.back(), "SqlQuery");
  EXPECT_EQ(selection_.table, "Defects");
  logic.Add();
  ASSERT_TRUE(logic.Edit(0));  // flag 1: Run Always enabled, unchecked
  EXPECT_TRUE(logic.state().run_always_enabled);
  EXPECT_FALSE(logic.state().run_always_checked);

  // A rule with the run-always bit passes it on to a rule added without New.
  RuleRecord record{0, 1, "BUGSDB", "Defects", "Notify", "User", "a", "(A) is 1", 2, {}};
  AppendRule(home_.paths().rule_table_path, &record, std::nullopt);
  logic.TableChanged(1);
  ASSERT_TRUE(logic.Edit(1));
  EXPECT_TRUE(logic.state().run_always_checked);
  prompts_.answers = {true};  // the edited rule again
  logic.Add();
  logic.set_condition("FROM Defects WHERE y = 2");
  logic.Add();
  logic.New();
  Compose(logic, 1, 0, 0, "bob", "(A) is 2");
  logic.Add();
  std::vector<long> flags;
  for (const StoredRule& rule : Stored()) flags.push_back(rule.flag);
  EXPECT_EQ(flags, (std::vector<long>{1, 2, 2, 3, 0}));
}

TEST_F(SetupRulesTest, RunAlwaysIsDisabledForADbaseQueryBuilderConditionAndStaysSoAfterEdit) {
  std::filesystem::create_directory(home_.File("proj"));
  home_.WriteServerFile("morvik.ini", "[Orvik Dsn]\nBugs=" + home_.File("proj") + "\n");
  WriteText(home_.File("proj/Bugs.ini"), "[Morvane Orvik]\nLinkInfo Datafile=Bugs.dbf\n");
  SetupRulesLogic& logic = Logic("0", "SERVERDIR");
  Compose(logic, 0, 1, 0, "Owner=bob", "");
  browsers_.query_type = RuleBrowsers::QueryType::kVisualQueryBuilder;
  browsers_.answer = "(Status) is Open";
  logic.BrowseCondition();
  EXPECT_EQ(browsers_.opened, (std::vector<std::string>{"SelectQueryType", "QueryBuilder"}));
  EXPECT_FALSE(logic.state().run_always_enabled);
  EXPECT_FALSE(logic.state().run_always_checked);
  ASSERT_TRUE(logic.Add());
  EXPECT_EQ(Stored()[0].flag, 0);
  EXPECT_EQ(Stored()[0].table, "Bugs\\Bugs");
  EXPECT_EQ(Stored()[0].dsn, "SERVERDIR");
  logic.New();
  ASSERT_TRUE(logic.Edit(0));
  EXPECT_FALSE(logic.state().run_always_enabled);
  EXPECT_EQ(logic.state().Action(), "Update");
  EXPECT_EQ(logic.state().values, "Owner=bob");
  // A condition already there opens its own dialog; Run Always stays.
  logic.BrowseCondition();
  EXPECT_EQ(browsers_.opened.back(), "QueryBuilder");
  EXPECT_FALSE(logic.state().run_always_enabled);
}

TEST_F(SetupRulesTest, ValuesBrowseOpensTheDialogOfTheActionAndTarget) {
  SetupRulesLogic& logic = Logic();
  logic.TableChanged(2);
  logic.BrowseValues();  // no action chosen: nothing opens
  EXPECT_TRUE(browsers_.opened.empty());
  browsers_.answer = "x";
  logic.ActionChanged(0);
  logic.TargetChanged(3);
  logic.BrowseValues();
  logic.TargetChanged(1);
  logic.BrowseValues();
  logic.ActionChanged(1);
  logic.BrowseValues();
  EXPECT_EQ(browsers_.opened, (std::vector<std::string>{"InputAddress Tasks",
                                                        "NotifyList Group Tasks",
                                                        "FieldValues Tasks"}));
  EXPECT_EQ(logic.state().values, "x");
  logic.TargetChanged(0);  // a target change empties Values
  EXPECT_EQ(logic.state().values, "");
}

TEST_F(SetupRulesTest, EditAndDeleteWithoutASelectionBeep) {
  SetupRulesLogic& logic = Logic();
  EXPECT_FALSE(logic.Edit(-1));
  EXPECT_FALSE(logic.Delete(-1));
  EXPECT_EQ(prompts_.beeps, 2);
  EXPECT_TRUE(prompts_.shown.empty());
}

TEST_F(SetupRulesTest, PrintNeedsRulesAndGivesSixLinesEach) {
  SetupRulesLogic& logic = Logic();
  EXPECT_FALSE(logic.Print());
  EXPECT_EQ(prompts_.Texts(), (std::vector<std::string>{"Nothing to print!"}));
  Compose(logic, 1, 0, 0, "a", "(A) is 1");
  prompts_.answers = {true, true};  // the same rule twice more
  logic.Add();
  logic.Add();
  logic.Add();
  auto lines = logic.Print();
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->size(), 18u);
  EXPECT_EQ(prompts_.Texts().back(), "Print");
}

TEST_F(SetupRulesTest, ViewOfRulesShowsRulesAboveZeroByTableAndPrintsTheSummaryForm) {
  const std::string& path = home_.paths().rule_table_path;
  RuleRecord record{0, 1, "BUGSDB", "Bugs\\Tasks", "Notify", "User", "bob", "(A) is 1", 0, {}};
  AppendRule(path, &record, 7);
  record.db_table = "Bugs\\Defects";
  record.cond = "";
  AppendRule(path, &record, 12);
  AppendRule(path, &record, 0);
  ViewRulesLogic view(home_.paths(), prompts_);
  view.Open();
  ASSERT_EQ(view.list().size(), 2u);
  EXPECT_EQ(view.list().row(0).rule_id, 12);
  EXPECT_EQ(view.list().row(1).table, "Bugs\\Tasks");
  EXPECT_FALSE(view.Print({}));
  EXPECT_EQ(prompts_.Texts().back(),
            "Unable, to Print the rules!\nPlease, select the rules you want to print and try "
            "again.");
  EXPECT_EQ(ReadRuleSummaryLines(path),
            (std::vector<std::string>{"007 Notify User bob if (A) is 1", "012 Notify User bob"}));
}

TEST_F(SetupRulesTest, RulesPastTheCapacityAreLeftOutWithAMessage) {
  RuleRecord record{0, 1, "BUGSDB", "Bugs\\Tasks", "Notify", "User", "bob", "(A) is 1", 0, {}};
  for (int i = 0; i < 3; ++i) AppendRule(home_.paths().rule_table_path, &record, std::nullopt);
  ViewRulesLogic view(home_.paths(), prompts_, 2);
  view.Open();
  EXPECT_EQ(view.list().size(), 2u);
  EXPECT_EQ(prompts_.Texts(), (std::vector<std::string>{"Only the first 2 rules are listed!"}));
}

// The Test button tries the rule as the controls hold it: with the id and
// flags of the rule last added, edited or replaced while it is listed, and
// Mark is offered only while the controls hold that rule as saved.
TEST_F(SetupRulesTest, TestTriesTheEditedRuleWithItsIdAndFlagsWhileItIsListed) {
  SetupRulesLogic& logic = Logic();
  Compose(logic, 1, 0, 0, "bob", "FROM Defects WHERE (Status = 'Open')");
  ASSERT_TRUE(logic.Add());
  TestedRule added = logic.RuleInDialog();
  EXPECT_EQ(added.rule_id, 1);
  EXPECT_EQ(added.flag, kRuleFlagSqlCondition);
  EXPECT_EQ(added.project_table, "Defects");
  EXPECT_EQ(logic.TestMarkOffer(), RuleTestMarkOffer::kEnabled);

  logic.set_values("ann");
  EXPECT_FALSE(logic.RuleSaved());
  EXPECT_EQ(logic.TestMarkOffer(), RuleTestMarkOffer::kDisabled);
  EXPECT_EQ(logic.RuleInDialog().rule_id, 1);

  logic.New();
  EXPECT_FALSE(logic.RuleInDialog().rule_id.has_value());
  EXPECT_FALSE(logic.RuleToTest().has_value());
  EXPECT_EQ(prompts_.Texts().back(), "The rule has no condition to test!");

  ASSERT_TRUE(logic.Edit(0));
  EXPECT_TRUE(logic.RuleSaved());
  prompts_.answers = {true};
  ASSERT_TRUE(logic.Delete(0));
  EXPECT_FALSE(logic.RuleInDialog().rule_id.has_value());
  EXPECT_FALSE(logic.RuleSaved());
}

// The project INI's access check goes through the file seam: a project INI
// that cannot be opened for writing is reported even where permissions do
// not stop the tests (root).
TEST_F(SetupRulesTest, AProjectIniThatCannotBeWrittenIsReported) {
  testing::FaultyFileSystem files;
  files.MakeReadOnly("Bugs.ini");
  SetupRulesLogic& logic = Logic();
  EXPECT_TRUE(logic.state().tables.empty());
  EXPECT_EQ(prompts_.Texts(),
            (std::vector<std::string>{"Unable to open " + home_.File("Bugs.ini") + "!"}));
}

}  // namespace
}  // namespace vigilo
