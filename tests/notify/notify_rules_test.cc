#include "notify/notify_rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "data/log_stream.h"
#include "notify/mail_sender.h"
#include "tests/notify/fake_transports.h"
#include "platform/sql/database.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::TestInstallation;


using Columns = std::map<std::string, std::string>;

class MapRow : public NotifyRow {
 public:
  explicit MapRow(Columns columns) : columns_(std::move(columns)) {}
  std::optional<std::string> Text(std::string_view column) override {
    auto it = columns_.find(std::string(column));
    if (it == columns_.end()) return std::nullopt;
    return it->second;
  }

 private:
  Columns columns_;
};

// The table's records by FormID, the selection of each rule and the flags set.
class FakeTable : public NotifyTableAccess {
 public:
  std::string FindNewRecords(const CNotifyRule& rule) override { return selections[rule.rule_id]; }
  void InsertFlags(const std::string& list, int32_t rule_id) override {
    flags.push_back(std::to_string(rule_id) + ":" + list);
  }
  std::unique_ptr<NotifyRow> Retrieve(const std::string& statement) override {
    statements.push_back(statement);
    long id = std::stol(statement.substr(statement.rfind('=') + 1));
    if (id == failing_id) throw DbException("driver says no\n");
    auto it = records.find(id);
    if (it == records.end()) return nullptr;
    return std::make_unique<MapRow>(it->second);
  }

  std::map<int32_t, std::string> selections;
  std::map<long, Columns> records;
  std::vector<std::string> flags, statements;
  long failing_id = -1;
};

CFieldDef Field(const char* name, int type = 0) {
  CFieldDef field(1);
  field.name = name;
  field.type = type;
  return field;
}

class NotifyRulesTest : public ::testing::Test {
 protected:
  NotifyRulesTest() : log_([this] { return install_.server_dir() + "/vglog.ini"; }) {
    install_.WriteUsers({{"ann", "", 5, "ann@example.org", ""}, {"bob", "", 0, "bob", ""}});
    fields_ = {Field("Title"), Field("SubTitle"), Field("Owner", 9), Field("Count", 1)};
    info_.table_id = "0\\\\Proj\\Bugs";
    info_.table_from = "Bugs";
    info_.table_name = "Bugs";
    info_.db_type = 0;
    info_.fields = &fields_;
    info_.log = &log_;
    rules_.emplace();
  }

  CNotifyRule& AddRule(int32_t id, const std::string& target, const std::string& columns) {
    auto rule = std::make_unique<CNotifyRule>();
    rule->rule_id = id;
    rule->target = target;
    rule->report_columns = columns;
    rule->selection = "SELECT DISTINCT Bugs.FormID FROM Bugs WHERE ...";
    rules_->push_back(std::move(rule));
    return *rules_->back();
  }

  int Run() {
    info_.mail_sender = &sender();
    return RunNotifyRules(rules_, info_, table_);
  }

  // A real mail sender (outbox, flags) whose one transport keeps each message.
  CMailSender& sender() {
    if (!sender_) {
      sender_ = std::make_unique<CMailSender>(CMailSender::Options{},
                                              testing::RecordingTransports(sent_));
    }
    return *sender_;
  }
  const std::vector<testing::RecordingTransport::Sent>& sent() { return sent_->sent; }

  TestInstallation install_;
  LogStream log_;
  std::vector<CFieldDef> fields_;
  NotifyTableInfo info_;
  NotifyRuleList rules_;
  FakeTable table_;
  std::shared_ptr<testing::RecordingTransport::State> sent_ =
      std::make_shared<testing::RecordingTransport::State>();
  std::unique_ptr<CMailSender> sender_;
};

TEST_F(NotifyRulesTest, OneMessagePerRecordAndZeroIdsAreSkipped) {
  CNotifyRule& rule = AddRule(7, "User", "FormID, ATrail,Title,Count");
  rule.addresses = std::vector<std::string>{"SMTP:a@x.org", "ORVIK:bob"};
  table_.selections[7] = "12,0,15";
  table_.records[12] = {{"FormID", "12"}, {"ATrail", "Opened"}, {"Title", "Crash  "}, {"Count", "3"}};
  table_.records[15] = {{"FormID", "15"}, {"ATrail", "Opened"}, {"Title", ""}, {"Count", "0"}};
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(sent().size(), 2u);
  const std::string header =
      "Opened\r\n\r\nDetailed Description of the record\r\n\r\nTable : 0\\\\Proj\\Bugs \r\nRuleID : 7\r\n\r\n";
  EXPECT_EQ(sent()[0].body, header + "Title : Crash\r\nCount : 3\r\n");
  EXPECT_EQ(sent()[1].body, header + "Count : 0\r\n");
  EXPECT_EQ(sent()[0].subject, "VIGILO Rule# 7 , Record# 12 of 0\\\\Proj\\Bugs");
  EXPECT_EQ(sent()[1].subject, "VIGILO Rule# 7 , Record# 15 of 0\\\\Proj\\Bugs");
  EXPECT_EQ(sent()[0].recipients, "ORVIK:bob,SMTP:a@x.org");
  EXPECT_EQ(sent()[1].record, 15);
  EXPECT_EQ(sent()[0].database_name, "Bugs.DBF");
  EXPECT_EQ(table_.statements.size(), 2u);
  // Each record is flagged as its message is handed over.
  EXPECT_THAT(table_.flags, ElementsAre("7:12", "7:15"));
  EXPECT_EQ(log_.Text(),
            "Sending notification( Rule ID : 7 )\r\n"
            "    Query      : SELECT FormID, ATrail,Title,Count FROM Bugs WHERE FormID =15\r\n"
            "    SQL        : SELECT DISTINCT Bugs.FormID FROM Bugs WHERE ...\r\n"
            "    Records        :12,0,15\r\n    Notified Users :SMTP:a@x.org,ORVIK:bob\r\n\r\n");
}

TEST_F(NotifyRulesTest, SubstringTestShowsTitleForAColumnListWithSubTitle) {
  CNotifyRule& rule = AddRule(3, "Address", "FormID, ATrail,SubTitle");
  rule.addresses = std::vector<std::string>{"SMTP:a@x.org"};
  table_.selections[3] = "1,2";
  table_.records[1] = {{"FormID", "1"}, {"ATrail", ""}, {"SubTitle", "sub"}, {"Title", "whole"}};
  // A result without a Title column shows no Title line and is no error.
  table_.records[2] = {{"FormID", "2"}, {"ATrail", ""}, {"SubTitle", "sub"}};
  Run();
  ASSERT_EQ(sent().size(), 2u);
  EXPECT_THAT(sent()[0].body, HasSubstr("\r\n\r\nTitle : whole\r\nSubTitle : sub\r\n"));
  EXPECT_THAT(sent()[1].body, HasSubstr("\r\n\r\nSubTitle : sub\r\n"));
  EXPECT_THAT(sent()[1].body, ::testing::Not(HasSubstr("Title : whole")));
}

TEST_F(NotifyRulesTest, FieldRuleResolvesRecipientsPerRecordAndNextRuleUsesItsOwnList) {
  CNotifyRule& field_rule = AddRule(1, "Field", "FormID, ATrail,Owner,Title");
  field_rule.field_names = std::vector<std::string>{"Owner", " Title"};
  field_rule.addresses = std::vector<std::string>{"SMTP:stale@x.org"};
  CNotifyRule& user_rule = AddRule(2, "User", "FormID, ATrail,Title");
  user_rule.addresses = std::vector<std::string>{"SMTP:list@x.org"};
  table_.selections[1] = "5,6";
  table_.selections[2] = "5";
  table_.records[5] = {{"FormID", "5"}, {"ATrail", ""}, {"Owner", "ann"}, {"Title", "bob"}};
  table_.records[6] = {{"FormID", "6"}, {"ATrail", ""}, {"Owner", "bob"}, {"Title", "ann"}};
  Run();
  ASSERT_EQ(sent().size(), 3u);
  EXPECT_EQ(sent()[0].recipients, "SMTP:ann@example.org");
  EXPECT_EQ(sent()[1].recipients, "ORVIK:bob");
  EXPECT_EQ(sent()[2].recipients, "SMTP:list@x.org");
  EXPECT_THAT(*field_rule.addresses, IsEmpty());
  // The log shows the recipients of the rule's last record.
  EXPECT_THAT(log_.Text(), HasSubstr("    Records        :5,6\r\n    Notified Users :ORVIK:bob,\r\n"));
}

TEST_F(NotifyRulesTest, RecordWithoutRecipientsIsFlaggedButNotSent) {
  AddRule(4, "User", "FormID, ATrail,Title");
  table_.selections[4] = "9";
  table_.records[9] = {{"FormID", "9"}, {"ATrail", ""}, {"Title", "x"}};
  Run();
  EXPECT_THAT(sent(), IsEmpty());
  EXPECT_THAT(table_.flags, ElementsAre("4:9"));
  EXPECT_THAT(log_.Text(), HasSubstr("    Records        :9\r\n    Notified Users :\r\n\r\n"));
}

TEST_F(NotifyRulesTest, NothingFoundLeavesNoFlagsAndNoLog) {
  AddRule(5, "User", "FormID, ATrail").addresses = std::vector<std::string>{"SMTP:a@x.org"};
  AddRule(6, "User", "").addresses = std::vector<std::string>{"SMTP:a@x.org"};
  table_.selections[5] = "404";
  table_.selections[6] = "1";
  table_.records[1] = {{"FormID", "1"}, {"ATrail", ""}};
  Run();
  EXPECT_THAT(sent(), IsEmpty());
  EXPECT_THAT(table_.flags, IsEmpty());
  EXPECT_THAT(table_.statements.size(), 1u);
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(NotifyRulesTest, BrokenRecordIsLoggedWithItsFormIdAndSkipped) {
  AddRule(8, "User", "FormID, ATrail").addresses = std::vector<std::string>{"SMTP:a@x.org"};
  AddRule(9, "User", "FormID, ATrail").addresses = std::vector<std::string>{"SMTP:b@x.org"};
  table_.selections[8] = "1,2,3,4,5";
  table_.selections[9] = "3";
  for (long id : {1, 3, 4, 5}) table_.records[id] = {{"FormID", std::to_string(id)}, {"ATrail", ""}};
  table_.failing_id = 2;
  Run();
  ASSERT_EQ(sent().size(), 5u);
  EXPECT_EQ(sent()[3].subject, "VIGILO Rule# 8 , Record# 5 of 0\\\\Proj\\Bugs");
  EXPECT_EQ(sent()[4].recipients, "SMTP:b@x.org");
  // The broken record is not flagged: it is tried (and logged) again next tick.
  EXPECT_THAT(table_.flags, ElementsAre("8:1", "8:3", "8:4", "8:5", "9:3"));
  std::string log = log_.Text();
  EXPECT_THAT(log, HasSubstr(
      "ODBC Reported Error (While Retrieving Record For Notification, Rule ID : 8 , Record# 2\r\n"
      "    SQL        : SELECT DISTINCT Bugs.FormID FROM Bugs WHERE ...\r\n\r\n) : driver says no \r\n"
      "    Query   : SELECT FormID, ATrail FROM Bugs WHERE FormID =2\r\n\r\n"));
  EXPECT_THAT(log, HasSubstr("    Records        :1,2,3,4,5\r\n"));
}

TEST_F(NotifyRulesTest, TableWithoutNotificationRules) {
  rules_.reset();
  EXPECT_EQ(Run(), 0);
}

TEST(SplitFormIdsTest, LeadingCommaEndsTheWalk) {
  EXPECT_THAT(SplitFormIds("12,0,15"), ElementsAre(12, 15));
  EXPECT_THAT(SplitFormIds(",12"), ElementsAre());
  EXPECT_THAT(SplitFormIds("-3,4"), ElementsAre(4));
}

}  // namespace
}  // namespace vigilo
