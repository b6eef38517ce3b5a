// What the embedded dBase engine keeps between statements and connections,
// and when it reads a file again: changes that leave the file's stamp as it
// was, tables that grew or were rewritten in part, fields that changed, and
// field bytes written by other tools.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/platform/sql/dbase_fixture.h"

namespace vigilo::test {
namespace {

timespec MtimeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  return st.st_mtim;
}

void SetMtime(const std::string& path, timespec mtime) {
  timespec times[2] = {{0, UTIME_OMIT}, mtime};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Rewrites the title of a record in place (same size), the way another
// program would, and puts the modification time back to `mtime`.
void RewriteTitleKeepingStamp(const std::string& path, uint32_t recno, const std::string& title,
                              timespec mtime) {
  {
    auto table = DbfTable::Open(path, true);
    ASSERT_TRUE(table->Read(recno));
    table->AssignText(1, title);
    table->Update();
    table->Close();
  }
  SetMtime(path, mtime);
}

using FileStampTest = DbaseProjectTest;

TEST_F(FileStampTest, RewriteInTheGranuleOfTheLastLookIsReadByTheNextStatement) {
  const std::string bugs = dir_.File("Bugs.dbf");
  // A modification time just ahead of the engine's look: the stamp cannot
  // tell a later write in the same granule apart.
  timespec ahead = MtimeOf(bugs);
  ahead.tv_sec += 1;
  SetMtime(bugs, ahead);
  EXPECT_EQ(QueryRows(db_, "SELECT Title FROM Bugs WHERE FormID = 3"),
            (std::vector<Record>{{"Wrong total"}}));
  RewriteTitleKeepingStamp(bugs, 3, "Right total", ahead);
  EXPECT_EQ(QueryRows(db_, "SELECT Title FROM Bugs WHERE FormID = 3"),
            (std::vector<Record>{{"Right total"}}));
  // The equality index of the column is rebuilt from what was read again.
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM Bugs WHERE Title = 'Right total'"),
            (std::vector<Record>{{"3"}}));
}

TEST_F(FileStampTest, RewriteAfterTheEnginesOwnWriteIsReadOnceItsGranulePassed) {
  const std::string bugs = dir_.File("Bugs.dbf");
  db_.ExecuteSQL("UPDATE Bugs SET Status = 'Closed' WHERE FormID = 1");
  timespec after_own_write = MtimeOf(bugs);
  RewriteTitleKeepingStamp(bugs, 4, "Typo in manual", after_own_write);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(QueryRows(db_, "SELECT FormID, Status, Title FROM Bugs WHERE FormID IN (1, 4) "
                           "ORDER BY 1"),
            (std::vector<Record>{{"1", "Closed", "Crash on start"},
                                 {"4", "Fixed", "Typo in manual"}}));
}

TEST_F(FileStampTest, NulBytesInACharacterFieldReadAsBlanks) {
  const std::string bugs = dir_.File("Bugs.dbf");
  {
    std::ifstream in(bugs, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = bytes.find("Crash on start");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 5] = '\0';                  // inside the text
    bytes[at + 14] = '\0';                 // in the padding
    std::ofstream out(bugs, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  EXPECT_EQ(QueryRows(db_, "SELECT Title, length(Title) FROM Bugs WHERE FormID = 1"),
            (std::vector<Record>{{"Crash on start", "14"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM Bugs WHERE Title = 'Crash on start'"),
            (std::vector<Record>{{"1"}}));
}

// A table of n records, FormID 1 to n, each with a title and a status.
std::vector<Record> NumberedRecords(int n) {
  std::vector<Record> records;
  for (int id = 1; id <= n; ++id) {
    records.push_back({std::to_string(id), "Title " + std::to_string(id),
                       id % 3 == 0 ? "Closed" : "Open", "1", "", "", ""});
  }
  return records;
}

TEST(KeptTableTest, NextConnectionSeesRecordsRewrittenInPlaceAndAppended) {
  TempDir dir;
  const std::string bugs = dir.File("Bugs.dbf");
  WriteDbf(bugs, BugsFields(), NumberedRecords(600));  // two whole blocks and a tail
  const std::string count = "SELECT COUNT(*) FROM Bugs WHERE Status = 'Closed'";
  {
    Database db;
    db.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
    EXPECT_EQ(QueryRows(db, count), (std::vector<Record>{{"200"}}));
    EXPECT_EQ(QueryRows(db, "SELECT Title FROM Bugs WHERE FormID = 590"),
              (std::vector<Record>{{"Title 590"}}));
  }
  {
    auto table = DbfTable::Open(bugs, true);
    for (uint32_t recno : {10u, 300u, 590u}) {  // in block 0, block 1, the tail
      ASSERT_TRUE(table->Read(recno));
      table->AssignText(2, "Closed");
      table->AssignText(1, "Changed");
      table->Update();
    }
    ASSERT_TRUE(table->Read(3));
    table->DeleteRecord();
    table->AppendStart();
    table->AssignText(0, "601");
    table->AssignText(2, "Closed");
    table->AppendWrite();
    table->Close();
  }
  Database db;
  db.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  // 200 closed; 10 and 590 closed now (300 was), 3 deleted, 601 appended.
  EXPECT_EQ(QueryRows(db, count), (std::vector<Record>{{"202"}}));
  EXPECT_EQ(QueryRows(db, "SELECT FormID FROM Bugs WHERE Title = 'Changed' ORDER BY 1"),
            (std::vector<Record>{{"10"}, {"300"}, {"590"}}));
  EXPECT_EQ(QueryRows(db, "SELECT COUNT(*) FROM Bugs WHERE FormID IN (3, 601)"),
            (std::vector<Record>{{"1"}}));
}

TEST(KeptTableTest, FieldsChangedUnderAConnectionFailItsStatementsButNotANewConnection) {
  TempDir dir;
  const std::string bugs = dir.File("Bugs.dbf");
  WriteDbf(bugs, BugsFields(), NumberedRecords(5));
  Database first;
  first.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  EXPECT_EQ(QueryRows(first, "SELECT COUNT(*) FROM Bugs"), (std::vector<Record>{{"5"}}));
  std::remove(bugs.c_str());
  WriteDbf(bugs, {{"FormID", 'N', 10, 0}, {"Owner", 'C', 20, 0}}, {{"7", "ann"}});
  EXPECT_THROW(QueryRows(first, "SELECT COUNT(*) FROM Bugs"), DbException);
  Database second;
  second.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  EXPECT_EQ(QueryRows(second, "SELECT FormID, Owner FROM Bugs"),
            (std::vector<Record>{{"7", "ann"}}));
}

TEST(KeptTableTest, TwoOpenConnectionsEachHaveTheirOwnTableAndSeeEachOthersWrites) {
  TempDir dir;
  WriteDbf(dir.File("Bugs.dbf"), BugsFields(), NumberedRecords(5));
  Database one, two;
  one.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  two.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  EXPECT_EQ(QueryRows(two, "SELECT Status FROM Bugs WHERE FormID = 1"),
            (std::vector<Record>{{"Open"}}));
  one.ExecuteSQL("UPDATE Bugs SET Status = 'Fixed' WHERE FormID = 1");
  two.ExecuteSQL("INSERT INTO Bugs (FormID, Status) VALUES (6, 'New')");
  EXPECT_EQ(QueryRows(two, "SELECT FormID, Status FROM Bugs WHERE FormID IN (1, 6) ORDER BY 1"),
            (std::vector<Record>{{"1", "Fixed"}, {"6", "New"}}));
  EXPECT_EQ(QueryRows(one, "SELECT FormID, Status FROM Bugs WHERE FormID IN (1, 6) ORDER BY 1"),
            (std::vector<Record>{{"1", "Fixed"}, {"6", "New"}}));
}

}  // namespace
}  // namespace vigilo::test
