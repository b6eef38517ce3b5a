// What the service reports when its own files cannot be written: the run log
// keeps its text for the next flush, a table's poll time is reported unwritten
// and the table INI keeps its old text.
#include <gtest/gtest.h>

#include "common/ini_profile.h"
#include "data/log_stream.h"
#include "data/server_paths.h"
#include "service/rule_service.h"
#include "tests/service/service_fixture.h"
#include "tests/support/faulty_file_system.h"

namespace vigilo {
namespace {

TEST(FileFaultsTest, RunLogKeepsItsTextUntilAFlushSucceeds) {
  testing::ServiceEnvironment env_;
  testing::TestInstallation install;
  RuleServiceOptions options;
  options.log_path = [&install] { return install.run_log(); };
  CRuleService service(options);
  service.LogLine("first entry");
  {
    testing::FaultyFileSystem files;
    files.FailWrites("vglog.ini");
    EXPECT_EQ(service.FlushLog(kLogAppend), 0);
    files.Heal();
    files.RefuseLocks("vglog.ini");
    EXPECT_EQ(service.FlushLog(kLogAppend), 0);
  }
  EXPECT_EQ(service.log().Text(), "first entry\r\n");
  service.LogLine("second entry");
  EXPECT_EQ(service.FlushLog(kLogAppend), 1);
  EXPECT_EQ(install.ReadRunLog(), "first entry\r\nsecond entry\r\n");
  EXPECT_TRUE(service.log().IsEmpty());
}

TEST(FileFaultsTest, PollTimeOnAFullDiskIsReportedAndTheIniKeepsItsText) {
  testing::ServiceEnvironment env_;
  testing::TestInstallation install;
  const std::string ini = install.server_dir() + "/Bugs.ini";
  ASSERT_TRUE(WriteProfileString(ini, "Morvane Orvik", "FormNames", "Bugs"));
  const std::string before = testing::ReadText(ini);
  {
    testing::FaultyFileSystem files;
    files.FailWrites("Bugs.ini");
    EXPECT_FALSE(WriteLastPollTimeKey(ini, 1234));
  }
  EXPECT_EQ(testing::ReadText(ini), before);
  EXPECT_TRUE(WriteLastPollTimeKey(ini, 1234));
  EXPECT_NE(testing::ReadText(ini).find("1234"), std::string::npos);
}

}  // namespace
}  // namespace vigilo
