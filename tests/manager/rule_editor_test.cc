// The command-line rule editor on the demo installation: what add, replace,
// disable, enable and delete write, held against what the Setup Rules dialog
// writes for the same input, and the refusals with the dialogs' messages.
#include "manager/rule_editor.h"

#include <sstream>

#include <gtest/gtest.h>

#include "common/text.h"
#include "data/date_settings.h"
#include "data/field_defs_reader.h"
#include "manager/input_value.h"
#include "manager/notify_list.h"
#include "manager/query_builder.h"
#include "manager/rule_list_table.h"
#include "manager/setup_rules.h"
#include "manager/sql_query.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::ReadText;
using testing::RecordingPrompts;

// The Browse dialogs as a supervisor answers them: the notify list with the
// named entries selected, and the values and condition dialogs' OK on the
// typed text.
class SupervisorBrowsers : public RuleBrowsers {
 public:
  SupervisorBrowsers(const CServerPaths& paths, Prompts& prompts)
      : paths_(paths), prompts_(prompts) {}

  std::optional<std::string> InputAddress(const ProjectSelection&, const std::string&) override {
    return InputValueLogic(kInternetAddressLabel, prompts_).Ok(typed);
  }
  std::optional<std::string> NotifyList(const ProjectSelection& selection,
                                        const std::string& target,
                                        const std::string& values) override {
    std::vector<std::string> entries =
        NotifyListLogic::Entries(target, paths_, selection, prompts_);
    std::vector<bool> selected(entries.size(), false);
    for (size_t i = 0; i < entries.size(); ++i) {
      for (const std::string& name : picked) selected[i] = selected[i] || entries[i] == name;
    }
    NotifyListLogic logic(target, std::move(entries), values, prompts_);
    return logic.Ok(selected, "");
  }
  std::optional<std::string> FieldValues(const ProjectSelection&, const std::string&) override {
    return typed;
  }
  std::optional<QueryType> SelectQueryType() override {
    return condition.rfind("FROM", 0) == 0 ? QueryType::kSqlQuery
                                             : QueryType::kVisualQueryBuilder;
  }
  std::optional<std::string> QueryBuilder(const ProjectSelection& selection,
                                          const std::string&) override {
    std::vector<CFieldDef> fields;
    ReadFieldDefs(FieldDefsIniPath(paths_, selection.Kind(), selection.project, selection.table),
                  fields);
    return QueryBuilderLogic(selection.Kind(), fields, condition, DateSettingsOf(paths_),
                             prompts_)
        .Ok();
  }
  std::optional<std::string> SqlQuery(const ProjectSelection&, const std::string&) override {
    return SqlQueryLogic(prompts_).Ok(sql_tables, sql_where);
  }

  std::vector<std::string> picked;
  std::string typed;
  std::string condition;  // a Query Builder condition, or "FROM" for the SQL Query dialog
  std::string sql_tables;
  std::string sql_where;

 private:
  const CServerPaths& paths_;
  Prompts& prompts_;
};

class RuleEditorTest : public ::testing::Test {
 protected:
  // Runs vgrules with the words after the program name; err holds what it
  // said on the error stream.
  int Run(const std::vector<std::string>& args) {
    std::string error;
    std::optional<RuleEditorCommand> command = ParseRuleEditorCommand(args, &error);
    EXPECT_TRUE(command) << error;
    if (!command) return 2;
    out_.str("");
    err_.str("");
    return RunRuleEditor(*command, out_, err_);
  }

  std::optional<RuleRecord> Stored(long id) {
    std::vector<RuleRecord> found;
    EXPECT_TRUE(ReadRuleTable(home_.rule_table(), &found, RuleIdFilter(id)).ok());
    return found.empty() ? std::nullopt : std::optional<RuleRecord>(found.front());
  }

  // The Setup Rules dialog opened on the demo project's Bugs table.
  SetupRulesLogic& Dialog() {
    paths_ = std::make_unique<CServerPaths>(CServerPaths::Program::kManager);
    browsers_ = std::make_unique<SupervisorBrowsers>(*paths_, prompts_);
    selection_ = {"0", kServerDirSource, "Demo", ""};
    dialog_ = std::make_unique<SetupRulesLogic>(*paths_, selection_, prompts_, *browsers_);
    dialog_->Open();
    const std::vector<std::string>& tables = dialog_->state().tables;
    auto bugs = std::find(tables.begin(), tables.end(), "Demo\\Bugs");
    dialog_->TableChanged(static_cast<int>(bugs - tables.begin()));
    return *dialog_;
  }
  int Index(const std::vector<std::string>& list, const std::string& text) {
    return static_cast<int>(std::find(list.begin(), list.end(), text) - list.begin());
  }
  int Item(long rule_id) {
    for (size_t i = 0; i < dialog_->list().size(); ++i) {
      if (dialog_->list().row(i).rule_id == rule_id) return static_cast<int>(i);
    }
    return -1;
  }

  static void ExpectSameRule(const RuleRecord& a, const RuleRecord& b) {
    EXPECT_EQ(a.db_type, b.db_type);
    EXPECT_EQ(a.dsn, b.dsn);
    EXPECT_EQ(a.db_table, b.db_table);
    EXPECT_EQ(a.action, b.action);
    EXPECT_EQ(a.target, b.target);
    EXPECT_EQ(a.values, b.values);
    EXPECT_EQ(a.cond, b.cond);
    EXPECT_EQ(a.flag, b.flag);
    EXPECT_EQ(a.reserved, b.reserved);
  }

  testing::TestInstallation home_{testing::InstallationBuilder::Demo()};
  std::ostringstream out_;
  std::ostringstream err_;
  RecordingPrompts prompts_;
  std::unique_ptr<CServerPaths> paths_;
  std::unique_ptr<SupervisorBrowsers> browsers_;
  ProjectSelection selection_;
  std::unique_ptr<SetupRulesLogic> dialog_;
};

TEST_F(RuleEditorTest, AddAndReplaceWriteWhatTheSetupRulesDialogWritesForTheSameInput) {
  // The demo holds rules 1 to 8.
  ASSERT_EQ(Run({"add", "--kind", "0", "--table", "demo\\bugs", "--action", "notify",
                 "--target", "user", "--values", "BOB,ann", "--cond", "(Status is (Open))"}),
            0)
      << err_.str();
  EXPECT_EQ(out_.str(), "Rule 9 added\n");

  SetupRulesLogic& dialog = Dialog();
  dialog.New();
  dialog.ActionChanged(Index(dialog.state().actions, "Notify"));
  dialog.TargetChanged(Index(dialog.state().targets, "User"));
  browsers_->picked = {"bob", "ann"};
  dialog.BrowseValues();
  browsers_->condition = "(Status is (Open))";
  dialog.BrowseCondition();
  prompts_.answers = {true};  // the same rule as the typed one: added again
  ASSERT_TRUE(dialog.Add()) << ::testing::PrintToString(prompts_.Texts());

  std::optional<RuleRecord> typed = Stored(9);
  std::optional<RuleRecord> composed = Stored(10);
  ASSERT_TRUE(typed && composed);
  ExpectSameRule(*typed, *composed);
  // The names in the list's order and letter case, the dialog's data source.
  EXPECT_EQ(typed->values, "ann,bob");
  EXPECT_EQ(typed->dsn, "SERVERDIR");
  EXPECT_EQ(typed->db_table, "Demo\\Bugs");
  EXPECT_EQ(typed->action, "Notify");

  ASSERT_EQ(Run({"replace", "9", "--action", "Update", "--values", "Priority=2;status=fixed",
                 "--cond", "FROM Bugs WHERE Priority = 1"}),
            0)
      << err_.str();
  EXPECT_EQ(out_.str(), "Rule 9 replaced\n");
  prompts_.answers = {true};  // "Selected rule will be replaced!"
  dialog.Edit(Item(10));
  dialog.ActionChanged(Index(dialog.state().actions, "Update"));
  browsers_->typed = "Priority=2;Status=Fixed";
  dialog.BrowseValues();
  browsers_->condition = "FROM";
  browsers_->sql_tables = "Bugs";
  browsers_->sql_where = "Priority = 1";
  dialog.set_condition("");
  dialog.BrowseCondition();
  ASSERT_TRUE(dialog.Replace(Item(10)));

  typed = Stored(9);
  composed = Stored(10);
  ASSERT_TRUE(typed && composed);
  ExpectSameRule(*typed, *composed);
  EXPECT_EQ(typed->values, "Priority=2;Status=Fixed");
  EXPECT_EQ(typed->cond, "FROM Bugs WHERE (Priority = 1)");
  EXPECT_EQ(typed->flag, kRuleFlagSqlCondition);
}

TEST_F(RuleEditorTest, DisableEnableAndDeleteTouchOnlyTheirRule) {
  const std::string table_before = ReadText(home_.rule_table());
  std::optional<RuleRecord> before = Stored(3);
  ASSERT_TRUE(before);

  ASSERT_EQ(Run({"disable", "3"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "Rule 3 disabled\n");
  EXPECT_TRUE(Stored(3)->disabled());
  ASSERT_EQ(Run({"list", "--table", "Demo\\Bugs"}), 0);
  EXPECT_NE(out_.str().find("3\t0\tSERVERDIR\tDemo\\Bugs\tNotify\tUser\tann,bob,carl,dave,erin\t"
                            "(Status is (Open,Reopened)) .AND.(Priority is (1))\t0\tdisabled\n"),
            std::string::npos)
      << out_.str();
  EXPECT_EQ(out_.str().find("Demo\\Tasks"), std::string::npos);

  // Run Always needs a free query on a dBase project; a disabled rule stays
  // disabled when it is replaced.
  ASSERT_EQ(Run({"replace", "3", "--cond", "FROM Bugs WHERE (Priority = 1)", "--run-always"}), 0)
      << err_.str();
  EXPECT_TRUE(Stored(3)->disabled());
  EXPECT_EQ(Stored(3)->flag, kRuleFlagSqlCondition | kRuleFlagRunAlways);
  ASSERT_EQ(Run({"show", "3"}), 0);
  EXPECT_NE(out_.str().find("Flag:        3 (SQL query) (run always)\n"
                            "State:       disabled (Reserved1 is 1)\n"),
            std::string::npos)
      << out_.str();
  ASSERT_EQ(Run({"replace", "3", "--no-run-always"}), 0) << err_.str();
  EXPECT_EQ(Stored(3)->flag, kRuleFlagSqlCondition);

  ASSERT_EQ(Run({"enable", "3"}), 0);
  EXPECT_FALSE(Stored(3)->disabled());
  EXPECT_EQ(Stored(3)->reserved, RuleReserved{});

  ASSERT_EQ(Run({"delete", "3"}), 0);
  EXPECT_EQ(out_.str(), "Rule 3 deleted\n");
  EXPECT_FALSE(Stored(3));
  std::vector<RuleRecord> left;
  ASSERT_TRUE(ReadRuleTable(home_.rule_table(), &left).ok());
  EXPECT_EQ(left.size(), 7u);
  EXPECT_TRUE(Stored(7)->disabled());  // the demo's own disabled rule
  EXPECT_NE(ReadText(home_.rule_table()), table_before);
}

TEST_F(RuleEditorTest, RefusalsGiveTheDialogsMessagesAndLeaveTheRuleTableAsItWas) {
  const std::string add_bugs[] = {"add", "--kind", "0", "--table", "Demo\\Bugs"};
  auto add = [&](std::vector<std::string> more) {
    std::vector<std::string> args(std::begin(add_bugs), std::end(add_bugs));
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const std::string long_title(120, 'x');
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {add({"--action", "Notify", "--target", "User", "--cond", "(Status is (Open))"}),
       "Incomplete rule!"},
      {add({"--action", "Update", "--values", "Title=" + long_title + ";Resolution=none",
            "--cond", "(Status is (Open))"}),
       "Too many values selected.\n\nSplit into multiple rules."},
      {add({"--action", "Notify", "--target", "Address", "--values", "someone",
            "--cond", "(Status is (Open))"}),
       "Invalid Internet Address"},
      {add({"--action", "Notify", "--target", "User", "--values", "ann,zed",
            "--cond", "(Status is (Open))"}),
       "Unknown user zed!"},
      {add({"--action", "Notify", "--target", "Group", "--values", "Nobody",
            "--cond", "(Status is (Open))"}),
       "Unknown group Nobody!"},
      {add({"--action", "Update", "--values", "Created=13/45/26", "--cond", "(Status is (Open))"}),
       "Invalid date value (MM/DD/YY) in the Created field!"},
      {add({"--action", "Update", "--values", "Nope=1", "--cond", "(Status is (Open))"}),
       "Nope is not a field an update rule can set!"},
      {add({"--action", "Notify", "--target", "User", "--values", "ann",
            "--cond", "(Created is (13/45/26))"}),
       "Invalid date value (MM/DD/YY) in the Created field!"},
      {add({"--action", "Notify", "--target", "User", "--values", "ann",
            "--cond", "(Nope is (1))"}),
       "The rule would not run as written: the condition names the field Nope, which is not "
       "in the table!"},
      {add({"--action", "Notify", "--target", "User", "--values", "ann",
            "--cond", "(Title is (" + std::string(250, 'y') + "))"}),
       "The condition is 263 characters long; a rule holds at most 255.\n\n"
       "Remove some criteria and try again."},
      {add({"--action", "Notify", "--target", "User", "--values", "ann",
            "--cond", "FROM Bugs"}),
       "Please enter a valid where clause."},
      {add({"--action", "Notify", "--target", "User", "--values", "ann",
            "--cond", "(Status is (Open))", "--run-always"}),
       kRunAlwaysRefusedMessage},
      {add({"--action", "Notify", "--target", "Everyone", "--values", "ann",
            "--cond", "(Status is (Open))"}),
       "Everyone is not a target of Notify rules!"},
      {{"add", "--kind", "0", "--table", "Demo\\Nope", "--action", "Notify"},
       "Demo\\Nope is not a table of project Demo!"},
      {{"add", "--kind", "0", "--table", "Bugs", "--action", "Notify"},
       "Bugs names no project: give PROJECT\\TABLE!"},
      {{"add", "--kind", "7", "--table", "Demo\\Bugs"},
       "Unknown database kind 7: 0 (dBase), 1 (SQL Server), 2 (Oracle) or 3 (Sybase)!"},
      {{"add", "--kind", "0", "--dsn", "Other", "--table", "Demo\\Bugs"},
       "The data source of a dBase project is SERVERDIR, not Other!"},
      {{"replace", "77", "--values", "ann"}, "No rule has the id 77!"},
      {{"replace", "3", "--table", "Demo\\Tasks"},
       "Rule 3 belongs to Demo\\Bugs: replace keeps a rule in its table!"},
      {{"replace", "3", "--action", "Update"}, "Incomplete rule!"},
      {{"delete", "77"}, "No rule has the id 77!"},
      {{"disable", "77"}, "No rule has the id 77!"},
      {{"show", "77"}, "No rule has the id 77!"},
  };
  const std::string table_before = ReadText(home_.rule_table());
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args), 1) << c.args[0] << " " << c.message;
    EXPECT_EQ(err_.str(), "vgrules: " + c.message + "\n");
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(ReadText(home_.rule_table()), table_before) << c.message;
  }
}

TEST(RuleEditorCommandTest, TakesEachVerbsOptionsAndRefusesOthers) {
  std::string error;
  std::optional<RuleEditorCommand> command = ParseRuleEditorCommand(
      {"add", "--kind=1", "--dsn", "BUGS", "--table", "P\\T", "--action", "Update", "--values",
       "A=1", "--cond", "FROM T WHERE (A = 2)", "--run-always"},
      &error);
  ASSERT_TRUE(command) << error;
  EXPECT_EQ(command->verb, RuleEditorCommand::Verb::kAdd);
  EXPECT_EQ(command->kind, "1");
  EXPECT_EQ(command->condition, "FROM T WHERE (A = 2)");
  EXPECT_EQ(command->run_always, true);
  EXPECT_FALSE(command->target);

  command = ParseRuleEditorCommand({"replace", "12", "--no-run-always"}, &error);
  ASSERT_TRUE(command) << error;
  EXPECT_EQ(command->rule_id, 12);
  EXPECT_EQ(command->run_always, false);

  const std::pair<std::vector<std::string>, std::string> wrong[] = {
      {{}, "a command is needed"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"show"}, "show needs a rule id (a positive number)"},
      {{"delete", "0"}, "delete needs a rule id (a positive number)"},
      {{"enable", "x1"}, "enable needs a rule id (a positive number)"},
      {{"add", "--kind", "0"}, "add needs --kind and --table"},
      {{"add", "--kind"}, "--kind needs a value"},
      {{"list", "--values", "x"}, "unknown argument '--values' for list"},
      {{"delete", "3", "--table", "P\\T"}, "unknown argument '--table' for delete"},
      {{"add", "--no-run-always"}, "--no-run-always is for replace"},
      {{"replace", "3", "--cond", "a", "--cond", "b"}, "--cond is given twice"},
  };
  for (const auto& [args, complaint] : wrong) {
    EXPECT_FALSE(ParseRuleEditorCommand(args, &error)) << complaint;
    EXPECT_EQ(error, complaint);
  }
}

TEST(RuleEditorListingTest, KeepsEachRuleOnOneLine) {
  EXPECT_EQ(ListingText("a\tb\r\nc\\d"), "a\\tb\\r\\nc\\d");
}

}  // namespace
}  // namespace vigilo
