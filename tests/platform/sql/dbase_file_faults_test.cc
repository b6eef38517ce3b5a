// A full disk or a refused lock under the embedded dBase engine: the statement
// fails with a database error naming the file, the table keeps what it held,
// and the same statement succeeds once the fault is gone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/platform/sql/dbase_fixture.h"
#include "tests/support/faulty_file_system.h"

namespace vigilo::test {
namespace {

using ::testing::HasSubstr;

class DbaseFileFaultsTest : public DbaseProjectTest {};

TEST_F(DbaseFileFaultsTest, FailedWriteReportsTheFileAndChangesNothing) {
  const std::vector<Record> before = ReadDbf(dir_.File("Bugs.dbf"));
  const std::string update = "UPDATE Bugs SET Status = 'Done' WHERE FormID = 3";
  for (const char* fault : {"disk full", "locked"}) {
    SCOPED_TRACE(fault);
    vigilo::testing::FaultyFileSystem files;
    if (std::string(fault) == "disk full") {
      files.FailWrites("Bugs.dbf");
    } else {
      files.RefuseLocks("Bugs.dbf");
    }
    try {
      db_.ExecuteSQL(update);
      ADD_FAILURE() << "the update succeeded";
    } catch (const DbException& error) {
      EXPECT_THAT(error.Message(), HasSubstr("Bugs.dbf"));
      EXPECT_EQ(error.Message().back(), '\n');
    }
    EXPECT_GT(files.refusals(), 0);
    EXPECT_EQ(ReadDbf(dir_.File("Bugs.dbf")), before);
  }
  EXPECT_EQ(db_.ExecuteSQL(update), 1);
  EXPECT_EQ(ReadDbf(dir_.File("Bugs.dbf"))[2][2], "Done");
}

TEST_F(DbaseFileFaultsTest, FailedInsertLeavesNoRecord) {
  vigilo::testing::FaultyFileSystem files;
  files.FailWrites("ChHist.dbf");
  EXPECT_THROW(db_.ExecuteSQL("INSERT INTO ChHist (FormID, ChngWhat) VALUES (9, 'Status')"),
               DbException);
  files.Heal();
  EXPECT_EQ(ReadDbf(dir_.File("ChHist.dbf")).size(), 5u);
}

}  // namespace
}  // namespace vigilo::test
