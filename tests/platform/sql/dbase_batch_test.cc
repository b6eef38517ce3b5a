// Batches of writes on the embedded dBase engine: a statement run for many
// records, and a statement writing many rows, lock the file and write its
// header once, and leave it whole and counted when a row fails midway.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sql/database.h"
#include "platform/xbase/dbf_table.h"
#include "tests/platform/sql/dbase_fixture.h"
#include "tests/support/faulty_file_system.h"

namespace vigilo::test {
namespace {

// The real file system, counting the write locks taken and the writes made
// (a batch here writes one file).
class CountingFileSystem : public vigilo::testing::FaultyFileSystem {
 public:
  int RecordLock(int fd, int command, struct flock* lock) override {
    if (lock->l_type == F_WRLCK) ++locks;
    return FaultyFileSystem::RecordLock(fd, command, lock);
  }
  ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset) override {
    ++writes;
    return FaultyFileSystem::WriteAt(fd, data, size, offset);
  }
  int locks = 0;
  int writes = 0;
};

using DbaseBatchTest = DbaseProjectTest;

TEST_F(DbaseBatchTest, OneStatementForManyRecordsWritesEachAndLocksOnce) {
  db_.ExecuteSQL("CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT "
                 "pk_ProjBugsVGLS PRIMARY KEY (FormID, RuleID))");
  // Opened before counting: only the writes of the batches count.
  QueryRows(db_, "SELECT Title FROM Bugs WHERE FormID = 1");
  QueryRows(db_, "SELECT FormID FROM BugsVGLS");
  const size_t bugs = ReadDbf(dir_.File("Bugs.dbf")).size();
  ASSERT_GE(bugs, 3u);

  CountingFileSystem files;
  size_t done = 0;
  EXPECT_EQ(db_.ExecuteForEach("UPDATE Bugs SET Bugs.Title = 'batched?' WHERE FormID = ?",
                               {1, 3, 2}, &done),
            3);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(files.locks, 1);
  // Three records and one header.
  EXPECT_EQ(files.writes, 4);
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM Bugs WHERE Title = 'batched?' ORDER BY FormID"),
            (std::vector<Record>{{"1"}, {"2"}, {"3"}}));

  files.locks = files.writes = 0;
  EXPECT_EQ(db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(1,7),(2,7),(3,7)"), 3);
  EXPECT_EQ(files.locks, 1);
  EXPECT_EQ(files.writes, 4);
  auto flags = DbfTable::Open(dir_.File("BugsVGLS.dbf"), false);
  EXPECT_EQ(flags->RecordCount(), 3u);
  EXPECT_EQ(ReadDbf(dir_.File("Bugs.dbf")).size(), bugs);
}

TEST_F(DbaseBatchTest, ARowThatFailsMidwayLeavesTheRowsBeforeItWholeAndCounted) {
  db_.ExecuteSQL("CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT "
                 "pk_ProjBugsVGLS PRIMARY KEY (FormID, RuleID))");
  size_t done = 0;
  try {
    db_.ExecuteForEach("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(?,5)", {4, 6, 4, 8}, &done);
    ADD_FAILURE() << "a duplicate pair was inserted";
  } catch (const DbException& error) {
    EXPECT_EQ(error.SqlState(), "23000");
  }
  EXPECT_EQ(done, 2u);
  // Another program sees the two rows in the header's count; the next
  // statements of this connection see them and write after them.
  auto flags = DbfTable::Open(dir_.File("BugsVGLS.dbf"), false);
  EXPECT_EQ(flags->RecordCount(), 2u);
  EXPECT_THROW(db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(9,5),(6,5)"),
               DbException);
  db_.ExecuteSQL("INSERT INTO BugsVGLS(FormID,RuleID) VALUES(10,5)");
  EXPECT_EQ(ReadDbf(dir_.File("BugsVGLS.dbf")),
            (std::vector<Record>{{"4", "5"}, {"6", "5"}, {"9", "5"}, {"10", "5"}}));
  EXPECT_EQ(DbfTable::Open(dir_.File("BugsVGLS.dbf"), false)->RecordCount(), 4u);

  // A statement without exactly one parameter is refused before it runs.
  EXPECT_THROW(db_.ExecuteForEach("DELETE FROM BugsVGLS WHERE FormID = 4", {4}), DbException);
  EXPECT_EQ(ReadDbf(dir_.File("BugsVGLS.dbf")).size(), 4u);
}

}  // namespace
}  // namespace vigilo::test
