// The ODBC backend against a real PostgreSQL server through the psqlODBC
// driver, started by the test on 127.0.0.1 (label "postgres").
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "common/format.h"
#include "platform/sql/database.h"
#include "tests/support/postgres_server.h"

namespace vigilo::test {
namespace {

class OdbcPostgresTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!PostgresServer::Available()) return;
    PostgresServer::Options options;
    options.extra_dsn_keys = {"Server=ignored-by-the-driver"};
    options.extra_dsns = {{"VGDOWN", {"Servername=127.0.0.1", "Port=1", "Database=orvik"}}};
    server_ = std::make_unique<PostgresServer>(options);
    server_->Psql(
        "CREATE SCHEMA proj AUTHORIZATION vigilo;"
        "SET ROLE vigilo;"
        "CREATE TABLE proj.bugs (FormID INT, Title VARCHAR(40), Status CHAR(10), ATrail TEXT);"
        "CREATE TABLE proj.chhist (FormID INT, ChngWhat VARCHAR(20), ChngTo VARCHAR(60));"
        "INSERT INTO proj.bugs VALUES (1,'Crash','Open','created'),(2,'Slow','Closed',NULL),"
        "(3,'Total','Open',repeat('x', 100000));"
        "INSERT INTO proj.chhist VALUES (1,'Status','Open'),(2,'Status','Closed'),"
        "(2,'Priority','3');");
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (!server_) GTEST_SKIP() << "PostgreSQL or psqlODBC is not installed";
    db_.Open(server_->ConnectionString(), Database::kNoOdbcDialog);
  }

  std::vector<std::string> Column(const std::string& statement) {
    Recordset rs;
    rs.Open(db_, statement);
    std::vector<std::string> values;
    for (; !rs.IsEOF(); rs.MoveNext()) values.push_back(rs.GetText(0));
    return values;
  }

  static std::unique_ptr<PostgresServer> server_;
  Database db_;
};

std::unique_ptr<PostgresServer> OdbcPostgresTest::server_;

TEST_F(OdbcPostgresTest, ConnectsAndReadsColumnsByPositionOrAnyCaseOfTheirName) {
  EXPECT_TRUE(db_.IsOpen());
  EXPECT_FALSE(db_.IsDbase());
  Recordset rs;
  rs.Open(db_, "SELECT FormID, Title, Status, ATrail FROM proj.bugs ORDER BY FormID");
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.ColumnName(0), "formid");  // the driver lower-cases
  EXPECT_EQ(rs.GetLong("FormID"), 1);
  EXPECT_EQ(rs.GetText("TITLE"), "Crash");
  EXPECT_EQ(rs.GetText(2), "Open      ");  // CHAR comes blank-padded
  rs.MoveNext();
  EXPECT_TRUE(rs.IsNull(3));
  EXPECT_EQ(rs.GetText("atrail"), "");
  rs.MoveNext();
  EXPECT_EQ(rs.GetText("ATrail"), std::string(100000, 'x'));  // memo-sized, whole
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_THROW(rs.MoveNext(), DbException);
  EXPECT_THROW(rs.GetText("nosuch"), DbException);
}

TEST_F(OdbcPostgresTest, FlagTableLifeOnASchemaQualifiedTable) {
  const std::string fq = "proj.BugsVGLSVGLS";
  EXPECT_THROW(db_.ExecuteSQL(Format("SELECT FormID FROM %s", fq.c_str())), DbException);
  db_.ExecuteSQL(Format("CREATE TABLE %s (FormID INT, RuleID INT, CONSTRAINT pk_%s%s "
                        "PRIMARY KEY (FormID, RuleID))",
                        fq.c_str(), "proj", "BugsVGLSVGLS"));
  db_.ExecuteSQL(Format("SELECT FormID FROM %s", fq.c_str()));

  std::string where = "(proj.chhist.ChngTo = 'Closed') OR (proj.chhist.ChngTo = 'Open')";
  std::string flag_select =
      Format("SELECT DISTINCT FormID FROM %s WHERE RuleID =%ld", fq.c_str(), 5L);
  std::string selection =
      Format("SELECT DISTINCT %s.FormID FROM %s WHERE %s.FormID =%s.FormID AND ",
             "proj.bugs", "proj.bugs,proj.chhist", "proj.bugs", "proj.chhist") +
      Format("%s.FormID NOT IN (%s) AND (%s)", "proj.bugs", flag_select.c_str(),
             where.c_str());
  auto found = Column(selection);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"1", "2"}));
  for (int id : {1, 2}) {
    EXPECT_EQ(db_.ExecuteSQL(Format("INSERT INTO %s(FormID,RuleID) VALUES(%d,%d)",
                                    fq.c_str(), id, 5)),
              1);
  }
  EXPECT_TRUE(Column(selection).empty());
  try {
    db_.ExecuteSQL(Format("INSERT INTO %s(FormID,RuleID) VALUES(%d,%d)", fq.c_str(), 1, 5));
    ADD_FAILURE() << "duplicate flag inserted";
  } catch (const DbException& e) {
    EXPECT_EQ(e.SqlState(), "23505");
    EXPECT_NE(e.Message().find("pk_projbugsvglsvgls"), std::string::npos) << e.Message();
  }
  // Stale flags: record 1 no longer meets a condition on "Closed" only.
  std::string stale = Format(
      "DELETE FROM %s WHERE FormID NOT IN (SELECT DISTINCT %s.FormID FROM %s WHERE "
      "%s.FormID =%s.FormID AND %s) AND RuleID =%ld",
      fq.c_str(), "proj.bugs", "proj.bugs,proj.chhist", "proj.bugs", "proj.chhist",
      "(proj.chhist.ChngTo = 'Closed')", 5L);
  EXPECT_EQ(db_.ExecuteSQL(stale), 1);
  EXPECT_EQ(db_.ExecuteSQL(stale), 0);  // SQL_NO_DATA: nothing left to delete
  EXPECT_EQ(Column(flag_select), (std::vector<std::string>{"2"}));
  EXPECT_EQ(db_.ExecuteSQL("UPDATE proj.bugs SET Title = 'x' WHERE FormID = 99"), 0);
}

TEST_F(OdbcPostgresTest, AFailingStatementCarriesTheDriverMessageEndingInALineFeed) {
  try {
    db_.ExecuteSQL("SELECT * FROM proj.nosuch");
    ADD_FAILURE();
  } catch (const DbException& e) {
    EXPECT_NE(e.Message().find("ERROR:"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("proj.nosuch"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("SQLSTATE 42P01"), std::string::npos) << e.Message();
    EXPECT_EQ(e.Message().back(), '\n');
    EXPECT_EQ(e.SqlState(), "42P01");
    ASSERT_FALSE(e.Diagnostics().empty());
    EXPECT_EQ(e.Diagnostics()[0].sql_state, "42P01");
    EXPECT_NE(e.Diagnostics()[0].text.find("proj.nosuch"), std::string::npos);
  }
  // The connection stays usable.
  EXPECT_EQ(Column("SELECT COUNT(*) FROM proj.bugs"), (std::vector<std::string>{"3"}));
}

TEST_F(OdbcPostgresTest, RefusedConnectionsRaiseAndLeaveTheDatabaseClosed) {
  Database db;
  EXPECT_THROW(db.Open("DSN=VGDOWN;UID=vigilo;PWD=vg-secret;", Database::kNoOdbcDialog),
               DbException);
  EXPECT_FALSE(db.IsOpen());
  try {
    db.Open("DSN=VGPG;UID=vigilo;PWD=wrong;", Database::kNoOdbcDialog);
    ADD_FAILURE();
  } catch (const DbException& e) {
    EXPECT_NE(e.Message().find("password"), std::string::npos) << e.Message();
  }
  EXPECT_THROW(db.Open("DSN=NoSuchSource;UID=a;PWD=b;", Database::kNoOdbcDialog),
               DbException);
  db.Open(server_->DriverConnectionString(), Database::kNoOdbcDialog);
  EXPECT_TRUE(db.IsOpen());
}

TEST_F(OdbcPostgresTest, DataSourcesAreListedAndTheirKeysRead) {
  auto sources = ListDataSources();
  EXPECT_NE(std::find(sources.begin(), sources.end(), "VGPG"), sources.end());
  EXPECT_NE(std::find(sources.begin(), sources.end(), "VGDOWN"), sources.end());
  EXPECT_EQ(ReadDataSourceKey("VGPG", "ServerName"), "127.0.0.1");
  EXPECT_EQ(ReadDataSourceKey("vgpg", "SERVERNAME"), "127.0.0.1");
  EXPECT_EQ(ReadDataSourceKey("VGPG", "SERVER"), "ignored-by-the-driver");
  EXPECT_EQ(ReadDataSourceKey("VGDOWN", "SERVER"), std::nullopt);
  EXPECT_EQ(ReadDataSourceKey("NoSuchSource", "ServerName"), std::nullopt);
}

TEST_F(OdbcPostgresTest, VgsqlPrintsRowsAndFailures) {
  std::string command = std::string(VGSQL_TOOL) + " '" + server_->ConnectionString() +
                        "' 'SELECT FormID, Title FROM proj.bugs WHERE FormID < 3 ORDER BY 1'"
                        " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(output, "1\tCrash\n2\tSlow\n");

  command = std::string(VGSQL_TOOL) + " '" + server_->ConnectionString() +
            "' 'DELETE FROM proj.nosuch' 2>&1";
  pipe = popen(command.c_str(), "r");
  output.clear();
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  EXPECT_NE(pclose(pipe), 0);
  EXPECT_NE(output.find("proj.nosuch"), std::string::npos) << output;
}

TEST_F(OdbcPostgresTest, AStopCheckCancelsAStatementTheServerIsStillRunning) {
  const auto start = std::chrono::steady_clock::now();
  db_.SetStopCheck([start] {
    return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
  });
  Recordset rs;
  EXPECT_THROW(rs.Open(db_, "SELECT pg_sleep(30)"), DbException);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  db_.SetStopCheck(nullptr);
  EXPECT_EQ(Column("SELECT FormID FROM proj.bugs WHERE Status = 'Open' ORDER BY FormID"),
            (std::vector<std::string>{"1", "3"}));
}

}  // namespace
}  // namespace vigilo::test
