// What the embedded dBase engine keeps between statements and when it reads
// a file again: changes that leave the file's stamp as it was, and field
// bytes written by other tools.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
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

}  // namespace
}  // namespace vigilo::test
