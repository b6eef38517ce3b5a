// The dBase dialect rewriter, the CREATE TABLE reader and the connection
// string reader: statement in, statement out.
#include "platform/sql/dbase_sql_rewriter.h"

#include <gtest/gtest.h>

#include "platform/sql/connection_string.h"
#include "platform/sql/create_table_statement.h"
#include "platform/sql/database.h"
#include "platform/sql/date_collation.h"
#include "platform/sql/dbf_file_names.h"

namespace vigilo::sql {
namespace {

struct RewriteCase {
  const char* in;
  const char* out;
};

TEST(DbaseSqlRewriterTest, RewritesTheDialectBitsAndNothingElse) {
  const RewriteCase cases[] = {
      {"SELECT * FROM T WHERE (D = #01/31/1999#)", "SELECT * FROM T WHERE (D = '1999-01-31')"},
      {"SELECT * FROM T WHERE (D > #1/2/99#)", "SELECT * FROM T WHERE (D > '1999-01-02')"},
      {"SELECT * FROM T WHERE (D > #1/2/05#)", "SELECT * FROM T WHERE (D > '2005-01-02')"},
      {"SELECT * FROM T WHERE (Locker+'.' = '.')",
       "SELECT * FROM T WHERE (Locker||'.' = '.')"},
      {"SELECT a + 1 FROM T", "SELECT a + 1 FROM T"},
      {"SELECT * FROM T WHERE (RESERVED1 <> '1') OR (RESERVED1 =NULL)",
       "SELECT * FROM T WHERE (RESERVED1 <> '1') OR ((RESERVED1 IS NULL OR RESERVED1 = ''))"},
      {"SELECT * FROM T WHERE T.a <> NULL",
       "SELECT * FROM T WHERE (T.a IS NOT NULL AND T.a <> '')"},
      {"UPDATE T SET T.a = NULL, b = (SELECT c FROM d WHERE e = NULL) WHERE f = NULL",
       "UPDATE T SET a = NULL, b = (SELECT c FROM d WHERE (e IS NULL OR e = '')) "
       "WHERE (f IS NULL OR f = '')"},
      {"UPDATE Bugs SET Bugs.Status = 'x',Bugs.Pri = 2 WHERE FormID = 3",
       "UPDATE Bugs SET Status = 'x',Pri = 2 WHERE FormID = 3"},
      {"UPDATE \"/d\\Bugs.DBF\" AS Bugs SET Bugs.Status = 'a.b' WHERE FormID = 3",
       "UPDATE \"/d\\Bugs.DBF\" AS Bugs SET Status = 'a.b' WHERE FormID = 3"},
      {"UPDATE P.Bugs SET P.Bugs.S = (SELECT x.y FROM x) WHERE FormID = 3",
       "UPDATE P.Bugs SET S = (SELECT x.y FROM x) WHERE FormID = 3"},
      {"SELECT * FROM ORVKPOST WHERE BUGNUM =42 AND TO ='ann'",
       "SELECT * FROM ORVKPOST WHERE BUGNUM =42 AND \"TO\" ='ann'"},
      {"INSERT INTO t ([FROM], [TO]) VALUES ('a', 'b')",
       "INSERT INTO t ([FROM], [TO]) VALUES ('a', 'b')"},
      {"INSERT INTO t (FROMX, TO) VALUES ('a', 'b')",
       "INSERT INTO t (FROMX, \"TO\") VALUES ('a', 'b')"},
      {"SELECT Values FROM t WHERE Action = 'Update'",
       "SELECT \"Values\" FROM t WHERE \"Action\" = 'Update'"},
      {"SELECT * FROM t WHERE (Title = \"O'Neil\")",
       "SELECT * FROM t WHERE (Title = 'O''Neil')"},
      {"SELECT * FROM t WHERE (a = 'DATE() + #x#')", "SELECT * FROM t WHERE (a = 'DATE() + #x#')"},
      {"SELECT * FROM t WHERE (a = 'it''s' + b)", "SELECT * FROM t WHERE (a = 'it''s' || b)"},
      // The set an IN tests needs no DISTINCT, unless it decides what LIMIT
      // counts; outside IN, DISTINCT stays. The flag test of a selection is
      // looked up, with the NOT IN kept for when the look-up cannot answer.
      {"SELECT DISTINCT a FROM t WHERE a NOT IN (SELECT DISTINCT f FROM g WHERE r =5)",
       "SELECT DISTINCT a FROM t WHERE (CASE vg_not_listed(a, 'g', 'f', 'r', 5) WHEN 1 THEN 1 "
       "WHEN 0 THEN 0 WHEN 2 THEN (a NOT IN (SELECT f FROM g WHERE r =5)) END)"},
      {"UPDATE t SET b = 1 WHERE a NOT IN (SELECT DISTINCT f FROM g WHERE r =5)",
       "UPDATE t SET b = 1 WHERE a NOT IN (SELECT f FROM g WHERE r =5)"},
      {"SELECT a FROM t WHERE b + a NOT IN (SELECT f FROM g WHERE r =5 AND s = 1)",
       "SELECT a FROM t WHERE b + a NOT IN (SELECT f FROM g WHERE r =5 AND s = 1)"},
      {"SELECT a FROM t WHERE a IN (SELECT DISTINCT f FROM g WHERE x IN (SELECT DISTINCT y "
       "FROM h LIMIT 2))",
       "SELECT a FROM t WHERE a IN (SELECT f FROM g WHERE x IN (SELECT DISTINCT y FROM h "
       "LIMIT 2))"},
      {"SELECT a FROM t WHERE a IN (SELECT DISTINCT f FROM g ORDER BY f LIMIT 3 OFFSET 1)",
       "SELECT a FROM t WHERE a IN (SELECT DISTINCT f FROM g ORDER BY f LIMIT 3 OFFSET 1)"},
      {"SELECT a FROM t WHERE EXISTS (SELECT DISTINCT f FROM g)",
       "SELECT a FROM t WHERE EXISTS (SELECT DISTINCT f FROM g)"},
  };
  for (const RewriteCase& c : cases) {
    EXPECT_EQ(RewriteDbaseSql(c.in), c.out) << c.in;
  }
}

TEST(DbaseSqlRewriterTest, DateFunctionBecomesTodayAndBadDatesAreRefused) {
  std::string out = RewriteDbaseSql("SELECT * FROM t WHERE (D < DATE()) AND (E = date())");
  EXPECT_EQ(out.find("DATE()"), std::string::npos) << out;
  EXPECT_EQ(out.find("date()"), std::string::npos) << out;
  EXPECT_NE(out.find("(D < '"), std::string::npos) << out;
  EXPECT_THROW(RewriteDbaseSql("SELECT * FROM t WHERE d = #02/30/1999#"), DbException);
  EXPECT_EQ(IsoDateFromText("02/29/2000"), "2000-02-29");
  EXPECT_EQ(IsoDateFromText("02/29/1900"), "");
  EXPECT_EQ(IsoDateFromText("19991231"), "1999-12-31");
  EXPECT_EQ(IsoDateFromText("1999-12-31 10:00:00"), "1999-12-31");
  EXPECT_EQ(IsoDateFromText("yesterday"), "");
}

TEST(DateCollationTest, ShortFormsCompareAsDates) {
  char buffer[10];
  EXPECT_EQ(DateKey("12/24/01  ", buffer), "2001-12-24");
  EXPECT_EQ(DateKey("1/2/1999", buffer), "1999-01-02");
  EXPECT_EQ(DateKey("19991231", buffer), "1999-12-31");
  EXPECT_EQ(DateKey("1999-12-31", buffer), "1999-12-31");
  EXPECT_EQ(DateKey("13/01/99", buffer), "13/01/99");
  EXPECT_EQ(DateKey("12/24/199", buffer), "12/24/199");
  EXPECT_EQ(DateKey("Open  ", buffer), "Open");
}

TEST(CreateTableStatementTest, ReadsTheFlagTableAndColumnTypes) {
  auto flag = ParseCreateTable(
      "CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT pk_ProjBugsVGLS "
      "PRIMARY KEY (FormID, RuleID))");
  ASSERT_TRUE(flag);
  EXPECT_EQ(flag->table, "BugsVGLS");
  ASSERT_EQ(flag->fields.size(), 2u);
  EXPECT_EQ(flag->fields[0], (DbfField{"FormID", 'N', 11, 0}));
  EXPECT_EQ(flag->key_name, "pk_ProjBugsVGLS");
  EXPECT_EQ(flag->primary_key, (std::vector<std::string>{"FormID", "RuleID"}));

  auto typed = ParseCreateTable(
      "create table \"C:\\d\\X.DBF\" ([FROM] CHAR(20) NOT NULL, Amount NUMERIC(8,2), "
      "Due DATE, Notes MEMO, Done BIT, Name VARCHAR)");
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->table, "C:\\d\\X.DBF");
  EXPECT_EQ(typed->fields[0], (DbfField{"FROM", 'C', 20, 0}));
  EXPECT_EQ(typed->fields[1], (DbfField{"Amount", 'N', 8, 2}));
  EXPECT_EQ(typed->fields[2].type, 'D');
  EXPECT_EQ(typed->fields[3].type, 'M');
  EXPECT_EQ(typed->fields[4].type, 'L');
  EXPECT_EQ(typed->fields[5], (DbfField{"Name", 'C', 254, 0}));
  EXPECT_TRUE(typed->primary_key.empty());

  EXPECT_FALSE(ParseCreateTable("SELECT 1"));
  EXPECT_THROW(ParseCreateTable("CREATE TABLE T (A INT, PRIMARY KEY (B))"), DbException);
  EXPECT_THROW(ParseCreateTable("CREATE TABLE T (A CHAR(300))"), DbException);
  EXPECT_THROW(ParseCreateTable("CREATE TABLE T (A INT"), DbException);
}

TEST(ConnectionStringTest, ReadsKeysAndRoutesTheDbaseDriver) {
  std::string dbase = "Driver={Microsoft dBase Driver (*.dbf)};DriverId=277;DefaultDir=/x/y;DSN=;";
  EXPECT_TRUE(NamesDbaseDriver(dbase));
  EXPECT_EQ(ConnectionStringValue(dbase, "defaultdir"), "/x/y");
  EXPECT_EQ(ConnectionStringValue(dbase, "DSN"), "");
  EXPECT_FALSE(ConnectionStringValue(dbase, "UID"));
  EXPECT_TRUE(NamesDbaseDriver("DSN=a;DRIVER={dBASE Files};DBQ=/x"));
  EXPECT_FALSE(NamesDbaseDriver("ODBC;DSN=BUGS;UID=sa;PWD=x;"));
  EXPECT_EQ(DriverConnectString("ODBC;DSN=BUGS;UID=sa;"), "DSN=BUGS;UID=sa;");
  EXPECT_EQ(ConnectionStringValue("PWD={a;b}}c};UID=u", "PWD"), "a;b}c");
  EXPECT_EQ(ConnectionStringValue("PWD={a;b}}c};UID=u", "UID"), "u");
}

TEST(DbfFileNamesTest, NamesAndQuotedFilesMapToPaths) {
  EXPECT_EQ(TablePath("/d", "Bugs"), "/d/Bugs.dbf");
  EXPECT_EQ(TablePath("/d/", "\\e\\Bugs.DBF"), "/e/Bugs.DBF");
  EXPECT_EQ(TablePath("/d", "sub\\Bugs.DBF"), "/d/sub/Bugs.DBF");
  EXPECT_EQ(TablePath("C:\\d", "Bugs"), "C:/d/Bugs.dbf");
}

}  // namespace
}  // namespace vigilo::sql
