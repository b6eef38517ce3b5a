// vgrules as an administrator runs it on a demo installation: a rule added,
// listed, replaced, disabled, enabled and deleted, read back from the rule
// table with the xBase library field by field; and a refusal that changes
// nothing and says why.
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "data/rule_table.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/test_installation.h"
#include "tools/demo/demo_installation.h"
#include "tools/demo/installation_writer.h"

namespace vigilo {
namespace {

#ifdef VIGILO_VGRULES_PROGRAM

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs vgrules on the installation with the arguments (each single-quoted
// for the shell).
ProgramRun Vgrules(const demo::Installation& install, const std::vector<std::string>& args,
            const std::string& err_file) {
  std::string command = std::string("'") + VIGILO_VGRULES_PROGRAM + "' --home '" +
                        install.program_dir() + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " 2>'" + err_file + "' </dev/null";
  ProgramRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    run.out.append(buffer.data(), n);
  }
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = testing::ReadText(err_file);
  return run;
}

// The rule table's records with the rule id, each field as its text.
std::vector<std::vector<std::string>> Records(const demo::Installation& install, long id) {
  std::vector<std::vector<std::string>> records;
  auto table = DbfTable::Open(install.rule_table(), false);
  for (bool on = table->GoFirst(); on; on = table->Skip()) {
    if (table->FieldLong(table->FieldIndex("RuleId")) != id) continue;
    std::vector<std::string> fields;
    for (const char* name : {"RuleId", "DbType", "Dsn", "DbTable", "Action", "Target", "Values",
                             "Cond", "Flag", "Reserved1"}) {
      fields.push_back(table->Text(table->FieldIndex(name)));
    }
    records.push_back(fields);
  }
  return records;
}

class VgrulesTest : public ::testing::Test {
 protected:
  ProgramRun Vgrules(const std::vector<std::string>& args) {
    return vigilo::Vgrules(install_, args, install_.File("stderr.txt"));
  }

  testing::TestInstallation install_{testing::InstallationBuilder::Demo()};
};

TEST_F(VgrulesTest, AddListReplaceDisableEnableDeleteRoundTrip) {
  ProgramRun run = Vgrules({"add", "--kind", "0", "--table", "Demo\\Tasks", "--action", "Notify",
                     "--target", "Group", "--values", "support,developers", "--cond",
                     "(State is (Done))"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Rule 9 added\n");
  using Fields = std::vector<std::string>;
  EXPECT_EQ(Records(install_, 9),
            (std::vector<Fields>{{"9", "0", "SERVERDIR", "Demo\\Tasks", "Notify", "Group",
                                  "Developers,Support", "(State is (Done))", "0", ""}}));

  run = Vgrules({"list", "--table", "Demo\\Tasks"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "4\t0\tSERVERDIR\tDemo\\Tasks\tNotify\tGroup\tDevelopers\t(State is (Active))\t0\tenabled\n"
            "7\t0\tSERVERDIR\tDemo\\Tasks\tNotify\tUser\tsysop\t(State is (Done))\t0\tdisabled\n"
            "8\t0\tSERVERDIR\tDemo\\Tasks\tNotify\tUser\tsysop\t(State is (New))\t0\tenabled\n"
            "9\t0\tSERVERDIR\tDemo\\Tasks\tNotify\tGroup\tDevelopers,Support\t"
            "(State is (Done))\t0\tenabled\n");

  run = Vgrules({"replace", "9", "--action", "Update", "--values", "State=Active;Effort=2",
                 "--cond", "FROM Tasks WHERE (Effort > 3)", "--run-always"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Records(install_, 9),
            (std::vector<Fields>{{"9", "0", "SERVERDIR", "Demo\\Tasks", "Update", "Field",
                                  "State=Active;Effort=2", "FROM Tasks WHERE (Effort > 3)", "3",
                                  ""}}));

  ASSERT_EQ(Vgrules({"disable", "9"}).status, 0);
  EXPECT_EQ(Records(install_, 9).at(0).at(9), "1");
  ASSERT_EQ(Vgrules({"enable", "9"}).status, 0);
  EXPECT_EQ(Records(install_, 9).at(0).at(9), "");

  run = Vgrules({"delete", "9"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Rule 9 deleted\n");
  EXPECT_TRUE(Records(install_, 9).empty());
  EXPECT_EQ(Records(install_, 8).size(), 1u);
}

TEST_F(VgrulesTest, ARefusalSaysWhyOnStandardErrorAndChangesNothing) {
  const std::string before = testing::ReadText(install_.rule_table());
  // Too long for the rule's Values field.
  ProgramRun run = Vgrules({"add", "--kind", "0", "--table", "Demo\\Bugs", "--action", "Notify",
                     "--target", "Address", "--values", std::string(120, 'a') + "@demo.example",
                     "--cond", "(Status is (Open))"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "vgrules: The Internet address is too long: at most 127 characters!\n");
  // A condition the service could not translate.
  run = Vgrules({"add", "--kind", "0", "--table", "Demo\\Bugs", "--action", "Notify", "--target",
                 "User", "--values", "ann", "--cond", "(Created is (02/30/26))"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Invalid date"), std::string::npos) << run.err;
  EXPECT_EQ(testing::ReadText(install_.rule_table()), before);

  run = Vgrules({"show"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("show needs a rule id"), std::string::npos) << run.err;
}

TEST_F(VgrulesTest, AReaderSeesEveryRuleWhileVgrulesReplacesOne) {
  std::vector<RuleRecord> before;
  ASSERT_TRUE(ReadRuleTable(install_.rule_table(), &before).ok());
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int round = 0; round < 12; ++round) {
      EXPECT_EQ(Vgrules({"replace", "4", "--values", round % 2 ? "support" : "developers"}).status,
                0);
    }
    done = true;
  });
  while (!done) {
    std::vector<RuleRecord> records;
    RuleTableStatus status = ReadRuleTable(install_.rule_table(), &records);
    ASSERT_TRUE(status.ok()) << status.message;
    std::multiset<int32_t> ids;
    for (const RuleRecord& r : records) {
      ids.insert(r.rule_id);
      if (r.rule_id == 4) {
        EXPECT_TRUE(r.values == "Developers" || r.values == "Support") << r.values;
      }
    }
    EXPECT_EQ(records.size(), before.size());
    EXPECT_EQ(ids.count(4), 1u);
  }
  writer.join();
}

TEST_F(VgrulesTest, ADamagedRuleTableIsRefusedWithTheFileAndTheReason) {
  DbfTable::Create(install_.rule_table(), {{"RuleId", 'N', 8, 0}})->Close();
  for (std::vector<std::string> args : {std::vector<std::string>{"list"}, {"delete", "4"}}) {
    ProgramRun run = Vgrules(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(install_.rule_table() + ": no field DbType"), std::string::npos)
        << run.err;
  }
}

#endif  // VIGILO_VGRULES_PROGRAM

}  // namespace
}  // namespace vigilo
