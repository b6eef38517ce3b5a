#include "notify/internal_mail.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/clock.h"
#include "data/log_stream.h"
#include "notify/mail_sender.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::TestInstallation;

TEST(InternalMailStatementTest, StatementsAreWrittenAsTheProductReadsThem) {
  EXPECT_EQ(InternalMailLookup(42, "ann", "BUGS.DBF"),
            "SELECT BUGNUM FROM ORVKPOST WHERE BUGNUM =42 AND TO ='ann' AND [DBNAME] ='BUGS.DBF'");
  EXPECT_EQ(InternalMailInsert("ann", "12/08/2026", 1, 42, "BUGS.DBF", ""),
            "INSERT INTO ORVKPOST ([FROM], [TO], [DATE], ISNEW, STATUS, BUGNUM, [DBNAME], MESSAGE) "
            "VALUES ('VIGILO', 'ann', '12/08/2026',1,'*',42,'BUGS.DBF','')");
  EXPECT_EQ(InternalMailUpdate("ann", "12/08/2026", 1, 42, "BUGS.DBF", ""),
            "UPDATE ORVKPOST SET [FROM] ='VIGILO', [DATE] ='12/08/2026', ISNEW =1, STATUS ='*', "
            "[DBNAME] ='BUGS.DBF', MESSAGE ='' WHERE BUGNUM =42 AND TO ='ann' AND [DBNAME] ='BUGS.DBF'");
  EXPECT_EQ(InternalMailConnection("/srv/orvik"),
            "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=/srv/orvik;DriverId=277;DSN=;");
}

TEST(InternalMailStatementTest, ApostrophesAreDoubled) {
  EXPECT_EQ(InternalMailLookup(7, "o'brien", "Bob's.DBF"),
            "SELECT BUGNUM FROM ORVKPOST WHERE BUGNUM =7 AND TO ='o''brien' AND [DBNAME] ='Bob''s.DBF'");
  EXPECT_THAT(InternalMailInsert("o'brien", "d", 1, 7, "Bob's.DBF", "it's"),
              HasSubstr("VALUES ('VIGILO', 'o''brien', 'd',1,'*',7,'Bob''s.DBF','it''s')"));
}

struct MailRow {
  std::string from, to, date, status, dbname;
  long isnew, bugnum;
};

class InternalMailTest : public ::testing::Test {
 protected:
  InternalMailTest() : log_([this] { return install_.server_dir() + "/vglog.ini"; }) {}

  void CreateTable() {
    testing::WriteDbf(install_.orvkpost_table(), {{"FROM", 'C', 10},
                                                  {"TO", 'C', 40},
                                                  {"DATE", 'C', 10},
                                                  {"ISNEW", 'N', 1},
                                                  {"STATUS", 'C', 1},
                                                  {"BUGNUM", 'N', 10},
                                                  {"DBNAME", 'C', 40},
                                                  {"MESSAGE", 'C', 80},
                                                  {"OTHER", 'C', 5}});
  }

  std::vector<MailRow> Rows() {
    auto table = DbfTable::Open(install_.server_dir() + "/ORVKPOST.dbf", false);
    std::vector<MailRow> rows;
    for (bool more = table->GoFirst(); more; more = table->Skip()) {
      rows.push_back({table->Text(0), table->Text(1), table->Text(2), table->Text(4),
                      table->Text(6), table->FieldLong(3), table->FieldLong(5)});
    }
    return rows;
  }

  CMailSender& Sender() {
    CMailSender::Options options;
    options.log = &log_;
    sender_ = std::make_unique<CMailSender>(std::move(options));
    return *sender_;
  }

  // The message for the internal mail transport alone.
  OutgoingMail Mail(const std::vector<std::string>* records) {
    OutgoingMail mail;
    mail.database_name = "BUGS.DBF";
    mail.record_list = records;
    return mail;
  }

  TestInstallation install_;
  LogStream log_;
  std::unique_ptr<CMailSender> sender_;
  std::vector<std::string> records_{"42"};
  InternalMailTransport transport_{[this] { return install_.server_dir(); }, false, &log_};
};

TEST_F(InternalMailTest, InternalAddressWritesOneRowForRecordAndRecipient) {
  CreateTable();
  ScopedFixedNow now(1765200000);  // one date for the row and the expectation
  Sender().Dispatch("body", "ORVIK:ann,ORVIK:bob", "subject", &records_, "BUGS.DBF");
  std::vector<MailRow> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].from, "VIGILO");
  EXPECT_EQ(rows[0].to, "ann");
  EXPECT_EQ(rows[0].date, InternalMailDate());
  EXPECT_EQ(rows[0].isnew, 1);
  EXPECT_EQ(rows[0].status, "*");
  EXPECT_EQ(rows[0].bugnum, 42);
  EXPECT_EQ(rows[0].dbname, "BUGS.DBF");
  EXPECT_EQ(rows[1].to, "bob");
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(InternalMailTest, SecondNotificationUpdatesTheRowInPlace) {
  CreateTable();
  CMailSender& sender = Sender();
  sender.Dispatch("b", "ORVIK:ann", "s", &records_, "BUGS.DBF");
  {
    // The product marks the item read.
    auto table = DbfTable::Open(install_.server_dir() + "/ORVKPOST.dbf", true);
    ASSERT_TRUE(table->GoFirst());
    table->AssignLong(3, 0);
    table->AssignText(4, " ");
    table->AssignText(8, "keep");
    table->Update();
    table->Close();
  }
  sender.Dispatch("b", "ORVIK:ann", "s", &records_, "BUGS.DBF");
  std::vector<MailRow> rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].isnew, 1);
  EXPECT_EQ(rows[0].status, "*");
  EXPECT_EQ(rows[0].dbname, "BUGS.DBF");
  auto table = DbfTable::Open(install_.server_dir() + "/ORVKPOST.dbf", false);
  ASSERT_TRUE(table->GoFirst());
  EXPECT_EQ(table->Text(8), "keep");
}

TEST_F(InternalMailTest, SameRecordNumberOfTwoTablesGivesTwoRows) {
  CreateTable();
  CMailSender& sender = Sender();
  sender.Dispatch("b", "ORVIK:ann", "s", &records_, "Bugs.DBF");
  sender.Dispatch("b", "ORVIK:ann", "s", &records_, "Tasks.DBF");
  sender.Dispatch("b", "ORVIK:ann", "s", &records_, "Bugs.DBF");
  std::vector<MailRow> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].dbname, "Bugs.DBF");
  EXPECT_EQ(rows[1].dbname, "Tasks.DBF");
  EXPECT_EQ(rows[0].bugnum, 42);
  EXPECT_EQ(rows[1].bugnum, 42);
}

TEST_F(InternalMailTest, ApostropheInRecipientOrDatabaseNameIsWrittenAsItIs) {
  CreateTable();
  CMailSender& sender = Sender();
  sender.Dispatch("b", "ORVIK:o'brien", "s", &records_, "Bob's.DBF");
  sender.Dispatch("b", "ORVIK:o'brien", "s", &records_, "Bob's.DBF");
  std::vector<MailRow> rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].to, "o'brien");
  EXPECT_EQ(rows[0].dbname, "Bob's.DBF");
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(InternalMailTest, MissingTableLeavesOneRunLogLinePerRow) {
  std::vector<std::string> records{"42", "43"};
  DeliveryReport report;
  transport_.Send(Mail(&records), {"ORVIK:ann"}, report);
  // Without a record nothing is written and nothing is said.
  transport_.Send(Mail(nullptr), {"ORVIK:ann"}, report);
  ASSERT_EQ(report.results().size(), 2u);
  EXPECT_EQ(report.results()[0].outcome, RecipientOutcome::kRetry);
  EXPECT_EQ(report.results()[1].outcome, RecipientOutcome::kUnserved);
  std::string text = log_.Text();
  EXPECT_THAT(text, StartsWith("Mail delivery failed (ORVIK) : "));
  EXPECT_THAT(text, HasSubstr("(to ann, record 42) \r\n"));
  EXPECT_THAT(text, HasSubstr("(to ann, record 43) \r\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST_F(InternalMailTest, DateColumnOfTypeDateTakesTheDate) {
  testing::WriteDbf(install_.orvkpost_table(), {{"FROM", 'C', 10},
                                                {"TO", 'C', 40},
                                                {"DATE", 'D', 8},
                                                {"ISNEW", 'N', 1},
                                                {"STATUS", 'C', 1},
                                                {"BUGNUM", 'N', 10},
                                                {"DBNAME", 'C', 40},
                                                {"MESSAGE", 'C', 80}});
  ScopedFixedNow now(1765200000);
  EXPECT_TRUE(transport_.WriteRow("ann", 42, 1, "BUGS.DBF", ""));
  EXPECT_EQ(log_.Text(), "");
  auto written = DbfTable::Open(install_.server_dir() + "/ORVKPOST.dbf", false);
  ASSERT_TRUE(written->GoFirst());
  std::string date = InternalMailDate();  // MM/DD/CCYY
  EXPECT_EQ(written->Text(2), date.substr(6, 4) + date.substr(0, 2) + date.substr(3, 2));
}

TEST_F(InternalMailTest, AddressWithoutColonIsItsOwnRecipient) {
  CreateTable();
  DeliveryReport report;
  transport_.Send(Mail(&records_), {"ann"}, report);
  ASSERT_EQ(report.results().size(), 1u);
  EXPECT_EQ(report.results()[0].outcome, RecipientOutcome::kDelivered);
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(Rows()[0].to, "ann");
}

}  // namespace
}  // namespace vigilo
