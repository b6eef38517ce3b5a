// Notify rules end to end on a client-server project of kind 2 (owner.table
// names), served by a real PostgreSQL through psqlODBC, with delivery by SMTP
// to a real server on 127.0.0.1 and internal mail rows in the server
// directory's ORVKPOST table.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/server_project.h"
#include "tests/support/postgres_server.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;
using demo::RuleDescription;
using testing::RuleBuilder;

constexpr char kBlockStart[] = "Sending notification( Rule ID : ";

class ServerNotifyRulesTest : public ServerProjectTest {
 protected:
  void SetUp() override {
    CreateProject("FormID int, ATrail text, Status varchar(10), Owner varchar(20), Priority int",
                  "INSERT INTO proj.bugs VALUES (1,'Filed by ann','Open','bob',3),"
        "(2,'Filed by bob','Open','ann',2),(3,'','Open','bob',1);");
  }

  void Install(std::vector<RuleDescription> rules, const std::string& smtp_server) {
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.rules = std::move(rules);
    description.users = {{"ann", "", 0, "ann", "Ann A."}, {"bob", "", 5, "bob@example.org", "Bob B."}};
    description.mail.smtp_server = smtp_server;
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
    WriteServerTable(*install_, {
        {"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        {"Owner", demo::kFieldUser, 20, {}, demo::kFlagDefault, true, ""},
        {"Priority", demo::kFieldNumber, 0, {}, demo::kFlagDefault, false, ""},
    });
  }

  std::string Tick() {
    // Runs append to one run log: the tick's own entries follow the earlier runs.
    const size_t before = install_->ReadRunLog().size();
    EXPECT_EQ(RunServiceOnce(install_->program_dir(),
                             {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN,
                              "VIGILO_SMTP_CONNECT_TIMEOUT=2"}),
              0)
        << testing::ReadText(install_->program_dir() + "/vgservice.stderr");
    return install_->ReadRunLog().substr(before);
  }

  std::unique_ptr<testing::TestInstallation> install_;
};

TEST_F(ServerNotifyRulesTest, ClosedRecordIsMailedAndPostedOnceWithItsServerValues) {
  test::SmtpSink sink;
  Install({RuleBuilder(1).OnServer().Notify("User", "ann,bob"),
           RuleBuilder(2).OnServer().Notify("Field", "Owner")},
          sink.host_port());
  std::string log = Tick();
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;

  Sql("UPDATE proj.bugs SET Status = 'Closed' WHERE FormID IN (1, 2)");
  log = Tick();
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_EQ(CountOf(log, kBlockStart), 2) << log;
  EXPECT_NE(log.find("( Rule ID : 1 )\r\n"
                     "    Query      : SELECT FormID, ATrail,Status,Owner,Priority FROM proj.bugs "
                     "WHERE FormID =2\r\n"),
            std::string::npos)
      << log;

  // Rule 1 mails bob for both records; rule 2 mails the owner of record 1.
  const std::vector<test::ReceivedMail> mail = sink.WaitForMessages(3);
  ASSERT_EQ(mail.size(), 3u);
  EXPECT_EQ(mail[0].subject, "VIGILO Rule# 1 , Record# 1 of 2\\VGPG\\proj\\bugs");
  EXPECT_EQ(mail[0].recipients, std::vector<std::string>{"bob@example.org"});
  EXPECT_EQ(mail[0].RawBody(),
            "Filed by ann\r\n\r\n"
            "Detailed Description of the record\r\n\r\n"
            "Table : 2\\VGPG\\proj\\bugs \r\n"
            "RuleID : 1\r\n\r\n"
            "Status : Closed\r\n"
            "Owner : bob\r\n"
            "Priority : 3\r\n");
  EXPECT_EQ(mail[1].subject, "VIGILO Rule# 1 , Record# 2 of 2\\VGPG\\proj\\bugs");
  EXPECT_EQ(mail[2].subject, "VIGILO Rule# 2 , Record# 1 of 2\\VGPG\\proj\\bugs");

  // ann is internal: one row per record, under the table name alone.
  const auto rows = demo::ReadRows(install_->orvkpost_table());
  ASSERT_EQ(rows.size(), 2u);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].at("BUGNUM"), std::to_string(i + 1));
    EXPECT_EQ(rows[i].at("TO"), "ann");
    EXPECT_EQ(rows[i].at("DBNAME"), "bugs");
  }
  EXPECT_EQ(Sql("SELECT FormID, RuleID FROM proj.bugsvglsvgls ORDER BY 2, 1"),
            "1|1\n2|1\n1|2\n2|2\n");

  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_EQ(sink.WaitForMessages(4, std::chrono::milliseconds(500)).size(), 3u);
  EXPECT_EQ(demo::ReadRows(install_->orvkpost_table()).size(), 2u);
}

// A batch's flags go to the server as one transaction: a record the flag table refuses is
// logged and its message waits until its flag is taken; the others are flagged and mailed.
TEST_F(ServerNotifyRulesTest, RefusedFlagLeavesTheOtherRecordsMailedAndFlagged) {
  test::SmtpSink sink;
  Install({RuleBuilder(3).OnServer().Notify("User", "bob")}, sink.host_port());
  Tick();
  Sql("ALTER TABLE proj.bugsvglsvgls ADD CONSTRAINT not2 CHECK (FormID <> 2); "
      "UPDATE proj.bugs SET Status = 'Closed'");
  const size_t before = install_->ReadRunLog().size();
  EXPECT_EQ(RunServiceOnce(install_->program_dir(), {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN}),
            2);  // a tick with errors
  const std::string log = install_->ReadRunLog().substr(before);
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 1) << log;
  EXPECT_NE(log.find("(FormID,RuleID) VALUES(2,3)"), std::string::npos) << log;
  EXPECT_EQ(Sql("SELECT FormID FROM proj.bugsvglsvgls ORDER BY 1"), "1\n3\n");
  EXPECT_EQ(sink.WaitForMessages(2).size(), 2u);

  Sql("ALTER TABLE proj.bugsvglsvgls DROP CONSTRAINT not2");
  EXPECT_EQ(CountOf(Tick(), "ODBC Reported Error"), 0);
  const auto mail = sink.WaitForMessages(4, std::chrono::milliseconds(500));
  ASSERT_EQ(mail.size(), 3u);
  EXPECT_EQ(mail[2].subject, "VIGILO Rule# 3 , Record# 2 of 2\\VGPG\\proj\\bugs");
}

}  // namespace
}  // namespace vigilo::e2e
