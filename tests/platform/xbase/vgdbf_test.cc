// The vgdbf administrator tool, run as a program on tables the test writes.
#include <gtest/gtest.h>

#include "platform/xbase/dbf_table.h"
#include "tests/platform/xbase/xbase_test_util.h"

namespace vigilo {
namespace {

using xbase_test::RunCommand;

class VgdbfTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef VGDBF_PATH
    GTEST_SKIP() << "vgdbf is not part of this build";
#else
    program_ = VGDBF_PATH;
#endif
    path_ = dir_.File("users.dbf");
    auto table = DbfTable::Create(path_, {{"Login", 'C', 10, 0}, {"MailType", 'N', 4, 0},
                                          {"Since", 'D', 8, 0}, {"Notes", 'M', 10, 0}});
    struct User { const char* login; long type; const char* since; const char* notes; };
    for (User u : {User{"zoe", 5, "20240105", "line\tone\nline two"}, User{"ann", 0, "", ""},
                   User{"bob", 3, "20231201", "x"}}) {
      table->AppendStart();
      table->AssignText(0, u.login);
      table->AssignLong(1, u.type);
      table->AssignText(2, u.since);
      table->AssignText(3, u.notes);
      table->AppendWrite();
    }
    ASSERT_TRUE(table->Read(3));
    table->DeleteRecord();
  }

  std::string Run(const std::string& args, int* status) {
    return RunCommand(program_ + " " + args + " 2>&1", status);
  }

  testing::TempDir dir_;
  std::string program_;
  std::string path_;
};

TEST_F(VgdbfTest, InfoListsVersionCountAndFields) {
  int status = -1;
  std::string out = Run("info " + path_, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Version: 0x8B (dBase IV with memo)"), std::string::npos) << out;
  EXPECT_NE(out.find("Records: 3"), std::string::npos) << out;
  EXPECT_NE(out.find("    1  Login       C        10         0"), std::string::npos) << out;
  EXPECT_NE(out.find("    2  MailType    N         4         0"), std::string::npos) << out;
  EXPECT_NE(out.find("    4  Notes       M        10         0"), std::string::npos) << out;
}

TEST_F(VgdbfTest, DumpsRecordsWithFilterOrderAndDeleted) {
  int status = -1;
  EXPECT_EQ(Run("dump " + path_, &status), "zoe\t5\t20240105\tline\\tone\\nline two\nann\t0\t\t\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Run("dump " + path_ + " --order Login", &status), "ann\t0\t\t\nzoe\t5\t20240105\tline\\tone\\nline two\n");
  EXPECT_EQ(Run("dump " + path_ + " --deleted --filter \"MailType > 0\" --order 'UPPER(Login)'", &status),
            "*\tbob\t3\t20231201\tx\n\tzoe\t5\t20240105\tline\\tone\\nline two\n");
  EXPECT_EQ(status, 0);
}

TEST_F(VgdbfTest, ReportsErrorsWithANonZeroStatus) {
  int status = 0;
  std::string out = Run("", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("usage: vgdbf info FILE"), std::string::npos) << out;
  Run("dump " + path_ + " --order", &status);
  EXPECT_EQ(status, 2);
  Run("list " + path_, &status);
  EXPECT_EQ(status, 2);
  out = Run("info " + dir_.File("none.dbf"), &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("none.dbf: cannot open the table"), std::string::npos) << out;
  out = Run("dump " + path_ + " --filter \"Login = \"", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("xBase expression error at position 9"), std::string::npos) << out;
}

}  // namespace
}  // namespace vigilo
