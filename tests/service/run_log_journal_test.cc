// The run log beyond its file: entries handed to the journal with their
// priority, rule and project; the previous run's file kept at a start; the
// file rotated by size.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/log_stream.h"
#include "data/run_log_entries.h"
#include "tests/service/recording_journal.h"
#include "tests/service/service_fixture.h"

namespace vigilo {
namespace {

using testing::ReadText;
using testing::TempDir;
using testing::WriteText;

using testing::RecordingJournal;

std::string Field(const host::JournalEntry& entry, const std::string& name) {
  return testing::JournalField(entry, name);
}

constexpr char kTickText[] =
    "Updating records ( Rule ID : 12)\r\n"
    "    Query   : UPDATE Bugs SET Bugs.Status = 'Closed' WHERE FormID = 3\r\n"
    "    SQL     : SELECT ...\r\n"
    "    Records : 3\r\n"
    "\r\n"
    "ODBC Reported Error (While Retrieving RecordIDs, Rule ID : 7) : no such table: BugsHist \r\n"
    "    Query   : SELECT DISTINCT Bugs.FormID FROM Bugs,BugsHist\r\n"
    "\r\n"
    "Mail delivery failed (SMTP) : connection refused \r\n"
    "Sending notification( Rule ID : 9 )\r\n"
    "    Records        :1,6\r\n"
    "    Notified Users :ORVIK:ann\r\n"
    "\r\n";

TEST(RunLogEntriesTest, EntriesCarryPriorityRuleAndProjectAndAreCounted) {
  RunLogTally tally;
  std::vector<host::JournalEntry> entries = RunLogJournalEntries(kTickText, "Demo", &tally);
  ASSERT_EQ(entries.size(), 4u);

  EXPECT_EQ(entries[0].priority, host::kJournalInfo);
  EXPECT_EQ(Field(entries[0], "VIGILO_RULE_ID"), "12");
  // The whole block is one entry, its lines joined by "\n".
  EXPECT_EQ(entries[0].message.substr(0, 45), "Updating records ( Rule ID : 12)\n    Query   ");
  EXPECT_NE(entries[0].message.find("\n    Records : 3"), std::string::npos);

  EXPECT_EQ(entries[1].priority, host::kJournalError);
  EXPECT_EQ(Field(entries[1], "VIGILO_RULE_ID"), "7");
  EXPECT_NE(entries[1].message.find("    Query   : SELECT"), std::string::npos);

  // A one-line failure followed at once by the next block is an entry of its own.
  EXPECT_EQ(entries[2].priority, host::kJournalError);
  EXPECT_EQ(entries[2].message, "Mail delivery failed (SMTP) : connection refused ");
  EXPECT_EQ(Field(entries[2], "VIGILO_RULE_ID"), "<none>");

  EXPECT_EQ(entries[3].priority, host::kJournalInfo);
  EXPECT_EQ(Field(entries[3], "VIGILO_RULE_ID"), "9");
  for (const auto& entry : entries) EXPECT_EQ(Field(entry, "VIGILO_PROJECT"), "Demo");

  EXPECT_EQ(tally.errors, 2);
  EXPECT_EQ(tally.updates, 1);
  EXPECT_EQ(tally.notifications, 1);
}

TEST(RunLogEntriesTest, StartLinesAreNoticesAndAFailedStartIsAnError) {
  std::vector<host::JournalEntry> entries = RunLogJournalEntries(
      "Vigilo Service Version 5.0-4 Build (100)\r\n\r\n"
      "Wednesday, December 09 2026 03:46\r\n\r\n"
      "Starting Vigilo Service....\r\n"
      "Error loading MAPI32.DLL\r\n"
      "\r\nVigilo Service failed to start beacuse of initialization problems\r\n",
      "");
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].priority, host::kJournalNotice);
  EXPECT_EQ(entries[1].priority, host::kJournalInfo);
  EXPECT_EQ(entries[2].priority, host::kJournalNotice);
  EXPECT_EQ(entries[3].priority, host::kJournalError);
  EXPECT_EQ(entries[4].priority, host::kJournalError);
  EXPECT_TRUE(entries[4].fields.empty());  // no project, no rule
}

class RunLogFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("vglog.ini"); }
  TempDir dir_;
};

TEST_F(RunLogFileTest, FlushSendsEachEntryOnceWithTheProjectItWasWrittenFor) {
  RecordingJournal journal;
  LogStream log([this] { return Path(); });
  log.SetJournal(&journal);
  log << "Starting Vigilo Service....\r\n";
  log.SetProject("Demo");
  log << kTickText;
  log.SetProject("");
  log << "ODBC Reported Error (While Opening database) : gone \r\n\r\n";
  EXPECT_TRUE(journal.entries().empty());  // entries go out with the flush
  ASSERT_TRUE(log.Flush(kLogAppend));

  std::vector<host::JournalEntry> sent = journal.entries();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(Field(sent[0], "VIGILO_PROJECT"), "<none>");
  EXPECT_EQ(Field(sent[1], "VIGILO_PROJECT"), "Demo");
  EXPECT_EQ(Field(sent[4], "VIGILO_PROJECT"), "Demo");
  EXPECT_EQ(Field(sent[5], "VIGILO_PROJECT"), "<none>");
  EXPECT_EQ(sent[5].priority, host::kJournalError);
  EXPECT_EQ(log.tally().errors, 3);

  ASSERT_TRUE(log.Flush(kLogAppend));  // nothing new: nothing sent again
  EXPECT_EQ(journal.entries().size(), 6u);
}

TEST_F(RunLogFileTest, EntriesReachTheJournalWhenTheFileCannotBeWritten) {
  RecordingJournal journal;
  std::filesystem::create_directory(Path());  // a directory cannot be opened for writing
  LogStream log([this] { return Path(); });
  log.SetJournal(&journal);
  log << "ODBC Reported Error (While Creating Flag Table) : disk full \r\n\r\n";
  EXPECT_FALSE(log.Flush(kLogRecreate));
  EXPECT_FALSE(log.IsEmpty());  // kept for the next flush
  EXPECT_TRUE(std::filesystem::is_directory(Path()));  // not moved aside as a previous log
  ASSERT_EQ(journal.entries().size(), 1u);
  EXPECT_EQ(log.tally().errors, 1);

  log << "Updating records ( Rule ID : 1)\r\n\r\n";
  EXPECT_FALSE(log.Flush(kLogAppend));
  ASSERT_EQ(journal.entries().size(), 2u);  // the earlier entry is not sent twice
  EXPECT_EQ(Field(journal.entries()[1], "VIGILO_RULE_ID"), "1");
}

TEST_F(RunLogFileTest, EachStartKeepsThePreviousRunAsGenerationOne) {
  for (const char* run : {"run 1\r\n", "run 2\r\n", "run 3\r\n"}) {
    LogStream log([this] { return Path(); });  // a new process
    log << "start lines\r\n";
    ASSERT_TRUE(log.Flush(kLogRecreate));
    // The engine's own recreate in the same run replaces only this run's text.
    log << run;
    ASSERT_TRUE(log.Flush(kLogRecreate));
  }
  EXPECT_EQ(ReadText(Path()), "run 3\r\n");
  EXPECT_EQ(ReadText(Path() + ".1"), "run 2\r\n");
  EXPECT_EQ(ReadText(Path() + ".2"), "run 1\r\n");
  EXPECT_FALSE(std::filesystem::exists(Path() + ".3"));
}

TEST_F(RunLogFileTest, AnEmptyPreviousLogIsNotKept) {
  WriteText(Path(), "");
  LogStream log([this] { return Path(); });
  log << "start\r\n";
  ASSERT_TRUE(log.Flush(kLogRecreate));
  EXPECT_FALSE(std::filesystem::exists(Path() + ".1"));
}

TEST_F(RunLogFileTest, AFileGrownPastItsLimitIsRotatedKeepingThreeGenerations) {
  LogStream log([this] { return Path(); });
  log.SetRotation(100);
  const std::string block(60, 'x');
  for (int tick = 1; tick <= 12; ++tick) {
    log << std::to_string(tick) + block.substr(0, 58) + "\r\n";
    ASSERT_TRUE(log.Flush(kLogAppend));
  }
  // Two 61-byte ticks take a file past 100 bytes, so each file holds two.
  // Ticks 11 and 12 moved on; an empty file is in place at once.
  EXPECT_EQ(ReadText(Path()), "");
  EXPECT_EQ(ReadText(Path() + ".1").substr(0, 2), "11");
  EXPECT_EQ(ReadText(Path() + ".2").substr(0, 1), "9");
  EXPECT_EQ(ReadText(Path() + ".3").substr(0, 1), "7");
  EXPECT_FALSE(std::filesystem::exists(Path() + ".4"));

  log << "next\r\n";
  ASSERT_TRUE(log.Flush(kLogAppend));
  EXPECT_EQ(ReadText(Path()), "next\r\n");
}

TEST_F(RunLogFileTest, RotationKeepsAsManyFilesAsAskedAndNoneStartsAFullLogAgain) {
  {
    LogStream log([this] { return Path(); });
    log.SetRotation(10, 1);
    for (const char* tick : {"first tick\r\n", "second tick\r\n"}) {
      log << tick;
      ASSERT_TRUE(log.Flush(kLogAppend));
    }
    EXPECT_EQ(ReadText(Path() + ".1"), "second tick\r\n");
    EXPECT_FALSE(std::filesystem::exists(Path() + ".2"));
  }
  LogStream log([this] { return Path(); });
  log.SetRotation(10, 0);
  log << "third tick\r\n";
  ASSERT_TRUE(log.Flush(kLogAppend));
  EXPECT_EQ(ReadText(Path()), "");
  EXPECT_EQ(ReadText(Path() + ".1"), "second tick\r\n");  // untouched
}

TEST_F(RunLogFileTest, TextWrittenForTheFileOnlyNeverReachesTheJournal) {
  RecordingJournal journal;
  LogStream log([this] { return Path(); });
  log.SetJournal(&journal);
  log << "Vigilo Service Version 5.0-4 Build (100)\r\n\r\n";
  log.WriteFileOnly("Vigilo Service Version 5.0-4 Build (100)\r\n\r\n");
  host::JournalEntry reason;
  reason.message = "why";
  log.SendToJournal(reason);
  log << "ORVIK PROJECTS \r\n\r\n";
  ASSERT_TRUE(log.Flush(kLogAppend));
  ASSERT_EQ(journal.entries().size(), 3u);
  EXPECT_EQ(journal.entries()[1].message, "why");  // in the order written
  EXPECT_EQ(journal.entries()[2].message, "ORVIK PROJECTS ");
  EXPECT_EQ(ReadText(Path()).find("why"), std::string::npos);
}

TEST_F(RunLogFileTest, RotationCanBeTurnedOff) {
  LogStream log([this] { return Path(); });
  log.SetRotation(0);
  for (int tick = 0; tick < 20; ++tick) {
    log << std::string(100, 'y');
    ASSERT_TRUE(log.Flush(kLogAppend));
  }
  EXPECT_EQ(ReadText(Path()).size(), 2000u);
  EXPECT_FALSE(std::filesystem::exists(Path() + ".1"));
}

}  // namespace
}  // namespace vigilo
