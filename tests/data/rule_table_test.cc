// The rule table under concurrent use: readers (the xBase library as the rule
// manager reads, the dBase engine as the service loads) never see a table
// missing a rule while another thread replaces rules; concurrent writers lose
// no change; a damaged table is an error naming the file and the reason.
#include "data/rule_table.h"

#include <atomic>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "platform/sql/database.h"
#include "tests/common/temp_dir.h"

namespace vigilo {
namespace {

constexpr int kRules = 8;

RuleRecord Rule(int32_t id, const std::string& values) {
  RuleRecord rule;
  rule.rule_id = id;
  rule.dsn = "SERVERDIR";
  rule.db_table = "Proj\\Bugs";
  rule.action = kNotifyAction;
  rule.target = "User";
  rule.values = values;
  rule.cond = "(Status is (New))";
  return rule;
}

class RuleTableTest : public ::testing::Test {
 protected:
  RuleTableTest() : path_(dir_.File("Vigtab.dbf")) {
    std::vector<RuleRecord> rules;
    for (int id = 1; id <= kRules; ++id) rules.push_back(Rule(id, "old"));
    EXPECT_TRUE(WriteRuleTable(path_, rules).ok());
  }

  // The rules as the service loads them, as (id, values).
  std::vector<std::pair<int32_t, std::string>> Load() {
    Database db;
    db.Open(RuleTableConnection(path_), Database::kNoOdbcDialog);
    Recordset rows;
    std::vector<std::pair<int32_t, std::string>> loaded;
    for (rows.Open(db, LoadableRulesQuery(path_, RuleOrder::kByKind)); !rows.IsEOF();
         rows.MoveNext()) {
      RuleRecord record = RuleRecordOfRow(rows);
      loaded.emplace_back(record.rule_id, record.values);
    }
    return loaded;
  }

  // Every rule once, each with its old or a new text.
  template <typename Rules>
  static void ExpectWhole(const Rules& rules, const char* reader) {
    std::set<int32_t> ids;
    for (const auto& [id, values] : rules) {
      ids.insert(id);
      EXPECT_TRUE(values == "old" || values.rfind("new", 0) == 0) << reader << ": " << values;
    }
    EXPECT_EQ(rules.size(), static_cast<size_t>(kRules)) << reader;
    EXPECT_EQ(ids.size(), static_cast<size_t>(kRules)) << reader;
  }

  testing::TempDir dir_;
  std::string path_;
};

TEST_F(RuleTableTest, ReadersSeeEveryRuleOldOrNewWhileAnotherThreadReplacesThem) {
  std::atomic<bool> done{false};
  std::atomic<int> failed_writes{0};
  std::thread writer([&] {
    for (int round = 0; round < 40; ++round) {
      for (int32_t id = 1; id <= kRules; ++id) {
        RuleRecord rule = Rule(0, "new" + std::to_string(round));
        if (!ReplaceRule(path_, id, &rule).ok()) ++failed_writes;
      }
    }
    done = true;
  });
  int loads = 0;
  while (!done) {
    std::vector<RuleRecord> records;
    RuleTableStatus status = ReadRuleTable(path_, &records);
    ASSERT_TRUE(status.ok()) << status.message;
    std::vector<std::pair<int32_t, std::string>> read;
    for (const RuleRecord& r : records) read.emplace_back(r.rule_id, r.values);
    ExpectWhole(read, "xBase reader");
    ExpectWhole(Load(), "service load");
    ++loads;
  }
  writer.join();
  EXPECT_EQ(failed_writes, 0);
  EXPECT_GT(loads, 0);
  // The last replace is what the service loads next, in the same process.
  for (const auto& [id, values] : Load()) EXPECT_EQ(values, "new39") << id;
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
  int disabled = 0;
  for (const RuleRecord& r : records) disabled += r.disabled() ? 1 : 0;
  EXPECT_EQ(disabled, kRules / 2);
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
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
    const char* reason;
  };
  const Case cases[] = {
      {"no Cond field",
       [](const std::string& path) {
         std::vector<DbfField> fields = RuleTableFields();
         fields.erase(fields.begin() + 7);
         DbfTable::Create(path, fields)->Close();
       },
       "no field Cond"},
      {"not a table", [](const std::string& path) { testing::WriteText(path, "rules"); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.damage(path_);
    const std::string before = testing::ReadText(path_);
    std::vector<RuleRecord> records;
    RuleTableStatus status = ReadRuleTable(path_, &records);
    EXPECT_EQ(status.code, RuleTableStatus::Code::kDamaged);
    EXPECT_EQ(status.message.rfind(path_, 0), 0u) << status.message;
    EXPECT_NE(status.message.find(c.reason), std::string::npos) << status.message;
    RuleRecord rule = Rule(0, "new");
    status = AppendRule(path_, &rule);
    EXPECT_EQ(status.code, RuleTableStatus::Code::kDamaged);
    EXPECT_EQ(status.message.rfind(path_, 0), 0u) << status.message;
    EXPECT_EQ(testing::ReadText(path_), before);
  }
}

}  // namespace
}  // namespace vigilo
