// Record numbers of 2^31 and more, end to end, on dBase files and on a real
// PostgreSQL: each record is updated, mailed, posted and flagged as itself,
// never as its number cut to 32 bits (9999999999 would become 1410065407, a
// record of its own here). A flag table whose FormID field is too small for
// a record number leaves that record alone with one run-log line.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/server_project.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;
using demo::Installation;
using demo::RecordDescription;
using demo::RuleDescription;
using testing::RuleBuilder;

constexpr long kBig = 3000000000L;
constexpr long kHuge = 9999999999L;
constexpr long kWrapped = 1410065407L;  // kHuge modulo 2^32

std::vector<std::string> Subjects(const std::vector<test::ReceivedMail>& mail) {
  std::vector<std::string> subjects;
  for (const auto& message : mail) subjects.push_back(message.subject);
  std::sort(subjects.begin(), subjects.end());
  return subjects;
}

std::vector<std::string> PostedRecords(const Installation& install) {
  std::vector<std::string> numbers;
  for (const auto& row : demo::ReadRows(install.orvkpost_table())) {
    numbers.push_back(row.at("BUGNUM"));
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

std::string Tick(const Installation& install) {
  // Runs append to one run log: the tick's own entries follow the earlier runs.
  const size_t before = install.ReadRunLog().size();
  EXPECT_EQ(RunServiceOnce(install.program_dir(), {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN,
                                                   "VIGILO_SMTP_CONNECT_TIMEOUT=2"}),
            0)
      << testing::ReadText(install.program_dir() + "/vgservice.stderr");
  return install.ReadRunLog().substr(before);
}

TEST(LargeRecordNumbersTest, DbaseRecordsPastTwoToThe31AreActedOnAsThemselves) {
  test::SmtpSink sink;
  demo::TableDescription bugs;
  bugs.name = "Bugs";
  bugs.fields = {
      FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
      FieldDescription{"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
  };
  for (long id : {3L, kWrapped, kBig, kHuge}) {
    bugs.records.push_back(RecordDescription{id, "", {{"Status", "Open"}}, "", ""});
  }
  testing::InstallationBuilder builder;
  demo::InstallationDescription& description = builder.description();
  description.projects = {demo::ProjectDescription{"Proj", "", {bugs}}};
  description.users = {{"ann", "", 0, "ann", "Ann A."}, {"bob", "", 5, "bob@example.org", "B."}};
  description.rules = {RuleBuilder(1).Update("Resolution=Done"),
                       RuleBuilder(2).Notify("User", "ann,bob")};
  description.mail.smtp_server = sink.host_port();
  const testing::TestInstallation install(std::move(builder));
  for (long id : {kBig, kHuge}) install.SetField("Proj", "Bugs", id, "Status", "Closed");

  const std::string log = Tick(install);
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_NE(log.find("    Records : 3000000000,9999999999\r\n"), std::string::npos) << log;
  const std::string data = DbaseConnection(install.TableDir("Proj", "Bugs"));
  EXPECT_EQ(QueryRows(data, "SELECT FormID, Resolution FROM Bugs ORDER BY FormID"),
            (std::vector<std::vector<std::string>>{
                {"3", ""}, {"1410065407", ""}, {"3000000000", "Done"}, {"9999999999", "Done"}}));
  EXPECT_EQ(Subjects(sink.WaitForMessages(2)),
            (std::vector<std::string>{"VIGILO Rule# 2 , Record# 3000000000 of 0\\ORVIK\\Proj\\Bugs",
                                      "VIGILO Rule# 2 , Record# 9999999999 of 0\\ORVIK\\Proj\\Bugs"}));
  EXPECT_EQ(PostedRecords(install), (std::vector<std::string>{"3000000000", "9999999999"}));
  EXPECT_EQ(QueryRows(data, "SELECT FormID, RuleID FROM BugsVGLS ORDER BY RuleID, FormID"),
            (std::vector<std::vector<std::string>>{{"3000000000", "1"},
                                                   {"9999999999", "1"},
                                                   {"3000000000", "2"},
                                                   {"9999999999", "2"}}));

  // Flagged as themselves: the next tick leaves them alone.
  EXPECT_EQ(CountOf(Tick(install), "    Records : "), 0);
}

class ServerRecordNumbersTest : public ServerProjectTest {
 protected:
  void SetUp() override {
    CreateProject("FormID bigint, ATrail text, Status varchar(10), Resolution varchar(20)",
                  Format("INSERT INTO proj.bugs VALUES (3,'','Open',''),(%ld,'','Open',''),"
                         "(%ld,'','Closed',''),(%ld,'','Closed','');",
                         kWrapped, kBig, kHuge));
  }

  void Install(const std::string& smtp_server) {
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.users = {{"ann", "", 0, "ann", "Ann A."},
                         {"bob", "", 5, "bob@example.org", "B."}};
    description.rules = {RuleBuilder(1).OnServer().Update("Resolution=Done"),
                         RuleBuilder(2).OnServer().Notify("User", "ann,bob")};
    description.mail.smtp_server = smtp_server;
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
    WriteServerTable(*install_, {
        {"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        {"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
    });
  }

  std::unique_ptr<testing::TestInstallation> install_;
};

TEST_F(ServerRecordNumbersTest, RecordsPastTwoToThe31AreActedOnAsThemselves) {
  test::SmtpSink sink;
  Install(sink.host_port());
  const std::string log = Tick(*install_);
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_EQ(Sql("SELECT FormID, Resolution FROM proj.bugs ORDER BY FormID"),
            "3|\n1410065407|\n3000000000|Done\n9999999999|Done\n");
  EXPECT_EQ(Subjects(sink.WaitForMessages(2)),
            (std::vector<std::string>{"VIGILO Rule# 2 , Record# 3000000000 of 2\\VGPG\\proj\\bugs",
                                      "VIGILO Rule# 2 , Record# 9999999999 of 2\\VGPG\\proj\\bugs"}));
  EXPECT_EQ(PostedRecords(*install_), (std::vector<std::string>{"3000000000", "9999999999"}));
  EXPECT_EQ(Sql("SELECT FormID, RuleID FROM proj.bugsvglsvgls ORDER BY 2, 1"),
            "3000000000|1\n9999999999|1\n3000000000|2\n9999999999|2\n");
  EXPECT_EQ(CountOf(Tick(*install_), "    Records : "), 0);
}

TEST_F(ServerRecordNumbersTest, FlagTableTooSmallForARecordNumberLeavesThatRecordAlone) {
  // A flag table made when FormIDs were 32-bit.
  Sql("CREATE TABLE proj.bugsvglsvgls (FormID int, RuleID int, PRIMARY KEY (FormID, RuleID)); "
      "GRANT ALL ON proj.bugsvglsvgls TO vigilo; "
      "UPDATE proj.bugs SET Status = 'Closed' WHERE FormID = 3");
  test::SmtpSink sink;
  Install(sink.host_port());
  std::string log = Tick(*install_);
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  for (long rule : {1L, 2L}) {
    for (long id : {kBig, kHuge}) {
      EXPECT_EQ(CountOf(log, Format("Record %ld of table 2\\VGPG\\proj\\bugs does not fit the "
                                    "FormID field of its flag table (at most 2147483647); Rule "
                                    "ID : %ld leaves it alone\r\n",
                                    id, rule)),
                1)
          << log;
    }
  }
  EXPECT_EQ(Sql("SELECT FormID, Resolution FROM proj.bugs ORDER BY FormID"),
            "3|Done\n1410065407|\n3000000000|\n9999999999|\n");
  EXPECT_EQ(Subjects(sink.WaitForMessages(1)),
            std::vector<std::string>{"VIGILO Rule# 2 , Record# 3 of 2\\VGPG\\proj\\bugs"});
  EXPECT_EQ(Sql("SELECT FormID, RuleID FROM proj.bugsvglsvgls ORDER BY 2, 1"), "3|1\n3|2\n");

  // A running daemon says it once; each start says it again, and the
  // records stay untouched.
  log = Tick(*install_);
  EXPECT_EQ(CountOf(log, "does not fit"), 4) << log;
  EXPECT_EQ(CountOf(log, "    Records : "), 0) << log;
  EXPECT_EQ(Sql("SELECT count(*) FROM proj.bugs WHERE Resolution = 'Done'"), "1\n");
}

}  // namespace
}  // namespace vigilo::e2e
