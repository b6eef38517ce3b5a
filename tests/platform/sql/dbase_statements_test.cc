// The statement shapes the rule service runs on a dBase project, on files
// written by the xBase library, checking the rows and the files afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/format.h"
#include "platform/sql/dbase_sql_rewriter.h"
#include "tests/platform/sql/dbase_fixture.h"

namespace vigilo::test {
namespace {

using ::testing::Test;

// ------------------------------------------------------------ rule table

class RuleTableTest : public Test {
 protected:
  TempDir dir_;
  Database db_;
};

TEST_F(RuleTableTest, LoadQuerySkipsExcludedRulesAndTakesBlankReserved1AsNull) {
  // Written in upper case although the service names it Vigtab.
  Record excluded = {"7", "0", "", "Proj\\Bugs", "Notify", "User", "ann", "", "0", "1"};
  Record blank = {"2", "1", "BUGS", "Proj\\Bugs", "Update", "", "Status=Closed",
                  "(Status) is Open", "0", ""};
  Record zero = {"1", "1", "BUGS", "Proj\\Bugs", "Notify", "User", "ann,bob",
                 "FROM Bugs, ChHist WHERE (Status = 'Open')", "1", "0"};
  Record other_kind = {"9", "0", "", "Proj\\Bugs", "Notify", "Field", "Locker", "", "0", ""};
  WriteDbf(dir_.File("VIGTAB.DBF"), RuleTableFields(), {excluded, blank, zero, other_kind});
  db_.Open(DbaseConnectionString(dir_.path()), Database::kNoOdbcDialog);

  Recordset rs;
  rs.Open(db_, Format("SELECT * FROM %s WHERE (RESERVED1 <> '1') OR (RESERVED1 =NULL) "
                      "ORDER BY DBTYPE, DSN, DBTABLE, RULEID",
                      "Vigtab"));
  std::vector<long> ids;
  for (; !rs.IsEOF(); rs.MoveNext()) ids.push_back(rs.GetLong("RULEID"));
  EXPECT_EQ(ids, (std::vector<long>{9, 1, 2}));

  rs.Open(db_, "SELECT * FROM Vigtab WHERE (RESERVED1 <> '1') OR (RESERVED1 =NULL) "
               "ORDER BY DBTYPE, DSN, DBTABLE, RULEID");
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.GetText("DSN"), "");  // blank field: empty text, not padded
  rs.MoveNext();
  EXPECT_EQ(rs.GetText("VALUES"), "ann,bob");
  EXPECT_EQ(rs.GetText("COND"), "FROM Bugs, ChHist WHERE (Status = 'Open')");
  EXPECT_EQ(rs.GetText("DBTABLE"), "Proj\\Bugs");
  EXPECT_EQ(rs.GetLong("FLAG"), 1);
  EXPECT_EQ(rs.GetText("flag"), "1");
}

// -------------------------------------------------- selection statements

using SelectionTest = DbaseProjectTest;

struct SelectionCase {
  const char* statement;
  std::vector<Record> rows;
};

TEST_F(SelectionTest, ConditionsOfTheServiceSelectTheRightRecords) {
  db_.ExecuteSQL("CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT "
                 "pk_ProjBugsVGLS PRIMARY KEY (FormID, RuleID))");
  db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(3,5)");
  const SelectionCase cases[] = {
      // Padded literal of a text field of width 10 matches the stored "Open".
      {"SELECT DISTINCT Bugs.FormID FROM Bugs WHERE Bugs.FormID NOT IN (SELECT DISTINCT "
       "FormID FROM BugsVGLS WHERE RuleID =5) AND ((Status = 'Open    '))",
       {{"1"}}},
      {"SELECT DISTINCT Bugs.FormID FROM Bugs WHERE Bugs.FormID NOT IN (SELECT DISTINCT "
       "FormID FROM BugsVGLS WHERE RuleID =6) AND ((Status = 'Open    '))",
       {{"1"}, {"3"}}},
      {"SELECT DISTINCT Bugs.FormID FROM Bugs,ChHist WHERE Bugs.FormID =ChHist.FormID "
       "AND Bugs.FormID NOT IN (SELECT DISTINCT FormID FROM BugsVGLS WHERE RuleID =5) "
       "AND ((ChHist.ChngTo = 'Closed    ') OR (ChHist.ChngWhat like '%Prio%'))",
       {{"2"}}},
      {"SELECT FormID FROM Bugs WHERE (Title like '%total%') ORDER BY FormID", {{"3"}}},
      {"SELECT FormID FROM Bugs WHERE (Locker+'.' = '.') ORDER BY FormID", {{"2"}, {"3"}}},
      {"SELECT FormID FROM Bugs WHERE (DueDate > #02/01/1999#) ORDER BY FormID",
       {{"2"}, {"4"}}},
      {"SELECT FormID FROM Bugs WHERE (DueDate >= #01/31/1999# AND DueDate <= #02/15/1999#) "
       "ORDER BY FormID",
       {{"1"}, {"2"}}},
      {"SELECT FormID FROM Bugs WHERE (DueDate < DATE()) ORDER BY FormID",
       {{"1"}, {"2"}, {"4"}}},
      {"SELECT FormID FROM Bugs WHERE (Priority >= 2 AND Priority <= 3) ORDER BY FormID",
       {{"2"}, {"3"}}},
      {"SELECT FormID FROM Bugs WHERE (Status > 'F') AND (Status < 'P') ORDER BY FormID",
       {{"1"}, {"3"}, {"4"}}},
      {"SELECT FormID FROM Bugs WHERE (Title = \"Typo in help\")", {{"4"}}},
      {"SELECT FormID FROM Bugs WHERE (ATrail = 'created')", {{"1"}}},
      // The change-history date under the text rules: the user's short form.
      {"SELECT DISTINCT FormID FROM ChHist WHERE (ChngDate = '01/02/99    ')", {{"2"}}},
      {"SELECT FormID FROM ChHist WHERE (ChngDate > '01/03/1999') ORDER BY 1", {{"3"}, {"4"}}},
      {"SELECT FormID FROM ChHist WHERE (ChngDate = #01/05/1999#)", {{"4"}}},
      {"SELECT FormID FROM Bugs WHERE DueDate IS NULL", {{"3"}}},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(c.statement);
    try {
      EXPECT_EQ(QueryRows(db_, c.statement), c.rows);
    } catch (const DbException& e) {
      ADD_FAILURE() << e.Message();
    }
  }
}

// The rule selection's test of its flags is answered from the flag table's
// indexes; it keeps the records SQLite's own NOT IN keeps (written here so
// that it stays one), through a deleted flag, flags written after the
// indexes were built, and a NULL among the flags.
TEST_F(SelectionTest, FlagTestKeepsTheRecordsNotInKeeps) {
  db_.ExecuteSQL("CREATE TABLE BugsVGLS (FormID INT, RuleID INT)");
  const std::string test = "Bugs.FormID NOT IN (SELECT DISTINCT FormID FROM BugsVGLS WHERE RuleID =5)";
  const std::string looked_up = "SELECT FormID FROM Bugs WHERE " + test + " ORDER BY FormID";
  const std::string listed = "SELECT FormID FROM Bugs WHERE (" + test.substr(0, 11) + ")" +
                             test.substr(11) + " ORDER BY FormID";
  ASSERT_NE(sql::RewriteDbaseSql(looked_up).find("vg_not_listed"), std::string::npos);
  ASSERT_EQ(sql::RewriteDbaseSql(listed).find("vg_not_listed"), std::string::npos);
  for (const char* step : {"INSERT INTO BugsVGLS(FormID,RuleID) VALUES(1,6)",
                           "INSERT INTO BugsVGLS(FormID,RuleID) VALUES(2,5)",
                           "INSERT INTO BugsVGLS(FormID,RuleID) VALUES(3,5)",
                           "DELETE FROM BugsVGLS WHERE FormID = 3",
                           "INSERT INTO BugsVGLS(FormID,RuleID) VALUES(NULL,5)"}) {
    db_.ExecuteSQL(step);
    EXPECT_EQ(QueryRows(db_, looked_up), QueryRows(db_, listed)) << step;
    if (std::string(step).find("DELETE") == 0) {
      EXPECT_EQ(QueryRows(db_, looked_up), (std::vector<Record>{{"1"}, {"3"}, {"4"}}));
      // Answered by the look-up, not by the NOT IN it falls back on.
      EXPECT_EQ(QueryRows(db_, "SELECT vg_not_listed(2, 'BugsVGLS', 'FormID', 'RuleID', 5)"),
                std::vector<Record>{{"0"}});
    }
  }
  EXPECT_EQ(QueryRows(db_, looked_up), std::vector<Record>{});
  EXPECT_EQ(QueryRows(db_, "SELECT vg_not_listed(2, 'Bugs', 'Status', 'FormID', 5)"),
            std::vector<Record>{{"2"}});
}

// The in-process engine of the rule manager: one UPDATE per rule with the
// selection as inner query, and records read with "table.*" in key order.
TEST_F(SelectionTest, InProcessEngineShapesRun) {
  std::string inner =
      "SELECT DISTINCT Bugs.FormID FROM Bugs WHERE ((Status = 'Open    ')) AND "
      "(Bugs.Priority <> 7)";
  EXPECT_EQ(db_.ExecuteSQL(Format("UPDATE %s SET %s WHERE %s.FormID IN (%s)", "Bugs",
                                  "Bugs.Priority = 7", "Bugs", inner.c_str())),
            2);
  EXPECT_EQ(db_.ExecuteSQL(Format("UPDATE %s SET %s WHERE %s.FormID IN (%s)", "Bugs",
                                  "Bugs.Priority = 7", "Bugs", inner.c_str())),
            0);
  EXPECT_EQ(QueryRows(db_, Format("select %s.* from %s where (%s AND (%s.FormID = "
                                  "%s.FormID)) ORDER BY %s.FormID",
                                  "Bugs", "Bugs,ChHist", "(ChHist.ChngWhat = 'Status')",
                                  "Bugs", "ChHist", "Bugs")),
            (std::vector<Record>{
                {"1", "Crash on start", "Open", "7", "1999-01-31", "created", "ann"},
                {"2", "Slow report", "Closed", "3", "1999-02-15", "", ""},
                {"4", "Typo in help", "Fixed", "5", "2001-01-01", "", "bob"}}));
  // A condition in the SQL form: its own FROM list with a comma and blank.
  EXPECT_EQ(QueryRows(db_, "SELECT DISTINCT Bugs.FormID FROM Bugs, ChHist WHERE "
                           "Bugs.FormID NOT IN (SELECT DISTINCT FormID FROM Bugs WHERE "
                           "FormID > 3) AND ((Bugs.FormID = ChHist.FormID AND "
                           "ChHist.ChngBy = 'bob'))"),
            (std::vector<Record>{{"2"}}));
}

// ------------------------------------------------------------ flag table

using FlagTableTest = DbaseProjectTest;

TEST_F(FlagTableTest, IsCreatedWhenMissingAndEnforcesItsPrimaryKey) {
  EXPECT_THROW(db_.ExecuteSQL("SELECT FormID FROM BugsVGLS"), DbException);
  db_.ExecuteSQL("CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT "
                 "pk_ProjBugsVGLS PRIMARY KEY (FormID, RuleID))");
  db_.ExecuteSQL("SELECT FormID FROM BugsVGLS");
  EXPECT_EQ(db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(1,5)"), 1);
  db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(1,6)");
  try {
    db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(1,5)");
    ADD_FAILURE() << "duplicate inserted";
  } catch (const DbException& e) {
    EXPECT_NE(e.Message().find("pk_ProjBugsVGLS"), std::string::npos);
    EXPECT_EQ(e.Message().back(), '\n');
    EXPECT_EQ(e.SqlState(), "23000");
  }
  // The key holds for a later connection too.
  Database again;
  again.Open(DbaseConnectionString(Dir()), Database::kNoOdbcDialog);
  EXPECT_THROW(again.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(1,6)"),
               DbException);
  // The file is a dBase table with numeric fields, read by the xBase library.
  auto table = DbfTable::Open(dir_.File("BugsVGLS.dbf"), false);
  ASSERT_EQ(table->FieldCount(), 2);
  EXPECT_EQ(table->Field(0).type, 'N');
  EXPECT_EQ(ReadDbf(dir_.File("BugsVGLS.dbf")), (std::vector<Record>{{"1", "5"}, {"1", "6"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT DISTINCT FormID FROM BugsVGLS WHERE RuleID =6"),
            (std::vector<Record>{{"1"}}));
}

TEST_F(FlagTableTest, RowsAppendedAfterAnEqualityLookUpAreFoundByTheNextOne) {
  db_.ExecuteSQL("CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT "
                 "pk_ProjBugsVGLS PRIMARY KEY (FormID, RuleID))");
  for (int id = 1; id <= 40; ++id) {
    db_.ExecuteSQL(Format("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(%d,1)", id));
  }
  // The look-up builds the FormID index; the rows appended next are not in it.
  EXPECT_EQ(QueryRows(db_, "SELECT RuleID FROM BugsVGLS WHERE FormID =7"),
            (std::vector<Record>{{"1"}}));
  db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(7,2)");
  db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(41,1)");
  EXPECT_EQ(QueryRows(db_, "SELECT RuleID FROM BugsVGLS WHERE FormID =7 ORDER BY RuleID"),
            (std::vector<Record>{{"1"}, {"2"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT RuleID FROM BugsVGLS WHERE FormID =41"),
            (std::vector<Record>{{"1"}}));
  EXPECT_TRUE(QueryRows(db_, "SELECT RuleID FROM BugsVGLS WHERE FormID =42").empty());
  db_.ExecuteSQL("DELETE FROM BugsVGLS WHERE FormID =41");
  EXPECT_TRUE(QueryRows(db_, "SELECT RuleID FROM BugsVGLS WHERE FormID =41").empty());
  EXPECT_EQ(db_.ExecuteSQL("UPDATE BugsVGLS SET RuleID = 3 WHERE FormID =7 AND RuleID =2"), 1);
  EXPECT_EQ(QueryRows(db_, "SELECT RuleID FROM BugsVGLS WHERE FormID =7 ORDER BY RuleID"),
            (std::vector<Record>{{"1"}, {"3"}}));
}

TEST_F(FlagTableTest, StaleFlagsOfRecordsThatNoLongerMatchAreDeleted) {
  db_.ExecuteSQL("CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT "
                 "pk_ProjBugsVGLS PRIMARY KEY (FormID, RuleID))");
  for (int id : {1, 2, 3}) {
    db_.ExecuteSQL(Format("INSERT INTO %s(FormID,RuleID) VALUES(%d,%d)", "BugsVGLS", id, 5));
    db_.ExecuteSQL(Format("INSERT INTO %s(FormID,RuleID) VALUES(%d,%d)", "BugsVGLS", id, 6));
  }
  // Rule 5 without change history: record 2 (Closed) no longer matches.
  EXPECT_EQ(db_.ExecuteSQL(Format(
                "DELETE FROM %s WHERE FormID NOT IN (SELECT DISTINCT %s.FormID FROM %s "
                "WHERE %s) AND RuleID =%ld",
                "BugsVGLS", "Bugs", "Bugs", "(Status = 'Open    ')", 5L)),
            1);
  // Rule 6 with change history: only record 2 has a change to Closed.
  db_.ExecuteSQL(Format(
      "DELETE FROM %s WHERE FormID NOT IN (SELECT DISTINCT %s.FormID FROM %s WHERE "
      "%s.FormID =%s.FormID AND %s) AND RuleID =%ld",
      "BugsVGLS", "Bugs", "Bugs,ChHist", "Bugs", "ChHist", "(ChHist.ChngTo = 'Closed')", 6L));
  EXPECT_EQ(ReadDbf(dir_.File("BugsVGLS.dbf")),
            (std::vector<Record>{{"1", "5"}, {"2", "6"}, {"3", "5"}}));
  // A delete that removes nothing is no error.
  EXPECT_EQ(db_.ExecuteSQL("DELETE FROM BugsVGLS WHERE FormID NOT IN (SELECT DISTINCT "
                           "Bugs.FormID FROM Bugs WHERE (Priority > 0)) AND RuleID =5"),
            0);
}

// A table with its own directory (a "Table DSN" entry): every table item is
// the quoted file name with its alias, the flag table created and filled
// through the file form.
TEST_F(FlagTableTest, TableInItsOwnDirectoryWorksThroughQuotedFileNames) {
  TempDir own;
  std::filesystem::rename(dir_.File("Bugs.dbf"), own.File("BUGS.DBF"));
  std::filesystem::rename(dir_.File("ChHist.dbf"), own.File("ChHist.DBF"));
  std::string d = own.path();
  std::string tr = Format("\"%s\\%s.DBF\" AS %s", d.c_str(), "Bugs", "Bugs");
  std::string hr = Format("\"%s\\%s.DBF\" AS %s", d.c_str(), "ChHist", "ChHist");
  std::string fr = Format("\"%s\\%s.DBF\" AS %s", d.c_str(), "BugsVGLS", "BugsVGLS");
  std::string file_form = Format("\"%s\\%s.DBF\"", d.c_str(), "BugsVGLS");

  EXPECT_THROW(db_.ExecuteSQL(Format("SELECT FormID FROM %s", fr.c_str())), DbException);
  db_.ExecuteSQL(Format("CREATE TABLE %s (FormID INT, RuleID INT, CONSTRAINT pk_%s%s "
                        "PRIMARY KEY (FormID, RuleID))",
                        file_form.c_str(), "Proj", "BugsVGLS"));
  EXPECT_TRUE(std::filesystem::exists(own.File("BugsVGLS.DBF")));
  db_.ExecuteSQL(Format("SELECT FormID FROM %s", fr.c_str()));

  std::string from_list = tr + "," + hr;
  std::string flag_select = Format("SELECT DISTINCT FormID FROM %s WHERE RuleID =%ld",
                                   fr.c_str(), 5L);
  std::string selection = Format(
      "SELECT DISTINCT %s.FormID FROM %s WHERE %s.FormID =%s.FormID AND ", "Bugs",
      from_list.c_str(), "Bugs", "ChHist") +
      Format("%s.FormID NOT IN (%s) AND (%s)", "Bugs", flag_select.c_str(),
             "(ChHist.ChngWhat = 'Status    ')");
  EXPECT_EQ(QueryRows(db_, selection),
            (std::vector<Record>{{"1"}, {"2"}, {"4"}}));
  for (int id : {1, 2, 4}) {
    db_.ExecuteSQL(Format("INSERT INTO %s(FormID,RuleID) VALUES(%d,%d)", file_form.c_str(),
                          id, 5));
  }
  EXPECT_TRUE(QueryRows(db_, selection).empty());
  db_.ExecuteSQL(Format(
      "DELETE FROM %s WHERE FormID NOT IN (SELECT DISTINCT %s.FormID FROM %s WHERE "
      "%s.FormID =%s.FormID AND %s) AND RuleID =%ld",
      fr.c_str(), "Bugs", from_list.c_str(), "Bugs", "ChHist",
      "(ChHist.ChngTo = 'Closed')", 5L));
  EXPECT_EQ(ReadDbf(own.File("BugsVGLS.DBF")), (std::vector<Record>{{"2", "5"}}));
}

// ---------------------------------------------------------------- update

using UpdateTest = DbaseProjectTest;

TEST_F(UpdateTest, SetListOfQualifiedColumnsWritesThroughToTheFile) {
  std::string tmpl = Format("UPDATE %s SET %s WHERE FormID = %%ld", "Bugs",
                            "Bugs.Priority = 4,Bugs.Status = 'Verified',"
                            "Bugs.DueDate = #12/24/2001#");
  EXPECT_EQ(db_.ExecuteSQL(Format(tmpl.c_str(), 3L)), 1);
  db_.ExecuteSQL("UPDATE Bugs SET Bugs.DueDate = DATE() WHERE FormID = 2");
  db_.ExecuteSQL("UPDATE Bugs SET Bugs.Status = 'x' WHERE FormID = 99");  // no row

  auto rows = ReadDbf(dir_.File("Bugs.dbf"));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[2][2], "Verified");
  EXPECT_EQ(rows[2][3], "4");
  EXPECT_EQ(rows[2][4], "20011224");
  EXPECT_EQ(rows[0][5], "created");  // untouched memo of another record
  std::time_t now = std::time(nullptr);
  char today[16];
  std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
  EXPECT_EQ(rows[1][4], today);
  // The same connection reads what it wrote.
  EXPECT_EQ(QueryRows(db_, "SELECT Status, DueDate FROM Bugs WHERE FormID =3"),
            (std::vector<Record>{{"Verified", "2001-12-24"}}));
}

TEST_F(UpdateTest, UpdatingOtherFieldsKeepsTheMemoAndItsFileSize) {
  auto dbt_size = [&] { return std::filesystem::file_size(dir_.File("Bugs.dbt")); };
  auto before = dbt_size();
  db_.ExecuteSQL("UPDATE Bugs SET Bugs.Status = 'Closed' WHERE FormID = 1");
  EXPECT_EQ(dbt_size(), before);
  EXPECT_EQ(QueryRows(db_, "SELECT ATrail, Status FROM Bugs WHERE FormID =1"),
            (std::vector<Record>{{"created", "Closed"}}));
}

TEST_F(UpdateTest, AValueTheFieldCannotHoldFailsWithAMessage) {
  EXPECT_THROW(db_.ExecuteSQL("UPDATE Bugs SET Bugs.DueDate = #02/30/2001# WHERE FormID = 1"),
               DbException);
  EXPECT_THROW(db_.ExecuteSQL("UPDATE Bugs SET Bugs.Priority = 123456 WHERE FormID = 1"),
               DbException);
  EXPECT_EQ(ReadDbf(dir_.File("Bugs.dbf"))[0][3], "1");
  // A refused insert leaves nothing behind, not even for the next write.
  EXPECT_THROW(db_.ExecuteSQL("INSERT INTO Bugs (FormID, Priority, ATrail) "
                              "VALUES (8, 123456, 'lost')"),
               DbException);
  db_.ExecuteSQL("UPDATE Bugs SET Bugs.Title = 'Renamed' WHERE FormID = 4");
  db_.ExecuteSQL("INSERT INTO Bugs (FormID, Title) VALUES (9, 'Kept')");
  auto rows = ReadDbf(dir_.File("Bugs.dbf"));
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[3][1], "Renamed");
  EXPECT_EQ(rows[3][5], "");
  EXPECT_EQ(rows[4][0], "9");
  EXPECT_EQ(rows[4][5], "");
}

// ------------------------------------------------------------- retrieval

using RetrievalTest = DbaseProjectTest;

TEST_F(RetrievalTest, ReportColumnsComeWithTheWholeMemo) {
  std::string long_trail(9000, 'a');
  long_trail += "\r\nend";
  {
    auto table = DbfTable::Open(dir_.File("Bugs.dbf"), true);
    ASSERT_TRUE(table->Read(3));
    table->AssignText(5, long_trail);
    table->Update();
    table->Close();
  }
  Recordset rs;
  rs.Open(db_, Format("SELECT %s FROM %s WHERE FormID =%ld", "FormID, ATrail,Title,Status",
                      "Bugs", 3L));
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.GetText("FormID"), "3");
  EXPECT_EQ(rs.GetText("ATrail"), long_trail);
  EXPECT_EQ(rs.GetText("title"), "Wrong total");
  EXPECT_EQ(rs.GetText("Status"), "Open");
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_THROW(rs.GetText(0), DbException);
}

TEST_F(RetrievalTest, NulBytesInAMemoReadAsBlanks) {
  {
    auto table = DbfTable::Open(dir_.File("Bugs.dbf"), true);
    ASSERT_TRUE(table->Read(3));
    table->AssignText(5, std::string("before\0after\0", 13));
    table->Update();
    table->Close();
  }
  EXPECT_EQ(QueryRows(db_, "SELECT ATrail FROM Bugs WHERE FormID = 3"),
            (std::vector<Record>{{"before after "}}));
}

// --------------------------------------------------- internal mail table

class InternalMailTest : public Test {
 protected:
  void SetUp() override {
    WriteDbf(dir_.File("ORVKPOST.dbf"), PostFields(),
             {{"ORVIK", "ann", "01/01/1999", "0", "", "7", "Bugs.DBF", "old"}});
    db_.Open(DbaseConnectionString(dir_.path()), Database::kNoOdbcDialog);
  }
  bool Exists(long bugnum, const char* to) {
    Recordset rs;
    rs.Open(db_, Format("SELECT * FROM %s WHERE BUGNUM =%d AND TO ='%s'", "ORVKPOST",
                        static_cast<int>(bugnum), to));
    return !rs.IsEOF();
  }
  TempDir dir_;
  Database db_;
};

TEST_F(InternalMailTest, LookUpInsertAndUpdateWithBracketedColumns) {
  EXPECT_TRUE(Exists(7, "ann"));
  EXPECT_FALSE(Exists(42, "ann"));
  db_.ExecuteSQL(Format(
      "INSERT INTO %s ([FROM], [TO], [DATE], ISNEW, STATUS, BUGNUM, [DBNAME], MESSAGE) "
      "VALUES ('%s', '%s', '%s',%d,'*',%d,'%s','%s')",
      "ORVKPOST", "VIGILO", "ann", "12/08/2026", 1, 42, "Bugs.DBF", ""));
  EXPECT_TRUE(Exists(42, "ann"));
  EXPECT_EQ(db_.ExecuteSQL(Format(
                "UPDATE %s SET [FROM] ='%s', [DATE] ='%s', ISNEW =%d, STATUS ='*', "
                "[DBNAME] ='%s', MESSAGE ='%s' WHERE BUGNUM =%d AND TO ='%s'",
                "ORVKPOST", "VIGILO", "12/09/2026", 1, "Bugs.DBF", "", 7, "ann")),
            1);
  EXPECT_EQ(ReadDbf(dir_.File("ORVKPOST.dbf")),
            (std::vector<Record>{
                {"VIGILO", "ann", "12/09/2026", "1", "*", "7", "Bugs.DBF", ""},
                {"VIGILO", "ann", "12/08/2026", "1", "*", "42", "Bugs.DBF", ""}}));
}

// ---------------------------------------------------------------- sharing

using SharingTest = DbaseProjectTest;

TEST_F(SharingTest, ChangesByAnotherWriterAreSeenByTheNextStatement) {
  EXPECT_EQ(QueryRows(db_, "SELECT COUNT(*) FROM Bugs WHERE Status = 'Open'"),
            (std::vector<Record>{{"2"}}));
  {
    auto table = DbfTable::Open(dir_.File("Bugs.dbf"), true);
    table->AppendStart();
    table->AssignText(0, "5");
    table->AssignText(2, "Open");
    table->AppendWrite();
    ASSERT_TRUE(table->Read(1));
    table->DeleteRecord();
    table->Close();
  }
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM Bugs WHERE Status = 'Open' ORDER BY 1"),
            (std::vector<Record>{{"3"}, {"5"}}));
}

TEST_F(SharingTest, DeletedRecordsAreNeitherReadNorJoined) {
  db_.ExecuteSQL("DELETE FROM ChHist WHERE FormID = 2");
  EXPECT_EQ(QueryRows(db_, "SELECT DISTINCT Bugs.FormID FROM Bugs,ChHist WHERE "
                           "Bugs.FormID =ChHist.FormID ORDER BY 1"),
            (std::vector<Record>{{"1"}, {"3"}, {"4"}}));
  EXPECT_EQ(ReadDbf(dir_.File("ChHist.dbf")).size(), 3u);
}

// ----------------------------------------------------------------- errors

TEST(DbaseErrorTest, MissingDirectoryTableAndBadSyntaxRaiseWithTheEngineMessage) {
  Database db;
  EXPECT_THROW(db.Open(DbaseConnectionString("/nonexistent/vigilo"), 0), DbException);
  EXPECT_FALSE(db.IsOpen());
  TempDir dir;
  // Whatever else the connection string holds, the dBase driver routes here.
  db.Open("ODBC;DSN=nothing;Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=" +
              dir.path() + ";UID=x;",
          Database::kNoOdbcDialog);
  EXPECT_TRUE(db.IsDbase());
  try {
    db.ExecuteSQL("SELECT * FROM Missing");
    ADD_FAILURE();
  } catch (const DbException& e) {
    EXPECT_NE(e.Message().find("no such table: Missing"), std::string::npos);
    EXPECT_EQ(e.Message().back(), '\n');
  }
  try {
    db.ExecuteSQL("SELEC 1");
    ADD_FAILURE();
  } catch (const DbException& e) {
    EXPECT_NE(e.Message().find("syntax error"), std::string::npos) << e.Message();
  }
  EXPECT_THROW(db.ExecuteSQL("CREATE TABLE T (A BLOB)"), DbException);
  {
    std::ofstream bad(dir.File("Bad.dbf"));
    bad << "not a table";
  }
  try {
    db.ExecuteSQL("SELECT * FROM Bad");
    ADD_FAILURE();
  } catch (const DbException& e) {
    EXPECT_NE(e.Message().find("Bad.dbf"), std::string::npos) << e.Message();
  }
  db.ExecuteSQL("CREATE TABLE T (A INT PRIMARY KEY, B CHAR(5))");
  EXPECT_THROW(db.ExecuteSQL("CREATE TABLE t (A INT)"), DbException);  // exists as T.dbf
  EXPECT_THROW(db.ExecuteSQL("INSERT INTO T (A) VALUES (1); DELETE FROM T"), DbException);
  EXPECT_TRUE(QueryRows(db, "SELECT A FROM T;").empty());
}

}  // namespace
}  // namespace vigilo::test

namespace vigilo::test {
namespace {

TEST_F(UpdateTest, MemoAndDateWrittenBySqlAreReadByTheLibrary) {
  std::string trail(5000, 'm');
  db_.ExecuteSQL("UPDATE Bugs SET Bugs.ATrail = '" + trail + "', Bugs.DueDate = NULL "
                 "WHERE FormID = 2");
  db_.ExecuteSQL("INSERT INTO Bugs (FormID, Title, DueDate, ATrail) "
                 "VALUES (9, 'New', #03/04/2005#, 'first line')");
  auto rows = ReadDbf(dir_.File("Bugs.dbf"));
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1][5], trail);
  EXPECT_EQ(rows[1][4], "");
  EXPECT_EQ(rows[4][0], "9");
  EXPECT_EQ(rows[4][2], "");  // a blank character field
  EXPECT_EQ(rows[4][4], "20050304");
  EXPECT_EQ(rows[4][5], "first line");
  EXPECT_EQ(QueryRows(db_, "SELECT Status, Priority FROM Bugs WHERE FormID = 9"),
            (std::vector<Record>{{"", ""}}));
  Recordset rs;
  rs.Open(db_, "SELECT Status, Priority, DueDate FROM Bugs WHERE FormID = 9");
  EXPECT_FALSE(rs.IsNull(0));  // blank text is "", not NULL
  EXPECT_TRUE(rs.IsNull(1));   // blank number is NULL
  EXPECT_EQ(rs.GetLong(1), 0);
}

TEST_F(SharingTest, LookupsStayRightAcrossUpdatesAndDeletes) {
  auto ids = [&](const std::string& where) {
    return QueryRows(db_, "SELECT FormID FROM Bugs WHERE " + where + " ORDER BY FormID");
  };
  EXPECT_EQ(ids("Status = 'Closed'"), (std::vector<Record>{{"2"}}));  // builds indexes
  EXPECT_EQ(ids("FormID = 1"), (std::vector<Record>{{"1"}}));
  for (int round = 0; round < 3; ++round) {
    db_.ExecuteSQL("UPDATE Bugs SET Bugs.Status = 'Closed' WHERE FormID = 1");
    db_.ExecuteSQL("UPDATE Bugs SET Bugs.Status = 'Open' WHERE FormID = 1");
  }
  db_.ExecuteSQL("UPDATE Bugs SET Bugs.Status = 'Closed' WHERE FormID = 1");
  EXPECT_EQ(ids("Status = 'Closed'"), (std::vector<Record>{{"1"}, {"2"}}));
  EXPECT_EQ(ids("Status = 'Open'"), (std::vector<Record>{{"3"}}));
  db_.ExecuteSQL("DELETE FROM Bugs WHERE FormID = 2");
  EXPECT_EQ(ids("Status = 'Closed'"), (std::vector<Record>{{"1"}}));
  db_.ExecuteSQL("INSERT INTO Bugs (FormID, Status) VALUES (2, 'Closed')");
  EXPECT_EQ(ids("Status = 'Closed'"), (std::vector<Record>{{"1"}, {"2"}}));
  EXPECT_EQ(ids("FormID = 2"), (std::vector<Record>{{"2"}}));
}

// A join on FormID under a constant on the history serves the history from
// an index over the rows holding the constant: it must follow the
// constant's column and the key's column through updates and appends.
TEST_F(SharingTest, JoinUnderAConstantStaysRightAcrossWritesToEitherColumn) {
  auto ids = [&](const std::string& to) {
    return QueryRows(db_, "SELECT DISTINCT Bugs.FormID FROM Bugs CROSS JOIN ChHist WHERE Bugs.FormID = "
                          "ChHist.FormID AND ChHist.ChngTo = '" + to + "' ORDER BY 1");
  };
  EXPECT_EQ(ids("Closed"), (std::vector<Record>{{"2"}}));
  EXPECT_EQ(ids("Closed   "), (std::vector<Record>{{"2"}}));  // blank-insensitive
  EXPECT_EQ(ids("Nobody"), (std::vector<Record>{}));
  db_.ExecuteSQL("UPDATE ChHist SET ChngTo = 'Closed' WHERE ChngTo = 'Fixed'");
  EXPECT_EQ(ids("Closed"), (std::vector<Record>{{"2"}, {"4"}}));
  db_.ExecuteSQL("UPDATE ChHist SET FormID = 3 WHERE ChngTo = 'Closed' AND FormID = 2");
  EXPECT_EQ(ids("Closed"), (std::vector<Record>{{"3"}, {"4"}}));
  db_.ExecuteSQL("INSERT INTO ChHist (FormID, ChngTo) VALUES (1, 'Closed')");
  EXPECT_EQ(ids("Closed"), (std::vector<Record>{{"1"}, {"3"}, {"4"}}));
  db_.ExecuteSQL("DELETE FROM ChHist WHERE FormID = 4");
  EXPECT_EQ(ids("Closed"), (std::vector<Record>{{"1"}, {"3"}}));
}

TEST_F(SharingTest, AResultOutlivesItsClosedDatabase) {
  Recordset rs;
  rs.Open(db_, "SELECT FormID FROM Bugs ORDER BY FormID");
  db_.Close();
  EXPECT_FALSE(db_.IsOpen());
  ASSERT_FALSE(rs.IsEOF());
  rs.MoveNext();
  EXPECT_EQ(rs.GetLong(0), 2);
  EXPECT_THROW(db_.ExecuteSQL("SELECT 1"), DbException);
}

// Files written by another dBase tool (GDAL's ogr2ogr) are read, and files
// written here are read by it.
TEST(DbaseInteropTest, FilesOfAnIndependentToolAreReadAndWritten) {
  if (std::system("command -v ogr2ogr >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ogr2ogr is not installed";
  }
  TempDir dir;
  {
    std::ofstream csv(dir.File("src.csv"));
    csv << "FormID,Status,Title\n1,Open,First one\n2,Closed,Second\n3,Open,\n";
  }
  std::string convert = "ogr2ogr -f 'ESRI Shapefile' -lco ENCODING= " + dir.File("Ext.dbf") +
                        " " + dir.File("src.csv") +
                        " -oo AUTODETECT_TYPE=YES >/dev/null 2>&1";
  ASSERT_EQ(std::system(convert.c_str()), 0);
  Database db;
  db.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  EXPECT_EQ(QueryRows(db, "SELECT FormID, Title FROM Ext WHERE (Status = 'Open    ') "
                          "ORDER BY FormID"),
            (std::vector<Record>{{"1", "First one"}, {"3", ""}}));
  db.ExecuteSQL("UPDATE Ext SET Ext.Status = 'Fixed' WHERE FormID = 3");
  db.ExecuteSQL("CREATE TABLE ExtVGLS (FormID INT, RuleID INT, CONSTRAINT pk_PExtVGLS "
                "PRIMARY KEY (FormID, RuleID))");
  db.ExecuteSQL("INSERT INTO ExtVGLS(FormID,RuleID) VALUES(3,12)");
  db.Close();
  auto info = [&](const std::string& file) {
    std::string command = "ogrinfo -al -q " + dir.File(file) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
    if (pipe) pclose(pipe);
    return out;
  };
  std::string ext = info("Ext.dbf");
  EXPECT_NE(ext.find("Status (String) = Fixed"), std::string::npos) << ext;
  std::string flags = info("ExtVGLS.dbf");
  EXPECT_NE(flags.find("FormID (Integer"), std::string::npos) << flags;
  EXPECT_NE(flags.find("= 12"), std::string::npos) << flags;
}

// ------------------------------------------------------------- stopping

TEST(StopCheckTest, AStatementStopsWhileScanningAndRunsAgainWithoutTheCheck) {
  TempDir dir;
  std::vector<Record> records;
  for (int id = 1; id <= 3000; ++id) {
    records.push_back({std::to_string(id), "Bug", "Open", "1", "", "", ""});
  }
  WriteDbf(dir.File("Big.dbf"), BugsFields(), records);
  Database db;
  db.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  // No row meets the condition: only the engine can stop the scan.
  const std::string statement = "SELECT FormID FROM Big WHERE Priority > 5";
  int checks = 0;
  db.SetStopCheck([&checks] { return ++checks >= 2; });
  Recordset rows;
  EXPECT_THROW(rows.Open(db, statement), DbException);
  EXPECT_EQ(checks, 2);

  db.SetStopCheck(nullptr);
  rows.Open(db, statement);
  EXPECT_TRUE(rows.IsEOF());
  rows.Open(db, "SELECT COUNT(*) FROM Big");
  EXPECT_EQ(rows.GetLong(0), 3000);
}

}  // namespace
}  // namespace vigilo::test
