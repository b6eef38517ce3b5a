// Update rules end to end on a client-server project of kind 2 (owner.table
// names), served by a real PostgreSQL through psqlODBC: schema proj holds
// bugs, its change history bugshist and the flag table the service creates.
// The data source's odbc.ini section names the server (Servername), and
// morvik.ini holds the login for that server in section "Oracle".
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/ini_profile.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/server_project.h"
#include "tests/support/postgres_server.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;
using demo::RuleDescription;
using testing::RuleBuilder;

constexpr char kBlockStart[] = "Updating records ( Rule ID : ";

class ServerUpdateRulesTest : public ServerProjectTest {
 protected:
  void SetUp() override {
    CreateProject("FormID int, Status varchar(10), Priority int, Resolution varchar(20)",
                  "INSERT INTO proj.bugs VALUES (1,'Open',3,''),(2,'Open',3,''),(3,'Open',3,'');");
  }

  void Install(std::vector<RuleDescription> rules) {
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.rules = std::move(rules);
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
    WriteServerTable(*install_, {
        {"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        {"Priority", demo::kFieldNumber, 0, {}, demo::kFlagDefault, true, ""},
        {"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
    });
  }

  std::string Tick() {
    // Runs append to one run log: the tick's own entries follow the earlier runs.
    const size_t before = install_->ReadRunLog().size();
    EXPECT_EQ(RunServiceOnce(install_->program_dir()), 0)
        << testing::ReadText(install_->program_dir() + "/vgservice.stderr");
    return install_->ReadRunLog().substr(before);
  }

  std::unique_ptr<testing::TestInstallation> install_;
};

TEST_F(ServerUpdateRulesTest, RecordFiresOnceAndAgainAfterItStoppedMeetingTheCondition) {
  Install({RuleBuilder(1).OnServer().Update("Resolution=Done")});
  std::string log = Tick();
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_EQ(Sql("SELECT count(*) FROM proj.bugsvglsvgls"), "0\n");
  EXPECT_NE(GetProfileString(install_->server_dir() + "/bugs.INI", "VIGTAB", "LAST_POLL_TIME"),
            "");

  Sql("UPDATE proj.bugs SET Status = 'Closed' WHERE FormID = 2");
  log = Tick();
  EXPECT_NE(log.find("Updating records ( Rule ID : 1)\r\n"
                     "    Query   : UPDATE proj.bugs SET Resolution = 'Done' WHERE FormID = 2\r\n"
                     "    SQL     : SELECT DISTINCT proj.bugs.FormID FROM proj.bugs WHERE "
                     "proj.bugs.FormID NOT IN (SELECT DISTINCT FormID FROM proj.bugsVGLSVGLS WHERE "
                     "RuleID =1) AND ((Status = 'Closed'))\r\n"
                     "    Records : 2\r\n\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(Sql("SELECT FormID, Resolution FROM proj.bugs ORDER BY FormID"),
            "1|\n2|Done\n3|\n");
  EXPECT_EQ(Sql("SELECT FormID, RuleID FROM proj.bugsvglsvgls"), "2|1\n");

  Sql("UPDATE proj.bugs SET Resolution = '' WHERE FormID = 2");
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_EQ(Sql("SELECT Resolution FROM proj.bugs WHERE FormID = 2"), "\n");

  Sql("UPDATE proj.bugs SET Status = 'Open' WHERE FormID = 2");
  Tick();
  EXPECT_EQ(Sql("SELECT count(*) FROM proj.bugsvglsvgls"), "0\n");
  Sql("UPDATE proj.bugs SET Status = 'Closed' WHERE FormID = 2");
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 1) << log;
  EXPECT_EQ(Sql("SELECT Resolution FROM proj.bugs WHERE FormID = 2"), "Done\n");
}

TEST_F(ServerUpdateRulesTest, NewRecordsAndChangeHistoryOnTheServer) {
  Install(
      {RuleBuilder(4).OnServer().Update("Priority=1;Resolution=won't fix"),
       RuleBuilder(5).OnServer().Update("Resolution=Changed").When("(Status is (Open->Closed))")});
  Tick();
  Sql("INSERT INTO proj.bugs VALUES (4,'Closed',3,''),(5,'Closed',3,''),(6,'Closed',3,'')");
  std::string log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 1) << log;
  EXPECT_NE(log.find("    Query   : UPDATE proj.bugs SET Priority = 1,Resolution = 'won''t fix' "
                     "WHERE FormID = 6\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("    Records : 4,5,6\r\n\r\n"), std::string::npos) << log;
  EXPECT_EQ(Sql("SELECT FormID, Priority, Resolution FROM proj.bugs WHERE FormID > 3 ORDER BY 1"),
            "4|1|won't fix\n5|1|won't fix\n6|1|won't fix\n");
  EXPECT_EQ(Sql("SELECT count(*) FROM proj.bugsvglsvgls WHERE RuleID = 4"), "3\n");

  // Record 1 is closed by a user: its history row carries the change.
  Sql("UPDATE proj.bugs SET Status = 'Closed' WHERE FormID = 1; INSERT INTO proj.bugshist "
      "VALUES (1,'1700000000','ann','Status','Open','Closed')");
  log = Tick();
  EXPECT_NE(log.find("Updating records ( Rule ID : 5)\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("FROM proj.bugs,proj.bugshist WHERE proj.bugs.FormID =proj.bugshist.FormID "
                     "AND proj.bugs.FormID NOT IN"),
            std::string::npos)
      << log;
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_EQ(Sql("SELECT FormID, RuleID FROM proj.bugsvglsvgls ORDER BY 2, 1"),
            "1|4\n4|4\n5|4\n6|4\n1|5\n");
}

// The records of a rule go to the server in one transaction; when one of
// them is refused, nothing of it stays and the records run one by one: those
// before the refused one are updated and flagged as when each ran alone, the
// refused one is logged with its own statement, and nothing is flagged twice.
TEST_F(ServerUpdateRulesTest, RefusedRecordLeavesTheRecordsBeforeItUpdated) {
  Install({RuleBuilder(7).OnServer().Update("Resolution=Done")});
  Tick();
  Sql("ALTER TABLE proj.bugs ADD CONSTRAINT not5 CHECK (FormID <> 5 OR Resolution = ''); "
      "INSERT INTO proj.bugs VALUES (4,'Closed',3,''),(5,'Closed',3,''),(6,'Closed',3,'')");
  const size_t before = install_->ReadRunLog().size();
  EXPECT_EQ(RunServiceOnce(install_->program_dir()), 2);  // a tick with errors
  std::string log = install_->ReadRunLog().substr(before);
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 1) << log;
  EXPECT_NE(log.find("UPDATE proj.bugs SET Resolution = 'Done' WHERE FormID = 5"),
            std::string::npos)
      << log;
  EXPECT_EQ(Sql("SELECT FormID, Resolution FROM proj.bugs WHERE FormID > 3 ORDER BY 1"),
            "4|Done\n5|\n6|\n");
  EXPECT_EQ(Sql("SELECT count(*) FROM proj.bugsvglsvgls"), "0\n");

  Sql("ALTER TABLE proj.bugs DROP CONSTRAINT not5");
  log = Tick();
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_NE(log.find("    Records : 4,5,6\r\n"), std::string::npos) << log;
  EXPECT_EQ(Sql("SELECT FormID, RuleID FROM proj.bugsvglsvgls ORDER BY 1"), "4|7\n5|7\n6|7\n");
}

// A server that reads backslashes in literals as escapes (PostgreSQL with
// standard_conforming_strings off) still gets each value whole: the record
// is matched and the written value reads back byte for byte.
TEST_F(ServerUpdateRulesTest, BackslashesBeforeQuotesStayInsideTheirLiterals) {
  Install({RuleBuilder(6).OnServer().Update("Resolution=a\\'b\\\\c' --").When("(Status is (x\\'y))")});
  Tick();
  Sql("SET standard_conforming_strings = on; "
      "INSERT INTO proj.bugs VALUES (7,'x\\''y',3,''),(8,'x',3,'')");
  Sql("ALTER DATABASE " + server_->options().database + " SET standard_conforming_strings = off");
  const std::string log = Tick();
  Sql("ALTER DATABASE " + server_->options().database + " RESET standard_conforming_strings");
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_EQ(Sql("SELECT FormID, Resolution FROM proj.bugs WHERE Resolution <> ''"),
            "7|a\\'b\\\\c' --\n");
}

}  // namespace
}  // namespace vigilo::e2e
