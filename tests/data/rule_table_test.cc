// The rule table under concurrent use: readers (the xBase library as the rule
// manager reads, the dBase engine as the service loads) never see a table
// missing a rule while another thread replaces rules; concurrent writers lose
// no change; a damaged table is an error naming the file and the reason.
#include "data/rule_table.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include "platform/sql/database.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

constexpr int kRules = 8;

RuleRecord Rule(int32_t id, const std::string& values) {
  return {id, 0, "SERVERDIR", "Proj\\Bugs", kNotifyAction, "User", values, "(Status is (New))", 0, {}};
}

class RuleTableTest : public ::testing::Test {
 protected:
  RuleTableTest() : path_(dir_.File("Vigtab.dbf")) {
    std::vector<RuleRecord> rules;
    for (int id = 1; id <= kRules; ++id) rules.push_back(Rule(id, "old"));
    EXPECT_TRUE(WriteRuleTable(path_, rules).ok());
  }

  // The rules as the service loads them.
  std::vector<RuleRecord> Load() {
    Database db;
    db.Open(RuleTableConnection(path_), Database::kNoOdbcDialog);
    Recordset rows;
    std::vector<RuleRecord> loaded;
    for (rows.Open(db, LoadableRulesQuery(path_, RuleOrder::kByKind)); !rows.IsEOF();
         rows.MoveNext()) {
      loaded.push_back(RuleRecordOfRow(rows));
    }
    return loaded;
  }

  // Every rule once, each with its old or a new text.
  static void ExpectWhole(const std::vector<RuleRecord>& rules, const char* reader) {
    std::set<int32_t> ids;
    for (const RuleRecord& r : rules) {
      ids.insert(r.rule_id);
      EXPECT_TRUE(r.values == "old" || r.values.rfind("new", 0) == 0) << reader << ": " << r.values;
    }
    EXPECT_EQ(rules.size(), static_cast<size_t>(kRules)) << reader;
    EXPECT_EQ(ids.size(), static_cast<size_t>(kRules)) << reader;
  }

  testing::TempDir dir_;
  std::string path_;
};

TEST_F(RuleTableTest, ReadersSeeEveryRuleOldOrNewWhileAnotherThreadReplacesThem) {
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int round = 0; round < 40; ++round) {
      for (int32_t id = 1; id <= kRules; ++id) {
        RuleRecord rule = Rule(0, "new" + std::to_string(round));
        EXPECT_TRUE(ReplaceRule(path_, id, &rule).ok());
      }
    }
    done = true;
  });
  while (!done) {
    std::vector<RuleRecord> records;
    RuleTableStatus status = ReadRuleTable(path_, &records);
    ASSERT_TRUE(status.ok()) << status.message;
    ExpectWhole(records, "xBase reader");
    ExpectWhole(Load(), "service load");
  }
  writer.join();
  // The last replace is what the service loads next, in the same process.
  for (const RuleRecord& r : Load()) EXPECT_EQ(r.values, "new39") << r.rule_id;
}

TEST_F(RuleTableTest, WritersAtTheSameTimeLoseNoChange) {
  auto append = [&](int32_t first) {
    for (int32_t id = first; id < first + 20; ++id) {
      RuleRecord rule = Rule(0, "new");
      EXPECT_TRUE(AppendRule(path_, &rule, id).ok());
    }
  };
  std::thread a(append, 100);
  std::thread b(append, 200);
  for (int32_t id = 1; id <= kRules; ++id) {
    EXPECT_TRUE(SetRuleDisabled(path_, id, id % 2 == 0).ok());
  }
  a.join();
  b.join();
  std::vector<RuleRecord> records;
  ASSERT_TRUE(ReadRuleTable(path_, &records).ok());
  EXPECT_EQ(records.size(), static_cast<size_t>(kRules + 40));
  EXPECT_EQ(std::count_if(records.begin(), records.end(), std::mem_fn(&RuleRecord::disabled)),
            kRules / 2);
}

TEST_F(RuleTableTest, ARefusedChangeLeavesTheTableAsItWas) {
  const std::string before = testing::ReadText(path_);
  RuleRecord rule = Rule(0, "new");
  RuleTableStatus status = ReplaceRule(path_, 99, &rule);
  EXPECT_EQ(status.code, RuleTableStatus::Code::kCannotWrite);
  EXPECT_NE(status.message.find(path_), std::string::npos) << status.message;
  rule.cond = std::string(kRuleCondWidth + 1, 'x');  // refused, not cut
  EXPECT_EQ(AppendRule(path_, &rule).code, RuleTableStatus::Code::kCannotWrite);
  EXPECT_EQ(testing::ReadText(path_), before);
}

TEST_F(RuleTableTest, ACopyLeftByAKilledWriterGoesWithTheNextChangeALiveWritersStays) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = dir_.File(".Vigtab.dbf." + std::to_string(child) + ".0.tmp");
  const std::string dead_fresh = dir_.File(".Vigtab.dbf." + std::to_string(child) + ".1.tmp");
  const std::string live = dir_.File(".Vigtab.dbf." + std::to_string(::getppid()) + ".0.tmp");
  const utimbuf old{std::time(nullptr) - 3600, std::time(nullptr) - 3600};
  for (const std::string& copy : {dead, dead_fresh, live}) {
    testing::WriteText(copy, "half a table");
    if (copy != dead_fresh) { ASSERT_EQ(::utime(copy.c_str(), &old), 0); }
  }
  ASSERT_TRUE(SetRuleDisabled(path_, 1, true).ok());
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_TRUE(std::filesystem::exists(dead_fresh));  // may still be a writer's in another namespace
  EXPECT_TRUE(std::filesystem::exists(live));
}

TEST_F(RuleTableTest, ATableWrittenByOthersKeepsItsFieldsAndItsMemos) {
  std::vector<DbfField> fields = RuleTableFields();
  fields.push_back({"Notes", 'M', 10, 0});
  auto table = DbfTable::Create(path_, fields);
  table->AppendStart();
  table->AssignLong(0, 1);
  table->AssignText(14, "written by another tool");
  table->AppendWrite();
  table->Close();
  RuleRecord rule = Rule(0, "new");
  ASSERT_TRUE(AppendRule(path_, &rule).ok());
  ASSERT_TRUE(DeleteRule(path_, 2).ok());
  table = DbfTable::Open(path_, false);
  EXPECT_EQ(table->Fields(), fields);
  ASSERT_TRUE(table->GoFirst());
  EXPECT_EQ(table->Memo(14), "written by another tool");
}

TEST_F(RuleTableTest, ADamagedTableIsAnErrorNamingTheFileAndTheReasonAndStaysAsItWas) {
  // A table without the Cond field, then a file that is no table at all.
  std::vector<DbfField> no_cond = RuleTableFields();
  no_cond.erase(no_cond.begin() + 7);
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { DbfTable::Create(path_, no_cond)->Close(); }, "no field Cond"},
      {[&] { testing::WriteText(path_, "rules"); }, ""},
  };
  for (const auto& [damage, reason] : cases) {
    damage();
    const std::string before = testing::ReadText(path_);
    std::vector<RuleRecord> records;
    RuleTableStatus status = ReadRuleTable(path_, &records);
    EXPECT_EQ(status.code, RuleTableStatus::Code::kDamaged);
    EXPECT_EQ(status.message.rfind(path_, 0), 0u) << status.message;
    EXPECT_NE(status.message.find(reason), std::string::npos) << status.message;
    RuleRecord rule = Rule(0, "new");
    status = AppendRule(path_, &rule);
    EXPECT_EQ(status.code, RuleTableStatus::Code::kDamaged);
    EXPECT_EQ(status.message.rfind(path_, 0), 0u) << status.message;
    EXPECT_EQ(testing::ReadText(path_), before);
  }
}

}  // namespace
}  // namespace vigilo
