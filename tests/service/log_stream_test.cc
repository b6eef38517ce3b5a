#include "data/log_stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/message_line.h"
#include "platform/sql/database.h"
#include "tests/service/service_fixture.h"

namespace vigilo {
namespace {

using testing::ReadText;
using testing::TempDir;
using testing::WriteText;

class LogStreamTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("vglog.ini"); }
  TempDir dir_;
  LogStream log_{[this] { return Path(); }};
};

TEST_F(LogStreamTest, EmptyBufferLeavesTheFileUntouched) {
  EXPECT_TRUE(log_.Flush(kLogAppend));
  EXPECT_TRUE(log_.Flush(kLogRecreate));
  EXPECT_FALSE(std::filesystem::exists(Path()));

  WriteText(Path(), "earlier run\r\n");
  EXPECT_TRUE(log_.Flush(kLogRecreate));  // nothing collected: not recreated
  EXPECT_EQ(ReadText(Path()), "earlier run\r\n");
}

TEST_F(LogStreamTest, RecreateReplacesAndAppendAddsInOrder) {
  WriteText(Path(), "entries of an earlier run\r\n");
  log_ << "start\r\n";
  ASSERT_TRUE(log_.Flush(kLogRecreate));
  EXPECT_TRUE(log_.IsEmpty());
  EXPECT_EQ(ReadText(Path()), "start\r\n");

  log_ << "block 1\r\n";
  ASSERT_TRUE(log_.Flush(kLogAppend));
  log_ << "block 2\r\n";
  ASSERT_TRUE(log_.Flush(kLogAppend));
  EXPECT_EQ(ReadText(Path()), "start\r\nblock 1\r\nblock 2\r\n");
}

TEST_F(LogStreamTest, AppendCreatesAMissingFile) {
  log_ << "x";
  ASSERT_TRUE(log_.Flush(kLogAppend));
  EXPECT_EQ(ReadText(Path()), "x");
}

TEST_F(LogStreamTest, FileThatCannotBeOpenedKeepsTheTextForTheNextFlush) {
  std::filesystem::create_directory(Path());  // a directory cannot be opened for writing
  log_ << "tick 1\r\n";
  EXPECT_FALSE(log_.Flush(kLogAppend));
  EXPECT_EQ(log_.Text(), "tick 1\r\n");
  log_ << "tick 2\r\n";
  std::filesystem::remove(Path());
  ASSERT_TRUE(log_.Flush(kLogAppend));
  EXPECT_EQ(ReadText(Path()), "tick 1\r\ntick 2\r\n");
  EXPECT_TRUE(log_.IsEmpty());
}

TEST_F(LogStreamTest, FileLockedByAnotherProgramWaitsForTheNextFlush) {
  WriteText(Path(), "old\r\n");
  int other = open(Path().c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_SH), 0);
  log_ << "new\r\n";
  EXPECT_FALSE(log_.Flush(kLogRecreate));
  EXPECT_EQ(ReadText(Path()), "old\r\n");  // not truncated while locked
  close(other);
  ASSERT_TRUE(log_.Flush(kLogRecreate));
  EXPECT_EQ(ReadText(Path()), "new\r\n");
}

TEST_F(LogStreamTest, MoreThanTheBufferSizeBetweenFlushesLosesNothing) {
  std::string expected;
  for (int i = 0; i < 400; ++i) {
    std::string block = "Updating records ( Rule ID : " + std::to_string(i) +
                        " )\r\n    Records : 1,2,3,4,5,6,7,8,9,10\r\n\r\n";
    log_ << block;
    expected += block;
  }
  ASSERT_GT(expected.size(), 4 * kLogBufferSize);
  ASSERT_TRUE(log_.Flush(kLogAppend));
  EXPECT_EQ(ReadText(Path()), expected);
  log_ << "after\r\n";
  ASSERT_TRUE(log_.Flush(kLogAppend));
  EXPECT_EQ(ReadText(Path()), expected + "after\r\n");
}

TEST_F(LogStreamTest, EntriesOfSeveralThreadsStayWhole) {
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([this, t] {
      for (int i = 0; i < 500; ++i) log_ << "thread " + std::to_string(t) + " entry\r\n";
    });
  }
  std::thread flusher([this] {
    for (int i = 0; i < 50; ++i) log_.Flush(kLogAppend);
  });
  for (auto& w : writers) w.join();
  flusher.join();
  ASSERT_TRUE(log_.Flush(kLogAppend));
  std::istringstream file(ReadText(Path()));
  std::string line;
  int lines = 0;
  while (std::getline(file, line)) {
    EXPECT_EQ(line.size(), std::string("thread 0 entry\r").size()) << line;
    ++lines;
  }
  EXPECT_EQ(lines, 2000);
}

TEST(LogWritersTest, LogMessageAddsALineEndAndShowsUnlessQuiet) {
  std::string shown;
  LogStream log([] { return std::string("/nonexistent/vglog.ini"); },
                [&shown](std::string_view text) { shown += std::string(text) + "|"; });
  LogMessage(&log, "Error loading MAPI32.DLL", /*quiet=*/false);
  LogMessage(&log, "quiet line", /*quiet=*/true);
  EXPECT_EQ(log.Text(), "Error loading MAPI32.DLL\r\nquiet line\r\n");
  EXPECT_EQ(shown, "Error loading MAPI32.DLL|");
}

TEST(LogWritersTest, DatabaseErrorEntry) {
  LogStream log([] { return std::string("/nonexistent/vglog.ini"); });
  DbException error("no such table: BUGSVGLS");
  LogDbError(&log, &error, "While Creating Flag Table", "SELECT FormID FROM BUGSVGLS");
  EXPECT_EQ(log.Text(),
            "ODBC Reported Error (While Creating Flag Table) : no such table: BUGSVGLS \r\n"
            "    Query   : SELECT FormID FROM BUGSVGLS\r\n\r\n");
  LogStream untouched([] { return std::string(); });
  LogDbError(&untouched, nullptr, "While Creating Flag Table", "x");
  EXPECT_TRUE(untouched.IsEmpty());
}

TEST(LogWritersTest, DriverMessageIsCutAt298CharactersThenLosesItsLastOne) {
  EXPECT_EQ(DriverMessage(DbException("short\n")), "short");
  std::string long_text(400, 'x');
  EXPECT_EQ(DriverMessage(DbException(long_text)), std::string(297, 'x'));
}

}  // namespace
}  // namespace vigilo
