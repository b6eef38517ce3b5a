// The flag table and the update action of one watched table on the embedded
// dBase engine: creation, stale flags, insertion, and the failures each step
// logs. (Whole ticks of the daemon are the end-to-end tests' business.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/ini_profile.h"
#include "data/field_def.h"
#include "data/log_stream.h"
#include "platform/sql/connection.h"
#include "platform/sql/database.h"
#include "platform/xbase/dbf_table.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/table_notify.h"
#include "tests/notify/fake_transports.h"
#include "tests/service/service_fixture.h"
#include "tests/support/faulty_file_system.h"

namespace vigilo {
namespace {

CFieldDef TextField(const std::string& name, int width) {
  CFieldDef field(1);
  field.name = name;
  field.label = name;
  field.width = static_cast<uint32_t>(width);
  field.flags = 0x201;
  return field;
}

class FlagTableTest : public ::testing::Test {
 protected:
  FlagTableTest() : log_([this] { return install_.run_log(); }) {
    dir_ = install_.server_dir() + "/proj";
    std::filesystem::create_directories(dir_);
    WriteProfileString(install_.server_dir() + "/morvik.ini", "Orvik Dsn", "Proj", dir_);
    testing::WriteDbf(dir_ + "/Bugs.dbf",
                      {{"FormID", 'N', 11, 0}, {"Status", 'C', 10, 0}, {"Note", 'C', 20, 0},
                       {"ATrail", 'C', 20, 0}},
                      {{"1", "Open"}, {"2", "Closed"}, {"3", "Closed"}, {"4", "Open"}});
    testing::WriteDbf(dir_ + "/BugsHist.dbf", {{"FormID", 'N', 11, 0}, {"ChngWhat", 'C', 10, 0}});
    WriteTableIni("Bugs", true);
    settings_ = std::make_unique<CServerPaths>();
  }

  void WriteTableIni(const std::string& table, bool with_history) {
    const std::string ini = dir_ + "/" + table + ".INI";
    if (with_history) {
      WriteProfileString(ini, "Morvane Orvik", "ChngHist Datafile", "BugsHist.dbf");
    }
    WriteProfileString(ini, "Morvane Orvik", "FormNames", table);
    WriteProfileString(ini, table, "Field1", FieldDefLine(TextField("Status", 10)));
    WriteProfileString(ini, table, "Field2", FieldDefLine(TextField("Note", 20)));
  }

  CProject& Project() {
    if (!project_) {
      ProjectSource source;
      source.key = "0\\ORVIK\\Proj";
      source.directory = dir_;
      source.ini_path = dir_ + "/Proj.INI";
      source.connection_string = Format(
          "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
          dir_.c_str());
      project_ = std::make_unique<CProject>(0, "ORVIK", "Proj", source, settings_.get(),
                                            mail_sender_.get(), &log_);
      EXPECT_EQ(project_->OpenProject(), 1);
    }
    return *project_;
  }

  // Loads an update rule on table Bugs and returns the table.
  CProjectTable* Load(long id, const std::string& cond, const std::string& values,
                      const std::string& table = "Bugs", int32_t flag = 0) {
    CRule record;
    record.rule_id = id;
    record.dsn = "ORVIK";
    record.db_table = "Proj\\" + table;
    record.action = "Update";
    record.cond = cond;
    record.values = values;
    record.flag = flag;
    Project().AddRuleToProject(record);
    for (const auto& candidate : Project().tables()) {
      if (candidate->name() == table) return candidate.get();
    }
    return nullptr;
  }

  std::string Flags() {
    std::string flags;
    Recordset rs;
    for (rs.Open(Project().database(), "SELECT FormID, RuleID FROM BugsVGLS ORDER BY FormID");
         !rs.IsEOF(); rs.MoveNext()) {
      flags += Format("%d/%d ", rs.GetLong(0), rs.GetLong(1));
    }
    return flags;
  }

  testing::ServiceEnvironment env_;

  testing::TestInstallation install_;
  std::string dir_;
  LogStream log_;
  std::unique_ptr<CServerPaths> settings_;
  std::unique_ptr<CMailSender> mail_sender_;
  std::unique_ptr<CProject> project_;
};

TEST_F(FlagTableTest, FlagTableIsCreatedOnceAndFoundAfterwards) {
  ASSERT_NE(Load(1, "(Status is (Closed))", "Note=x"), nullptr);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/BugsVGLS.dbf") ||
              std::filesystem::exists(dir_ + "/BugsVGLS.DBF"));
  EXPECT_EQ(log_.Text(), "");
  // A second start finds the table: no creation, nothing logged.
  project_.reset();
  ASSERT_NE(Load(1, "(Status is (Closed))", "Note=x"), nullptr);
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(FlagTableTest, TableWithoutChangeHistoryIsDroppedWithTheCreationError) {
  WriteTableIni("Tasks", false);
  EXPECT_EQ(Load(1, "(Status is (Closed))", "Note=x", "Tasks"), nullptr);
  const std::string text = log_.Text();
  EXPECT_EQ(text.rfind("ODBC Reported Error (While Creating Flag Table) : ", 0), 0u) << text;
  EXPECT_NE(text.find(" \r\n    Query   : CREATE TABLE  (FormID INT, RuleID INT, CONSTRAINT "
                      "pk_Proj PRIMARY KEY (FormID, RuleID))\r\n\r\n"),
            std::string::npos)
      << text;
}

TEST_F(FlagTableTest, FindNewRecordsSkipsFlaggedRecordsAndDropsStaleFlags) {
  CProjectTable* table = Load(3, "(Status is (Closed))", "Note=x");
  ASSERT_NE(table, nullptr);
  const CUpdateRule& rule = *table->update_rules->front();
  EXPECT_EQ(table->FindNewRecords(rule), "2,3");
  EXPECT_EQ(table->InsertFlags("2,3", 3), 1);
  EXPECT_EQ(table->FindNewRecords(rule), "");
  EXPECT_EQ(Flags(), "2/3 3/3 ");

  Project().database().ExecuteSQL("UPDATE Bugs SET Status = 'Open' WHERE FormID = 2");
  EXPECT_EQ(table->FindNewRecords(rule), "");
  EXPECT_EQ(Flags(), "3/3 ");
  Project().database().ExecuteSQL("UPDATE Bugs SET Status = 'Closed' WHERE FormID = 2");
  EXPECT_EQ(table->FindNewRecords(rule), "2");
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(FlagTableTest, SelectionErrorIsLoggedAndSelectsNothing) {
  CProjectTable* table =
      Load(7, "FROM Bugs WHERE (Nope = 1)", "Note=x", "Bugs", kRuleFlagSqlCondition);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->FindNewRecords(*table->update_rules->front()), "");
  const std::string text = log_.Text();
  EXPECT_EQ(text.rfind("ODBC Reported Error (While Retrieving RecordIDs, Rule ID : 7) : ", 0), 0u)
      << text;
  EXPECT_NE(text.find(" \r\n    Query   : DELETE FROM BugsVGLS WHERE FormID NOT IN (SELECT "
                      "DISTINCT Bugs.FormID FROM Bugs WHERE (Nope = 1)) AND RuleID =7\r\n\r\n"),
            std::string::npos)
      << text;
}

TEST_F(FlagTableTest, InsertFlagsSkipsNonPositiveItemsAndStopsAtTheFirstError) {
  CProjectTable* table = Load(5, "(Status is (Closed))", "Note=x");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->InsertFlags("4,x,-2,0,1", 5), 1);
  EXPECT_EQ(Flags(), "1/5 4/5 ");
  EXPECT_EQ(log_.Text(), "");

  // The pair (1,5) exists: the insertion stops there and 3 stays unflagged.
  EXPECT_EQ(table->InsertFlags("2,1,3", 5), 1);
  EXPECT_EQ(Flags(), "1/5 2/5 4/5 ");
  const std::string text = log_.Text();
  EXPECT_EQ(text.rfind("ODBC Reported Error (While Inserting record to Flag Table, Rule ID : 5) : ",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find(" \r\n    Query   : INSERT INTO BugsVGLS(FormID,RuleID) VALUES(1,5)\r\n\r\n"),
            std::string::npos)
      << text;
}

TEST_F(FlagTableTest, RecordsOfABatchAreFlaggedInOneGoAndOneAlreadyFlaggedSinksNone) {
  CProjectTable* table = Load(5, "(Status is (Closed))", "Note=x");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(FlagRecords(*table, {2, 3}, 5), std::vector<bool>({true, true}));
  EXPECT_EQ(Flags(), "2/5 3/5 ");

  // (3,5) exists: the statement fails after writing (1,5); each record is
  // then made sure of, so every one counts as flagged and none is doubled.
  EXPECT_EQ(FlagRecords(*table, {1, 3, 4}, 5), std::vector<bool>({true, true, true}));
  EXPECT_EQ(Flags(), "1/5 2/5 3/5 4/5 ");
  EXPECT_EQ(log_.Text(), "");

  // No database: nothing counts as flagged.
  Project().CloseProject();
  EXPECT_EQ(FlagRecords(*table, {1, 2}, 5), std::vector<bool>({false, false}));
}

TEST_F(FlagTableTest, ClosedDatabaseDoesNothing) {
  CProjectTable* table = Load(5, "(Status is (Closed))", "Note=x");
  ASSERT_NE(table, nullptr);
  Project().CloseProject();
  EXPECT_EQ(table->InsertFlags("1", 5), 0);
  EXPECT_EQ(table->FindNewRecords(*table->update_rules->front()), "");
  EXPECT_EQ(table->UpdateRecords(), 1);
  Project().OpenProject();
  EXPECT_EQ(Flags(), "");
}

TEST_F(FlagTableTest, RulesThatCannotRunAsWrittenAreRefusedWithALogLine) {
  // An update naming an unknown field and a condition naming one: run
  // without that part, each would act beyond what it says.
  CProjectTable* table = Load(1, "(Status is (Closed))", "Nope=1;Status=x");
  ASSERT_NE(table, nullptr);
  Load(2, "(Gone is (x))", "Note=y");
  Load(3, "(Status is (Closed))", "Note=z");
  EXPECT_EQ(table->UpdateRuleIds(), std::vector<int32_t>{3});
  EXPECT_EQ(table->RefusedRuleIds(), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(log_.Text(),
            "Rule refused ( Rule ID : 1 ) on table 0\\ORVIK\\Proj\\Bugs : the update names the "
            "field Nope, which is not in the table\r\n"
            "Rule refused ( Rule ID : 2 ) on table 0\\ORVIK\\Proj\\Bugs : the condition names "
            "the field Gone, which is not in the table\r\n");
  EXPECT_EQ(table->UpdateRecords(), 1);
  Recordset notes;
  notes.Open(Project().database(), "SELECT COUNT(*) FROM Bugs WHERE Note = 'y'");
  EXPECT_EQ(notes.GetLong(0), 0);
  notes.Open(Project().database(), "SELECT COUNT(*) FROM Bugs WHERE Note = 'z'");
  EXPECT_EQ(notes.GetLong(0), 2);
}

TEST_F(FlagTableTest, TableWithoutUpdateRulesReportsItAndTouchesNothing) {
  CRule record;
  record.rule_id = 1;
  record.dsn = "ORVIK";
  record.db_table = "Proj\\Bugs";
  record.action = "Notify";
  record.cond = "(Status is (Closed))";
  Project().AddRuleToProject(record);
  ASSERT_EQ(Project().tables().size(), 1u);
  const std::string log_before = log_.Text();
  EXPECT_EQ(Project().tables()[0]->UpdateRecords(), 0);
  EXPECT_EQ(log_.Text(), log_before);
  Recordset notes;
  notes.Open(Project().database(), "SELECT COUNT(*) FROM Bugs WHERE Note = 'y'");
  EXPECT_EQ(notes.GetLong(0), 0);
}

// A notification rule on Bugs whose records 2 and 3 meet it, with a mail
// sender that keeps every message it delivers.
class FlagTableMailTest : public FlagTableTest {
 protected:
  FlagTableMailTest() {
    mail_sender_ = std::make_unique<CMailSender>(CMailSender::Options{},
                                                 testing::RecordingTransports(sent_));
  }
  void LoadNotify() {
    CRule record;
    record.rule_id = 4;
    record.dsn = "ORVIK";
    record.db_table = "Proj\\Bugs";
    record.action = "Notify";
    record.target = "User";
    record.values = "ops@example.org";
    record.cond = "(Status is (Closed))";
    Project().AddRuleToProject(record);
  }
  // The records mailed so far, in order.
  std::string Mailed() const {
    std::string records;
    for (const auto& sent : sent_->sent) records += std::to_string(sent.record) + " ";
    return records;
  }
  std::string FlagFile() const { return dir_ + "/BugsVGLS.dbf"; }

  std::shared_ptr<testing::RecordingTransport::State> sent_ =
      std::make_shared<testing::RecordingTransport::State>();
};

TEST_F(FlagTableMailTest, DiskFullAtEachStepOfTheFirstCreationMailsEveryRecordOnceLater) {
  // Each step of the creation on a full disk, and a file cut in its header
  // as an earlier creation left it (0, 20 and 40 bytes, or zeros alone).
  using Fault = std::function<void(testing::FaultyFileSystem&)>;
  const std::vector<Fault> faults = {
      [](testing::FaultyFileSystem& files) { files.FailWrites("VGLS.pk"); },       // its key
      [](testing::FaultyFileSystem& files) { files.FailWrites("VGLS.dbf.new"); },  // its header
      [](testing::FaultyFileSystem& files) { files.FailRenames("VGLS.dbf"); },     // into place
      nullptr, nullptr, nullptr, nullptr};
  const std::string bugs = testing::ReadText(dir_ + "/Bugs.dbf");
  const std::string left[] = {"", bugs.substr(0, 20), bugs.substr(0, 40), std::string(64, '\0')};
  for (size_t step = 0; step < faults.size(); ++step) {
    SCOPED_TRACE(step);
    project_.reset();
    sent_->sent.clear();
    log_.Flush(kLogRecreate);
    std::filesystem::remove(FlagFile());
    std::filesystem::remove(dir_ + "/BugsVGLS.pk");
    if (faults[step]) {
      testing::FaultyFileSystem files;
      faults[step](files);
      LoadNotify();
      Project().FireTick(/*keep_connection=*/true);
      EXPECT_GT(files.refusals(), 0);
      EXPECT_EQ(Mailed(), "");
      EXPECT_FALSE(std::filesystem::exists(FlagFile()));
      EXPECT_NE(log_.Text().find("ODBC Reported Error (While Creating Flag Table)"),
                std::string::npos);
    } else {
      std::ofstream(FlagFile(), std::ios::binary) << left[step - 3];
      LoadNotify();
      EXPECT_EQ(log_.Text(), "Flag table " + FlagFile() + " of table 0\\ORVIK\\Proj\\Bugs has no "
                             "whole header, left by an interrupted creation: it is created again\r\n");
    }
    // Space is back: the next tick creates the table and mails each record,
    // the one after mails nothing more.
    Project().FireTick(true);
    Project().FireTick(true);
    EXPECT_EQ(Mailed(), "2 3 ");
  }
}

int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// Ticks of a project whose server goes away: the real engine behind a
// connection that can refuse to open or lose itself on the next statement.
struct ServerState {
  bool down = false;       // opening fails with SQLSTATE 08001
  bool drop_next = false;  // the next statement fails with 08S01
};

class FlakyConnection : public sql::Connection {
 public:
  FlakyConnection(std::unique_ptr<sql::Connection> inner, ServerState* state)
      : inner_(std::move(inner)), state_(state) {}
  long Execute(const std::string& statement) override {
    Check();
    return inner_->Execute(statement);
  }
  std::unique_ptr<sql::Cursor> Query(const std::string& statement) override {
    Check();
    return inner_->Query(statement);
  }
  bool IsDbase() const override { return inner_->IsDbase(); }

 private:
  void Check() {
    if (state_->drop_next || state_->down) {
      state_->drop_next = false;
      throw DbException("server closed the connection unexpectedly\n\tat the peer", "08S01");
    }
  }
  std::unique_ptr<sql::Connection> inner_;
  ServerState* state_;
};

class ProjectTickTest : public FlagTableTest {
 protected:
  ProjectTickTest() {
    sql::SetConnectionFactory([this](const std::string& connection_string)
                                  -> std::unique_ptr<sql::Connection> {
      if (server_.down) throw DbException("could not connect to server", "08001");
      return std::make_unique<FlakyConnection>(sql::OpenDefaultConnection(connection_string),
                                               &server_);
    });
  }
  ~ProjectTickTest() override { sql::SetConnectionFactory(nullptr); }

  void Close(long form_id) {
    Database db;
    db.Open(Project().source().connection_string, Database::kNoOdbcDialog);
    db.ExecuteSQL(Format("UPDATE Bugs SET Status = 'Closed' WHERE FormID = %ld", form_id));
  }

  static constexpr char kLost[] =
      "Connection to project 0\\ORVIK\\Proj lost, opening it anew : server closed "
      "the connection unexpectedly at the peer\r\n";
  ServerState server_;
};

TEST_F(ProjectTickTest, LostConnectionIsOpenedAnewAtOnceWithOneLinePerOutage) {
  ASSERT_NE(Load(1, "(Status is (Closed))", "Note=done"), nullptr);
  Project().FireTick(/*keep_connection=*/true);
  EXPECT_EQ(Flags(), "2/1 3/1 ");
  log_.Flush(kLogRecreate);

  // The kept connection died between ticks; the server is back already.
  Close(4);
  server_.drop_next = true;
  Project().FireTick(true);
  EXPECT_EQ(log_.Text().substr(0, sizeof kLost - 1), kLost);
  EXPECT_EQ(CountOf(log_.Text(), "ODBC Reported Error"), 0) << log_.Text();
  EXPECT_EQ(Flags(), "2/1 3/1 4/1 ");
  log_.Flush(kLogRecreate);

  // Down for three ticks: one line, then the records of the outage run.
  Close(1);
  server_.drop_next = true;
  server_.down = true;
  for (int tick = 0; tick < 3; ++tick) Project().FireTick(true);
  EXPECT_EQ(log_.Text(), kLost);
  server_.down = false;
  Project().FireTick(true);
  EXPECT_EQ(CountOf(log_.Text(), "Connection to project"), 1) << log_.Text();
  EXPECT_EQ(Flags(), "1/1 2/1 3/1 4/1 ");
}

TEST_F(ProjectTickTest, RulesOfAProjectDownAtStartWaitAndArePreparedWhenItOpens) {
  Project().CloseProject();
  server_.down = true;
  EXPECT_EQ(Project().OpenProject(), 0);
  CRule record;
  record.rule_id = 9;
  record.dsn = "ORVIK";
  record.db_table = "Proj\\Bugs";
  record.action = "Update";
  record.cond = "(Status is (Closed))";
  record.values = "Note=done";
  Project().AddWaitingRule(record);
  EXPECT_EQ(Project().WaitingRuleIds(), std::vector<int32_t>{9});
  Project().FireTick(false);
  EXPECT_TRUE(Project().tables().empty());
  EXPECT_EQ(CountOf(log_.Text(), "ODBC Reported Error (While Opening database) : "), 1);

  server_.down = false;
  Project().FireTick(false);
  EXPECT_TRUE(Project().WaitingRuleIds().empty());
  ASSERT_EQ(Project().tables().size(), 1u);
  EXPECT_EQ(Project().tables()[0]->UpdateRuleIds(), std::vector<int32_t>{9});
  EXPECT_NE(log_.Text().find("Project 0\\ORVIK\\Proj opened: its waiting rules 9 are prepared\r\n"),
            std::string::npos)
      << log_.Text();
  Project().OpenProject();
  EXPECT_EQ(Flags(), "2/9 3/9 ");
}

}  // namespace
}  // namespace vigilo
