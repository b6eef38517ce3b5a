// Equality look-ups of the embedded dBase engine on tables that grow: rows
// appended after a column's index was built (by the engine's own inserts or
// by another program) are found by the next look-up, under the values they
// have now, together with the rows the index holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/format.h"
#include "tests/platform/sql/dbase_fixture.h"

namespace vigilo::test {
namespace {

// A table of n records, FormID 1 to n, every third one closed.
std::vector<Record> NumberedRecords(int n) {
  std::vector<Record> records;
  for (int id = 1; id <= n; ++id) {
    records.push_back({std::to_string(id), "Title " + std::to_string(id),
                       id % 3 == 0 ? "Closed" : "Open", "1", "", "", ""});
  }
  return records;
}

class AppendedRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteDbf(dir_.File("Bugs.dbf"), BugsFields(), NumberedRecords(600));
    db_.Open(DbaseConnectionString(dir_.path()), Database::kNoOdbcDialog);
    // Builds the indexes of both columns before anything is appended.
    ASSERT_EQ(Closed(), "200");
    ASSERT_EQ(Titles("5"), (std::vector<Record>{{"Title 5"}}));
  }
  std::string Closed() {
    return QueryRows(db_, "SELECT COUNT(*) FROM Bugs WHERE Status = 'Closed'").at(0).at(0);
  }
  // The titles of the records with the FormID, found by a constant and, the
  // same, through a join on the index.
  std::vector<Record> Titles(const std::string& form_id) {
    std::vector<Record> direct = QueryRows(
        db_, "SELECT Title FROM Bugs WHERE FormID = " + form_id + " ORDER BY 1");
    EXPECT_EQ(QueryRows(db_, "SELECT b.Title FROM (SELECT " + form_id +
                                 " AS v) AS x, Bugs AS b WHERE b.FormID = x.v ORDER BY 1"),
              direct);
    return direct;
  }

  TempDir dir_;
  Database db_;
};

TEST_F(AppendedRowsTest, InsertedRowsAreFoundWithTheIndexedOnesUnderTheirCurrentValues) {
  db_.ExecuteSQL("INSERT INTO Bugs (FormID, Title, Status) VALUES (601, 'New one', 'Closed')");
  db_.ExecuteSQL("INSERT INTO Bugs (FormID, Title, Status) VALUES (5, 'Again 5', 'Open')");
  db_.ExecuteSQL("INSERT INTO Bugs (FormID, Title, Status) VALUES (99999, 'Far', 'Unseen')");
  EXPECT_EQ(Closed(), "201");
  EXPECT_EQ(Titles("5"), (std::vector<Record>{{"Again 5"}, {"Title 5"}}));
  EXPECT_EQ(Titles("601"), (std::vector<Record>{{"New one"}}));
  EXPECT_EQ(Titles("99999"), (std::vector<Record>{{"Far"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM Bugs WHERE Status = 'Unseen'"),
            (std::vector<Record>{{"99999"}}));
  EXPECT_EQ(Titles("602"), (std::vector<Record>{}));

  // Appended rows deleted and updated: gone, and found under the new value
  // only.
  db_.ExecuteSQL("DELETE FROM Bugs WHERE FormID = 601");
  db_.ExecuteSQL("UPDATE Bugs SET Status = 'Closed' WHERE FormID = 99999");
  EXPECT_EQ(Closed(), "201");
  EXPECT_EQ(Titles("601"), (std::vector<Record>{}));
  EXPECT_EQ(QueryRows(db_, "SELECT COUNT(*) FROM Bugs WHERE Status = 'Unseen'"),
            (std::vector<Record>{{"0"}}));
}

TEST_F(AppendedRowsTest, ALongRunOfInsertsKeepsEveryRowFindable) {
  // More rows than an index leaves unindexed before it is built again.
  for (int id = 601; id <= 2400; ++id) {
    db_.ExecuteSQL(Format("INSERT INTO Bugs (FormID, Title, Status) VALUES (%d, 'Title %d', "
                          "'%s')", id, id, id % 3 == 0 ? "Closed" : "Open"));
    if (id % 450 == 0) {
      ASSERT_EQ(Titles(std::to_string(id)), (std::vector<Record>{{Format("Title %d", id)}}));
    }
  }
  EXPECT_EQ(Closed(), "800");
  EXPECT_EQ(Titles("7"), (std::vector<Record>{{"Title 7"}}));
  EXPECT_EQ(Titles("2400"), (std::vector<Record>{{"Title 2400"}}));
}

TEST_F(AppendedRowsTest, AJoinProbingTheIndexFindsTheAppendedRowsAcrossARebuild) {
  for (int id = 1; id <= 100; ++id) {
    db_.ExecuteSQL(Format("INSERT INTO Bugs (FormID, Title) VALUES (%d, 'Again')", id));
  }
  // One probe per outer row; the index is built again on the way, once its
  // tail has been read often enough.
  const std::string join =
      "WITH RECURSIVE n(v) AS (SELECT 1 UNION ALL SELECT v + 1 FROM n WHERE v < 600) "
      "SELECT COUNT(*), SUM(b.Title = 'Again') FROM n, Bugs AS b WHERE b.FormID = n.v";
  EXPECT_EQ(QueryRows(db_, join), (std::vector<Record>{{"700", "100"}}));
  EXPECT_EQ(QueryRows(db_, join), (std::vector<Record>{{"700", "100"}}));
}

TEST_F(AppendedRowsTest, RowsAnotherProgramAppendsOrRewritesAreFoundByTheNextStatement) {
  db_.ExecuteSQL("INSERT INTO Bugs (FormID, Title, Status) VALUES (601, 'Engine', 'Open')");
  ASSERT_EQ(Titles("601"), (std::vector<Record>{{"Engine"}}));
  {
    auto table = DbfTable::Open(dir_.File("Bugs.dbf"), true);
    table->AppendStart();
    table->AssignText(0, "602");
    table->AssignText(1, "Outside");
    table->AssignText(2, "Closed");
    table->AppendWrite();
    // A record the index holds and one in its tail, rewritten in place.
    ASSERT_TRUE(table->Read(10));
    table->AssignText(0, "7000");
    table->Update();
    ASSERT_TRUE(table->Read(601));
    table->AssignText(2, "Closed");
    table->Update();
    table->Close();
  }
  EXPECT_EQ(Closed(), "202");
  EXPECT_EQ(Titles("602"), (std::vector<Record>{{"Outside"}}));
  EXPECT_EQ(Titles("7000"), (std::vector<Record>{{"Title 10"}}));
  EXPECT_EQ(Titles("10"), (std::vector<Record>{}));
  EXPECT_EQ(QueryRows(db_, "SELECT Title FROM Bugs WHERE Status = 'Closed' AND FormID > 600 "
                           "ORDER BY 1"),
            (std::vector<Record>{{"Engine"}, {"Outside"}}));
}

TEST_F(AppendedRowsTest, ARecordRecalledByAnotherProgramIsFoundAgain) {
  // Record 300 deleted while the indexes are built again (record 301 took
  // new values), then recalled.
  {
    auto table = DbfTable::Open(dir_.File("Bugs.dbf"), true);
    ASSERT_TRUE(table->Read(300));
    table->DeleteRecord();
    ASSERT_TRUE(table->Read(301));
    table->AssignText(0, "9301");
    table->AssignText(2, "Closed");
    table->Update();
    table->Close();
  }
  EXPECT_EQ(Titles("300"), (std::vector<Record>{}));
  EXPECT_EQ(Titles("9301"), (std::vector<Record>{{"Title 301"}}));
  EXPECT_EQ(Closed(), "200");
  {
    auto table = DbfTable::Open(dir_.File("Bugs.dbf"), true);
    ASSERT_TRUE(table->Read(300));
    table->RecallRecord();
    table->Close();
  }
  EXPECT_EQ(Titles("300"), (std::vector<Record>{{"Title 300"}}));
  EXPECT_EQ(Closed(), "201");
}

}  // namespace
}  // namespace vigilo::test
