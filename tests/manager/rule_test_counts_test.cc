// Trying a rule on a generated table of 2,000 records: the counts of records
// meeting its condition and of those it would act on, the records listed,
// "start from now" and its refusal while an engine runs, failures told as
// messages, cancelling and the listing limit.
#include "manager/rule_test.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/sql/connection.h"
#include "platform/sql/database.h"
#include "service/installation_lock.h"
#include "tests/manager/generated_home.h"

namespace vigilo {
namespace {

constexpr long kRecords = 2000;
// Records 1, 21, 41, ...: open with priority 1.
constexpr const char* kOpenPriorityOne = "(Status is (Open)) .AND.(Priority is (1))";

class RuleTestCounts : public ::testing::Test {
 protected:
  static TestedRule Rule(const std::string& condition, std::optional<long> id = std::nullopt) {
    TestedRule rule;
    rule.kind = 0;
    rule.dsn = "SERVERDIR";
    rule.project_table = "Demo\\Bugs";
    rule.action = "Notify";
    rule.target = "User";
    rule.values = "ann";
    rule.condition = condition;
    rule.rule_id = id;
    return rule;
  }

  std::string FlagTable() const { return home_.FlagTablePath("Demo", "Bugs"); }

  testing::TestInstallation home_{testing::GeneratedBugsBuilder(kRecords)};
};

TEST_F(RuleTestCounts, NewRuleActsOnEveryRecordThatMeetsItAndNothingIsWritten) {
  RuleTestResult result = CountRule(Rule("(Status is (Open))"));
  ASSERT_EQ(result.outcome, RuleTestResult::Outcome::kCounted) << result.message;
  EXPECT_EQ(result.meeting, kRecords / 4);
  EXPECT_EQ(result.to_act_on, kRecords / 4);
  EXPECT_FALSE(result.has_flag_table);
  EXPECT_EQ(result.column, "Title");
  ASSERT_EQ(result.records.size(), static_cast<size_t>(kRecords / 4));
  EXPECT_EQ(result.records[0].form_id, 1);
  EXPECT_EQ(result.records[0].value, "Bug 1");
  EXPECT_EQ(result.records[1].form_id, 5);
  EXPECT_EQ(result.records.back().value, "Bug 1997");
  EXPECT_NE(result.selection.find("Status"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(FlagTable()));
  EXPECT_FALSE(std::filesystem::exists(home_.run_log()));
}

TEST_F(RuleTestCounts, MarkedRecordsAreLeftOutUntilARecordNewlyMeetsTheRule) {
  MarkResult marked = MarkRuleHandled(Rule(kOpenPriorityOne, 3));
  ASSERT_TRUE(marked.marked) << marked.message;
  EXPECT_EQ(marked.count, kRecords / 20);

  RuleTestResult after = CountRule(Rule(kOpenPriorityOne, 3));
  ASSERT_EQ(after.outcome, RuleTestResult::Outcome::kCounted) << after.message;
  EXPECT_TRUE(after.has_flag_table);
  EXPECT_EQ(after.meeting, kRecords / 20);
  EXPECT_EQ(after.to_act_on, 0);
  EXPECT_TRUE(after.records.empty());

  // Record 2 (fixed, priority 2) newly meets the condition.
  home_.ChangeField("Demo", "Bugs", 2, "Status", "Open", "ann");
  home_.ChangeField("Demo", "Bugs", 2, "Priority", "1", "ann");
  RuleTestResult changed = CountRule(Rule(kOpenPriorityOne, 3));
  EXPECT_EQ(changed.meeting, kRecords / 20 + 1);
  ASSERT_EQ(changed.to_act_on, 1);
  ASSERT_EQ(changed.records.size(), 1u);
  EXPECT_EQ(changed.records[0].form_id, 2);
  EXPECT_EQ(changed.records[0].value, "Bug 2");

  // The flags are the rule's own: another rule, or one not added yet, would
  // still act on every record.
  EXPECT_EQ(CountRule(Rule(kOpenPriorityOne, 5)).to_act_on, kRecords / 20 + 1);
  EXPECT_EQ(CountRule(Rule(kOpenPriorityOne)).to_act_on, kRecords / 20 + 1);

  // Marking again flags only the new record.
  MarkResult again = MarkRuleHandled(Rule(kOpenPriorityOne, 3));
  ASSERT_TRUE(again.marked) << again.message;
  EXPECT_EQ(again.count, 1);
}

TEST_F(RuleTestCounts, MarkingIsRefusedWhileAnotherEngineHoldsTheInstallation) {
  InstallationLock engine;
  std::string why;
  ASSERT_TRUE(engine.Acquire(InstallationLock::PathFor(home_.server_dir()), &why)) << why;
  MarkResult refused = MarkRuleHandled(Rule(kOpenPriorityOne, 3));
  EXPECT_FALSE(refused.marked);
  EXPECT_NE(refused.message.find("held by process"), std::string::npos) << refused.message;
  EXPECT_NE(refused.message.find("Stop Vigilo Server"), std::string::npos) << refused.message;
  EXPECT_FALSE(std::filesystem::exists(FlagTable()));
  // Counting changes nothing and is not refused.
  EXPECT_EQ(CountRule(Rule(kOpenPriorityOne, 3)).to_act_on, kRecords / 20);
}

TEST_F(RuleTestCounts, RulesThatCannotRunAreToldWhy) {
  RuleTestResult unknown_field = CountRule(Rule("(Nosuch is (1))"));
  EXPECT_EQ(unknown_field.outcome, RuleTestResult::Outcome::kFailed);
  EXPECT_EQ(unknown_field.message.rfind("The service would refuse this rule: ", 0), 0u)
      << unknown_field.message;

  TestedRule missing_table = Rule("(Status is (Open))");
  missing_table.project_table = "Demo\\Nosuch";
  RuleTestResult no_table = CountRule(missing_table);
  EXPECT_EQ(no_table.outcome, RuleTestResult::Outcome::kFailed);
  EXPECT_EQ(no_table.message.rfind("The project has no table Nosuch: its INI file ", 0), 0u)
      << no_table.message;

  // The project's own entry of the Project Table list: no change history.
  TestedRule project_itself = Rule("(Status is (Open))");
  project_itself.project_table = "Demo\\Demo";
  RuleTestResult no_history = CountRule(project_itself);
  EXPECT_NE(no_history.message.find("has no change history"), std::string::npos)
      << no_history.message;

  TestedRule no_where = Rule("FROM Bugs");
  no_where.flag = 1;
  RuleTestResult sql = CountRule(no_where);
  EXPECT_EQ(sql.outcome, RuleTestResult::Outcome::kFailed);
  EXPECT_NE(sql.message.find("no WHERE clause"), std::string::npos) << sql.message;

  TestedRule bad_sql = Rule("FROM Bugs WHERE (Nosuch = 1)");
  bad_sql.flag = 1;
  RuleTestResult failing = CountRule(bad_sql);
  EXPECT_EQ(failing.outcome, RuleTestResult::Outcome::kFailed);
  EXPECT_NE(failing.message.find("SQL : "), std::string::npos) << failing.message;

  // An update rule whose values are not chosen yet is tried on its condition.
  TestedRule update = Rule("(Status is (Open))");
  update.action = "Update";
  update.target = "Field";
  update.values = "";
  EXPECT_EQ(CountRule(update).meeting, kRecords / 4);
  update.values = "Nosuch=1";
  EXPECT_EQ(CountRule(update).outcome, RuleTestResult::Outcome::kFailed);
}

TEST_F(RuleTestCounts, ACountStopsWhenCancelledAndListsUpToItsLimit) {
  std::atomic<bool> cancel{false};
  long progress_calls = 0;
  RuleTestOptions options;
  options.cancel = &cancel;
  options.progress = [&](long rows) {
    ++progress_calls;
    if (rows >= 2 * kRuleTestProgressRows) cancel = true;
  };
  RuleTestResult cancelled = CountRule(Rule("(Status is (Open))"), options);
  EXPECT_EQ(cancelled.outcome, RuleTestResult::Outcome::kCancelled);
  EXPECT_EQ(progress_calls, 2);
  EXPECT_TRUE(cancelled.records.empty());

  RuleTestOptions limited;
  limited.list_limit = 10;
  RuleTestResult listed = CountRule(Rule("(Status is (Open))"), limited);
  EXPECT_EQ(listed.to_act_on, kRecords / 4);
  ASSERT_EQ(listed.records.size(), 10u);
  EXPECT_EQ(listed.records.back().form_id, 37);
  EXPECT_EQ(listed.records.back().value, "Bug 37");
}

// Sets the cancel flag as the first statement naming Priority (the selection)
// starts, as a supervisor clicking Cancel while it runs would.
class CancelOnSelection : public sql::Connection {
 public:
  CancelOnSelection(std::unique_ptr<sql::Connection> inner, std::atomic<bool>* cancel)
      : inner_(std::move(inner)), cancel_(cancel) {}
  long Execute(const std::string& statement) override { return inner_->Execute(statement); }
  std::unique_ptr<sql::Cursor> Query(const std::string& statement) override {
    if (statement.find("Priority") != std::string::npos) *cancel_ = true;
    return inner_->Query(statement);
  }
  bool IsDbase() const override { return inner_->IsDbase(); }
  void SetStopCheck(std::function<bool()> check) override {
    inner_->SetStopCheck(std::move(check));
  }

 private:
  std::unique_ptr<sql::Connection> inner_;
  std::atomic<bool>* cancel_;
};

TEST_F(RuleTestCounts, TheDbaseEngineStopsAScanThatYieldsNoRow) {
  std::atomic<bool> cancel{false};
  sql::SetConnectionFactory([&cancel](const std::string& connection_string) {
    return std::make_unique<CancelOnSelection>(sql::OpenDefaultConnection(connection_string),
                                               &cancel);
  });
  RuleTestOptions options;
  options.cancel = &cancel;
  // No record has a priority from 6 to 9: the scan never reaches a row.
  RuleTestResult result = CountRule(Rule("(Priority is (6-9))"), options);
  sql::SetConnectionFactory(nullptr);
  EXPECT_EQ(result.outcome, RuleTestResult::Outcome::kCancelled) << result.message;
}

// Fails every flag insertion, as a full disk or a lost server would.
class FailingFlagInserts : public sql::Connection {
 public:
  explicit FailingFlagInserts(std::unique_ptr<sql::Connection> inner) : inner_(std::move(inner)) {}
  long Execute(const std::string& statement) override {
    if (statement.rfind("INSERT INTO", 0) == 0) throw DbException("disk full");
    return inner_->Execute(statement);
  }
  std::unique_ptr<sql::Cursor> Query(const std::string& statement) override {
    return inner_->Query(statement);
  }
  bool IsDbase() const override { return inner_->IsDbase(); }

 private:
  std::unique_ptr<sql::Connection> inner_;
};

TEST_F(RuleTestCounts, MarkingThatCannotFlagTheRecordsIsNotReportedAsDone) {
  sql::SetConnectionFactory([](const std::string& connection_string) {
    return std::make_unique<FailingFlagInserts>(sql::OpenDefaultConnection(connection_string));
  });
  MarkResult failed = MarkRuleHandled(Rule(kOpenPriorityOne, 3));
  sql::SetConnectionFactory(nullptr);
  EXPECT_FALSE(failed.marked);
  EXPECT_EQ(failed.message.rfind(kMarkFailedMessage, 0), 0u) << failed.message;
  EXPECT_NE(failed.message.find("disk full"), std::string::npos) << failed.message;
  EXPECT_EQ(CountRule(Rule(kOpenPriorityOne, 3)).to_act_on, kRecords / 20);
}

}  // namespace
}  // namespace vigilo
