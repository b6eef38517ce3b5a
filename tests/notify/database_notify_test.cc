// The notify action on a real dBase table through the embedded dBase engine,
// delivering to the internal mail table and to a real SMTP server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/format.h"
#include "common/ini_profile.h"
#include "data/field_def.h"
#include "data/log_stream.h"
#include "notify/database_notify_access.h"
#include "notify/internal_mail.h"
#include "notify/mail_sender.h"
#include "notify/notify_message.h"
#include "platform/sql/database.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/table_notify.h"
#include "tests/support/test_installation.h"
#include "tests/support/smtp_sink.h"

namespace vigilo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

CFieldDef Field(const char* name, int type) {
  CFieldDef field(1);
  field.name = name;
  field.type = type;
  return field;
}

class DatabaseNotifyTest : public ::testing::Test {
 protected:
  DatabaseNotifyTest() : log_([this] { return install_.server_dir() + "/vglog.ini"; }) {
#ifdef VIGILO_SMTP_PLUGIN_PATH
    setenv(VGSMTP_LIBRARY_ENV, VIGILO_SMTP_PLUGIN_PATH, 1);
#endif
    install_.WriteUsers({{"ann", "", 5, "ann@example.org", ""}, {"bob", "", 0, "bob", ""}});
    install_.SetMailKey("SMTP Mail", "1,0," + sink_.host_port() + ",<>vigilo@example.org,");
    project_dir_ = install_.server_dir() + "/proj";
    std::filesystem::create_directories(project_dir_);
    testing::WriteDbf(project_dir_ + "/Bugs.dbf",
                      {{"FormID", 'N', 8},
                       {"ATrail", 'C', 200},
                       {"Title", 'C', 30},
                       {"Owner", 'C', 10},
                       {"Opened", 'D', 8},
                       {"Count", 'N', 5}},
                      {{"12", "Opened by ann", "Crash", "bob", "20261208", "3"},
                       {"15", "Opened by bob", "Hang", "ann", "", "0"}});
    install_.WriteInternalMailTable();
    fields_ = {Field("Title", 0), Field("Owner", 9), Field("Opened", 3), Field("Count", 1)};
  }
  ~DatabaseNotifyTest() override { unsetenv(VGSMTP_LIBRARY_ENV); }

  // The project's tables on the embedded dBase engine.
  void OpenProject(Database& db) {
    db.Open(Format("Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
                   project_dir_.c_str()),
            Database::kNoOdbcDialog);
  }
  // The Bugs table as the notify rules see it.
  NotifyTableInfo BugsInfo(const std::string& table_id, CMailSender* sender) {
    NotifyTableInfo info;
    info.table_id = table_id;
    info.table_from = "Bugs";
    info.table_name = "Bugs";
    info.fields = &fields_;
    info.log = &log_;
    info.mail_sender = sender;
    return info;
  }

  test::SmtpSink sink_;
  testing::TestInstallation install_;
  LogStream log_;
  std::string project_dir_;
  std::vector<CFieldDef> fields_;
};

// Records read on the database; a fixed selection, and the flags kept.
class ListAccess : public DatabaseNotifyAccess {
 public:
  ListAccess(Database& db, std::string list) : DatabaseNotifyAccess(db), list_(std::move(list)) {}
  std::string FindNewRecords(const CNotifyRule&) override { return list_; }
  void InsertFlags(const std::string& list, int32_t id) override {
    flagged.push_back(Format("%d:%s", id, list.c_str()));
  }
  std::unique_ptr<NotifyRow> Retrieve(const std::string& statement) override {
    statements.push_back(statement);
    return DatabaseNotifyAccess::Retrieve(statement);
  }
  std::vector<std::string> flagged, statements;

 private:
  std::string list_;
};

TEST_F(DatabaseNotifyTest, FieldRuleReadsRecordsAndDeliversByMailType) {
  CMailSender::Options options;
  options.log = &log_;
  CMailSender sender(std::move(options));
  sender.InitMailSystems();
  ASSERT_TRUE(sender.systems().smtp_ready());

  NotifyRuleList rules;
  rules.emplace();
  auto rule = std::make_unique<CNotifyRule>();
  rule->rule_id = 4;
  rule->target = "Field";
  rule->values = "Owner";
  rule->report_columns = "FormID, ATrail,Title,Owner,Opened,Count";
  ResolveRuleRecipients(sender.directory(), *rule);
  rules->push_back(std::move(rule));

  Database db;
  OpenProject(db);
  ListAccess access(db, "12,15");
  NotifyTableInfo info = BugsInfo("0\\\\proj\\Bugs", &sender);
  EXPECT_EQ(RunNotifyRules(rules, info, access), 1);
  EXPECT_THAT(access.flagged, ElementsAre("4:12", "4:15"));

  // Record 12 belongs to bob (internal mail), record 15 to ann (SMTP).
  auto post = DbfTable::Open(install_.server_dir() + "/ORVKPOST.dbf", false);
  ASSERT_TRUE(post->GoFirst());
  EXPECT_EQ(post->Text(1), "bob");
  EXPECT_EQ(post->FieldLong(5), 12);
  EXPECT_EQ(post->Text(6), "Bugs.DBF");
  EXPECT_FALSE(post->Skip());

  std::vector<test::ReceivedMail> mail = sink_.WaitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_THAT(mail[0].recipients, ElementsAre("ann@example.org"));
  EXPECT_EQ(mail[0].subject, "VIGILO Rule# 4 , Record# 15 of 0\\\\proj\\Bugs");
  EXPECT_THAT(mail[0].body, HasSubstr("Opened by bob"));
  EXPECT_THAT(mail[0].body, HasSubstr("Title : Hang"));
  EXPECT_THAT(mail[0].body, HasSubstr("Count : 0"));
  EXPECT_THAT(mail[0].body, ::testing::Not(HasSubstr("Opened :")));
  EXPECT_THAT(log_.Text(), HasSubstr("    Records        :12,15\r\n    Notified Users :SMTP:ann@example.org,\r\n\r\n"));
  EXPECT_THAT(log_.Text(), ::testing::Not(HasSubstr("Mail delivery failed")));
}

TEST_F(DatabaseNotifyTest, OneStatementReadsTheRecordsOfABatchInTheOrderSelected) {
  CMailSender::Options options;
  options.log = &log_;
  CMailSender sender(std::move(options));
  sender.InitMailSystems();
  NotifyRuleList rules;
  rules.emplace();
  auto rule = std::make_unique<CNotifyRule>();
  rule->rule_id = 5;
  rule->target = "User";
  rule->report_columns = "FormID, ATrail,Title,Opened";
  rule->addresses = std::vector<std::string>{"SMTP:ann@example.org"};
  rules->push_back(std::move(rule));
  Database db;
  OpenProject(db);
  // Record 99 is gone: its own statement finds no row, so it is only flagged.
  ListAccess access(db, "15,99,12");
  NotifyTableInfo info = BugsInfo("T", &sender);
  RunNotifyRules(rules, info, access);
  EXPECT_THAT(access.statements,
              ElementsAre("SELECT FormID, ATrail,Title,Opened FROM Bugs WHERE FormID IN (15,99,12)",
                          "SELECT FormID, ATrail,Title,Opened FROM Bugs WHERE FormID =99"));
  EXPECT_THAT(access.flagged, ElementsAre("5:15", "5:12", "5:99"));
  std::vector<test::ReceivedMail> mail = sink_.WaitForMessages(2);
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_EQ(mail[0].subject, "VIGILO Rule# 5 , Record# 15 of T");
  EXPECT_EQ(mail[1].body,
            "Opened by ann\r\n\r\nDetailed Description of the record\r\n\r\n"
            "Table : T \r\nRuleID : 5\r\n\r\nTitle : Crash\r\nOpened : 12/08/2026\r\n");
  // The run log names the statement that reads the last record alone.
  EXPECT_THAT(log_.Text(), HasSubstr("    Query      : SELECT FormID, ATrail,Title,Opened FROM "
                                     "Bugs WHERE FormID =12\r\n"));
}

TEST_F(DatabaseNotifyTest, DatesOfADbaseTableAreShownInFull) {
  Database db;
  OpenProject(db);
  ListAccess access(db, "");
  auto row = access.Retrieve("SELECT FormID, ATrail,Opened FROM Bugs WHERE FormID =12");
  ASSERT_TRUE(row);
  EXPECT_EQ(FieldValueText(row->Text("Opened").value_or("?"), fields_[2], DateSettings{}),
            "12/08/2026");
  EXPECT_EQ(row->Text("Missing"), std::nullopt);
  EXPECT_EQ(access.Retrieve("SELECT FormID FROM Bugs WHERE FormID =99"), nullptr);
}

TEST_F(DatabaseNotifyTest, ProjectTableNotifiesNewlyMatchingRecordsOnce) {
  CMailSender::Options options;
  options.log = &log_;
  CMailSender sender(std::move(options));
  sender.InitMailSystems();
  testing::WriteDbf(project_dir_ + "/BugsHist.dbf", {{"FormID", 'N', 11}, {"ChngWhat", 'C', 10}});
  const std::string ini = project_dir_ + "/Bugs.INI";
  WriteProfileString(ini, "Morvane Orvik", "ChngHist Datafile", "BugsHist.dbf");
  WriteProfileString(ini, "Morvane Orvik", "FormNames", "Bug,Task");
  for (size_t i = 0; i < fields_.size(); ++i) {
    WriteProfileString(ini, "Bug", Format("Field%zu", i + 1), FieldDefLine(fields_[i]));
  }
  WriteProfileString(project_dir_ + "/Bugs.REP", "Bug Reports", "MailReport",
                     "Mail|2|x|Title,30 Count,5");
  WriteProfileString(install_.server_dir() + "/morvik.ini", "Orvik Dsn", "proj", project_dir_);
  CServerPaths settings;
  ProjectSource source;
  source.key = "0\\ORVIK\\proj";
  source.directory = project_dir_;
  source.ini_path = project_dir_ + "/proj.INI";
  source.connection_string = Format(
      "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
      project_dir_.c_str());
  CProject project(0, "ORVIK", "proj", source, &settings, &sender, &log_);
  ASSERT_EQ(project.OpenProject(), 1);
  CRule record;
  record.rule_id = 9;
  record.dsn = "ORVIK";
  record.db_table = "proj\\Bugs";
  record.action = "Notify";
  record.target = "User";
  record.values = "ann";
  record.cond = "FROM Bugs WHERE (Count > 0)";
  record.flag = kRuleFlagSqlCondition;
  project.AddRuleToProject(record);
  ASSERT_EQ(project.tables().size(), 1u);
  CProjectTable& table = *project.tables()[0];
  ASSERT_TRUE(table.notify_rules);
  CNotifyRule& rule = *table.notify_rules->front();
  PrepareNotifyRecipients(table, rule);
  EXPECT_EQ(rule.report_columns, "FormID, ATrail,Title,Count");
  EXPECT_THAT(*rule.addresses, ElementsAre("SMTP:ann@example.org"));

  EXPECT_EQ(RunTableNotifications(table), 1);
  std::vector<test::ReceivedMail> mail = sink_.WaitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0].subject, "VIGILO Rule# 9 , Record# 12 of 0\\ORVIK\\proj\\Bugs");
  EXPECT_EQ(mail[0].body,
            "Opened by ann\r\n\r\nDetailed Description of the record\r\n\r\n"
            "Table : 0\\ORVIK\\proj\\Bugs \r\nRuleID : 9\r\n\r\nTitle : Crash\r\nCount : 3\r\n");
  EXPECT_THAT(log_.Text(), HasSubstr("Sending notification( Rule ID : 9 )\r\n"
                                     "    Query      : SELECT FormID, ATrail,Title,Count FROM Bugs "
                                     "WHERE FormID =12\r\n"));

  // A second tick finds the record flagged; once it stops meeting the
  // condition and meets it again, it is notified again.
  EXPECT_EQ(RunTableNotifications(table), 1);
  project.database().ExecuteSQL("UPDATE Bugs SET Count = 0 WHERE FormID = 12");
  RunTableNotifications(table);
  project.database().ExecuteSQL("UPDATE Bugs SET Count = 5 WHERE FormID = 12");
  RunTableNotifications(table);
  mail = sink_.WaitForMessages(2);
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_THAT(mail[1].body, HasSubstr("Count : 5\r\n"));
  EXPECT_THAT(log_.Text(), ::testing::Not(HasSubstr("ODBC Reported Error")));
}

}  // namespace
}  // namespace vigilo
