// Notify rules end to end: the daemon runs one tick per start (vgservice
// --once) on a project of dBase files, resolves recipients through the user,
// group and membership tables, delivers by SMTP to a real server on 127.0.0.1
// and writes internal mail rows, while the tests change the data between ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;
using demo::RecordDescription;
using demo::RuleDescription;
using demo::TableDescription;
using testing::RuleBuilder;

constexpr char kBlockStart[] = "Sending notification( Rule ID : ";
constexpr char kFailedLine[] = "Mail delivery failed (SMTP) : ";

RecordDescription Bug(long id, std::string title, std::string owner, std::string atrail = "") {
  return RecordDescription{id,
                    std::move(atrail),
                    {{"Title", std::move(title)},
                     {"Status", "Open"},
                     {"Owner", std::move(owner)},
                     {"Priority", "3"}},
                    "",
                    ""};
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%m/%d/%Y", &local);
  return text;
}

class NotifyRulesTest : public ::testing::Test {
 protected:
  // Project Proj with table Bugs, records 1 to 3 open, users ann and dora
  // (internal mail), bob and carl (SMTP), group QA of carl and dora, and
  // SMTP settings naming smtp_server (host:port).
  void Install(std::vector<RuleDescription> rules, const std::string& smtp_server,
               demo::MailDescription mail = {}) {
    TableDescription bugs;
    bugs.name = "Bugs";
    bugs.fields = {
        FieldDescription{"Title", demo::kFieldText, 30, {}, demo::kFlagDefault, false, ""},
        FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Owner", demo::kFieldUser, 20, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Priority", demo::kFieldNumber, 0, {}, demo::kFlagDefault, false, ""},
        FieldDescription{"Fixed", demo::kFieldDate, 0, {}, demo::kFlagDefault, false, ""},
    };
    bugs.records = {Bug(1, "Crash on start", "bob", "Closed by jsmith\r\nafter review"),
                    Bug(2, "Wrong total", "ann"), Bug(3, "Slow report", "carl")};
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.projects = {demo::ProjectDescription{"Proj", "", {bugs}}};
    description.users = {{"ann", "", 0, "ann", "Ann A."},
                  {"bob", "", 5, "bob@example.org", "Bob B."},
                  {"carl", "", 5, "carl@example.org", "Carl C."},
                  {"dora", "", 0, "dora", "Dora D."},
                  {"erin", "", 1, "Erin E.", "Erin E."}};
    description.groups = {{"QA", {"carl", "dora"}, "Quality"}};
    description.rules = std::move(rules);
    description.mail = std::move(mail);
    description.mail.smtp_server = smtp_server;
    description.mail.smtp_sender = "vigilo@demo.example";
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
  }

  // One tick; returns the entries it added to the run log.
  // A tick that logs an error (a failed delivery) ends with status 2.
  std::string Tick(int expected_status = 0) {
    // Runs append to one run log: the tick's own entries follow the earlier runs.
    const size_t before = install_->ReadRunLog().size();
    EXPECT_EQ(RunServiceOnce(install_->program_dir(),
                             {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN,
                              "VIGILO_SMTP_CONNECT_TIMEOUT=2"}),
              expected_status)
        << testing::ReadText(install_->program_dir() + "/vgservice.stderr");
    return install_->ReadRunLog().substr(before);
  }

  std::string Data() const { return DbaseConnection(install_->TableDir("Proj", "Bugs")); }
  void Set(long form_id, const std::string& field, const std::string& value) {
    install_->SetField("Proj", "Bugs", form_id, field, value);
  }
  // The flag rows as "FormID/RuleID" in rule, then record order.
  std::vector<std::string> Flags() const {
    std::vector<std::string> flags;
    for (const auto& row :
         QueryRows(Data(), "SELECT FormID, RuleID FROM BugsVGLS ORDER BY RuleID, FormID")) {
      flags.push_back(row[0] + "/" + row[1]);
    }
    return flags;
  }
  // The internal mail rows as "BUGNUM/TO" in record, then recipient order.
  std::vector<std::string> InternalMail() const {
    std::vector<std::string> rows;
    for (const auto& row : demo::ReadRows(install_->orvkpost_table())) {
      rows.push_back(row.at("BUGNUM") + "/" + row.at("TO"));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::unique_ptr<testing::TestInstallation> install_;
};

// One message as Envelopes lists it.
std::string Sent(long rule, long record, const std::string& to) {
  return Format("VIGILO Rule# %ld , Record# %ld of 0\\ORVIK\\Proj\\Bugs -> %s", rule, record,
                to.c_str());
}

// Subject and recipients of each message, sorted.
std::vector<std::string> Envelopes(const std::vector<test::ReceivedMail>& mail) {
  std::vector<std::string> envelopes;
  for (const auto& message : mail) {
    std::string to;
    for (const auto& recipient : message.recipients) to += (to.empty() ? "" : ",") + recipient;
    envelopes.push_back(message.subject + " -> " + to);
  }
  std::sort(envelopes.begin(), envelopes.end());
  return envelopes;
}

TEST_F(NotifyRulesTest, UsersGroupsFieldsAndAddressesAreNotifiedOncePerRecord) {
  test::SmtpSink sink;
  Install({RuleBuilder(1).Notify("User", "ann,bob"), RuleBuilder(2).Notify("Group", "QA"),
           RuleBuilder(3).Notify("Field", "Owner"),
           RuleBuilder(4).Notify("Address", "ext@example.net")},
          sink.host_port());

  std::string log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_TRUE(Flags().empty());

  Set(1, "Status", "Closed");
  Set(1, "Fixed", "20261231");
  Set(2, "Status", "Closed");
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 4) << log;
  EXPECT_EQ(CountOf(log, "Mail delivery failed"), 0) << log;
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;

  // Rule 1: bob by SMTP for both records; rule 2: carl; rule 3: the owner of
  // record 1 (bob; record 2's owner ann is internal); rule 4: the address.
  const std::vector<test::ReceivedMail> mail = sink.WaitForMessages(7);
  EXPECT_EQ(Envelopes(mail),
            (std::vector<std::string>{Sent(1, 1, "bob@example.org"), Sent(1, 2, "bob@example.org"),
                                      Sent(2, 1, "carl@example.org"),
                                      Sent(2, 2, "carl@example.org"), Sent(3, 1, "bob@example.org"),
                                      Sent(4, 1, "ext@example.net"),
                                      Sent(4, 2, "ext@example.net")}));
  ASSERT_FALSE(mail.empty());
  // Messages go out in rule, then record order: the first is rule 1, record 1.
  EXPECT_EQ(mail[0].sender, "vigilo@demo.example");
  EXPECT_EQ(mail[0].subject, "VIGILO Rule# 1 , Record# 1 of 0\\ORVIK\\Proj\\Bugs");
  EXPECT_EQ(mail[0].RawBody(),
            "Closed by jsmith\r\nafter review\r\n\r\n"
            "Detailed Description of the record\r\n\r\n"
            "Table : 0\\ORVIK\\Proj\\Bugs \r\n"
            "RuleID : 1\r\n\r\n"
            "Title : Crash on start\r\n"
            "Status : Closed\r\n"
            "Owner : bob\r\n"
            "Priority : 3\r\n"
            "Fixed : 12/31/2026\r\n");
  // A record with an empty audit trail and no date: no line for the date.
  EXPECT_EQ(mail[1].subject, "VIGILO Rule# 1 , Record# 2 of 0\\ORVIK\\Proj\\Bugs");
  EXPECT_EQ(mail[1].RawBody(),
            "\r\n\r\nDetailed Description of the record\r\n\r\n"
            "Table : 0\\ORVIK\\Proj\\Bugs \r\n"
            "RuleID : 1\r\n\r\n"
            "Title : Wrong total\r\n"
            "Status : Closed\r\n"
            "Owner : ann\r\n"
            "Priority : 3\r\n");

  // Internal mail: ann by rule 1 (both records) and rule 3 (record 2, the
  // same row refreshed), dora by rule 2.
  EXPECT_EQ(InternalMail(), (std::vector<std::string>{"1/ann", "1/dora", "2/ann", "2/dora"}));
  for (const auto& row : demo::ReadRows(install_->orvkpost_table())) {
    EXPECT_EQ(row.at("FROM"), "VIGILO");
    EXPECT_EQ(row.at("DATE"), Today());
    EXPECT_EQ(row.at("ISNEW"), "1");
    EXPECT_EQ(row.at("STATUS"), "*");
    EXPECT_EQ(row.at("DBNAME"), "Bugs.DBF");
    EXPECT_EQ(row.at("MESSAGE"), "");
  }
  EXPECT_EQ(Flags(), (std::vector<std::string>{"1/1", "2/1", "1/2", "2/2", "1/3", "2/3", "1/4",
                                                "2/4"}));

  // The run log names the records and the recipients of each rule.
  EXPECT_NE(log.find("    Records        :1,2\r\n"
                     "    Notified Users :ORVIK:ann,SMTP:bob@example.org\r\n\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("    Notified Users :SMTP:carl@example.org,ORVIK:dora\r\n\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("    Notified Users :SMTP:ext@example.net\r\n\r\n"), std::string::npos)
      << log;

  // Nothing new: nothing is sent, no row is added.
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_EQ(sink.WaitForMessages(8, std::chrono::milliseconds(500)).size(), 7u);
  EXPECT_EQ(InternalMail(), (std::vector<std::string>{"1/ann", "1/dora", "2/ann", "2/dora"}));
  EXPECT_EQ(Flags().size(), 8u);
}

TEST_F(NotifyRulesTest, RecordIsNotifiedAgainAfterItStoppedMeetingTheCondition) {
  test::SmtpSink sink;
  Install({RuleBuilder(5).Notify("User", "bob,dora")}, sink.host_port());
  Set(3, "Status", "Closed");
  Tick();
  ASSERT_EQ(sink.WaitForMessages(1).size(), 1u);
  // Orvik marks the internal item read; the next notification makes it new.
  Execute(DbaseConnection(install_->server_dir()),
          "UPDATE ORVKPOST SET ISNEW = 0, STATUS = ' ' WHERE BUGNUM = 3");

  Set(3, "Status", "Open");
  std::string log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_TRUE(Flags().empty());

  Set(3, "Status", "Closed");
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 1) << log;
  const auto mail = sink.WaitForMessages(2);
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_EQ(mail[1].subject, "VIGILO Rule# 5 , Record# 3 of 0\\ORVIK\\Proj\\Bugs");
  EXPECT_EQ(mail[1].recipients, std::vector<std::string>{"bob@example.org"});
  const auto rows = demo::ReadRows(install_->orvkpost_table());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("TO"), "dora");
  EXPECT_EQ(rows[0].at("ISNEW"), "1");
  EXPECT_EQ(rows[0].at("STATUS"), "*");
  EXPECT_EQ(Flags(), std::vector<std::string>{"3/5"});
}

TEST_F(NotifyRulesTest, MailSystemNamesGoThroughTheProviderSessionOpenedAtStart) {
  test::SmtpSink sink;
  // erin's mail type names her in the provider's address book; the provider
  // logs on with the profile of "MAPI Mail" and delivers to the sink.
  demo::MailDescription mail;
  mail.mapi_profile = "demo";
  mail.mapi_password = "secret";
  mail.address_book = {{"Erin E.", "erin@example.org"}};
  mail.delivery_smtp_url = sink.url();
  Install({RuleBuilder(8).Notify("User", "erin,bob")}, sink.host_port(), mail);
  Set(1, "Status", "Closed");

  const std::string log = Tick();
  EXPECT_EQ(CountOf(log, "Mail delivery failed"), 0) << log;
  EXPECT_NE(log.find("    Notified Users :Erin E.,SMTP:bob@example.org\r\n"), std::string::npos)
      << log;
  std::vector<test::ReceivedMail> received = sink.WaitForMessages(2);
  ASSERT_EQ(received.size(), 2u);
  std::vector<std::string> to;
  for (const auto& message : received) {
    EXPECT_EQ(message.subject, "VIGILO Rule# 8 , Record# 1 of 0\\ORVIK\\Proj\\Bugs");
    to.push_back(message.recipients.at(0));
  }
  std::sort(to.begin(), to.end());
  EXPECT_EQ(to, (std::vector<std::string>{"bob@example.org", "erin@example.org"}));
}

TEST_F(NotifyRulesTest, StoppedSmtpServerLeavesOneLineAndLosesNothingElse) {
  Install({RuleBuilder(6).Notify("User", "ann,bob")}, Format("127.0.0.1:%d", test::UnusedPort()));
  Set(2, "Status", "Closed");

  const std::string log = Tick(2);
  EXPECT_EQ(CountOf(log, "Mail delivery failed"), 1) << log;
  const size_t line = log.find(kFailedLine);
  ASSERT_NE(line, std::string::npos) << log;
  const std::string failed = log.substr(line, log.find("\r\n", line) - line);
  EXPECT_NE(failed.find("bob@example.org"), std::string::npos) << failed;
  EXPECT_EQ(CountOf(log, kBlockStart), 1) << log;
  EXPECT_NE(log.find("    Records        :2\r\n"), std::string::npos) << log;
  EXPECT_EQ(InternalMail(), std::vector<std::string>{"2/ann"});
  EXPECT_EQ(Flags(), std::vector<std::string>{"2/6"});

  // Flagged and kept in the outbox: the record is not composed again, and
  // the message waits for its retry, which is not due yet.
  const std::string next = Tick();
  EXPECT_EQ(CountOf(next, "Mail delivery failed"), 0) << next;
  EXPECT_EQ(CountOf(next, kBlockStart), 0) << next;
}

}  // namespace
}  // namespace vigilo::e2e
