// The engine initialisation and the firing tick on a real installation: the
// run log texts of failed starts, the listing of a good one, and the
// connection and poll-time rules of a tick.
#include <dlfcn.h>
#include <sys/stat.h>

#include <stdlib.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "common/ini_profile.h"
#include "platform/host/message_line.h"
#include "platform/sql/connection.h"
#include "platform/sql/database.h"
#include "service/rule_service.h"
#include "tests/service/rule_table_fixture.h"
#include "tests/service/service_fixture.h"

namespace vigilo {
namespace {

using namespace std::chrono_literals;
using testing::EnvOverride;
using testing::TestRule;
using testing::WriteRuleTable;

constexpr char kVersion[] = "Vigilo Service Version 5.0-4 Build (100)\r\n\r\n";
constexpr char kFailure[] =
    "\r\nVigilo Service failed to start beacuse of initialization problems\r\n";

// Date lines vary; they become "<date>".
std::string MaskDates(const std::string& log) {
  static const std::regex date(
      "(Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday), [A-Z][a-z]+ "
      "[0-9]{2} [0-9]{4} [0-9]{2}:[0-9]{2}\r\n");
  return std::regex_replace(log, date, "<date>");
}

std::string BuiltMapiProvider() {
  const char* build = std::getenv("VIGILO_BUILD_DIR");
  return std::string(build ? build : ".") + "/platform/mapi/libvgmapi.so";
}

// A library that exists but lacks the provider's functions.
std::string SomeOtherLibrary() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(static_cast<int (*)(int)>(&::abs)), &info);
  return info.dli_fname ? info.dli_fname : "";
}

class EngineStartTest : public ::testing::Test {
 protected:
  EngineStartTest() {
    WriteProfileString(install_.server_dir() + "/morvik.ini", "Orvik Dsn", "Proj", ProjectDir());
    std::filesystem::create_directories(ProjectDir());
    testing::WriteTableIni(ProjectDir(), "Bugs");
  }

  RuleServiceOptions Options() {
    RuleServiceOptions options;
    options.reporter = &reporter_;
    options.self_stop_delay = 0ms;
    options.self_stop = [] { return true; };
    options.message_reporter = [this](std::string_view text) {
      shown_ += host::OneLine(text) + "|";
    };
    return options;
  }
  std::string ProjectDir() const { return install_.server_dir() + "/proj"; }
  std::string RuleTable() const { return install_.rule_table(); }
  void WriteOneRule() {
    WriteRuleTable(RuleTable(),
                   {{1, 0, "ORVIK", "Proj\\Bugs", "Update"}});
  }

  class NullReporter : public host::StatusReporter {
   public:
    bool Report(const host::ServiceStatus&) override { return true; }
  } reporter_;
  testing::ServiceEnvironment env_;
  testing::TestInstallation install_;
  std::string shown_;
};

TEST_F(EngineStartTest, MissingMailProviderLeavesStartLinesEngineLinesAndFailure) {
  EnvOverride mapi("VIGILO_MAPI_LIBRARY", "/nonexistent/libvgmapi.so");
  WriteOneRule();
  CRuleService service(Options());
  EXPECT_EQ(service.ServiceMain(0, nullptr), 1);
  EXPECT_TRUE(service.start_failed());
  EXPECT_EQ(MaskDates(install_.ReadRunLog()),
            std::string(kVersion) + "<date>\r\nStarting Vigilo Service....\r\n" + kVersion +
                "<date>\r\nError loading MAPI32.DLL\r\n" + kFailure);
  EXPECT_EQ(shown_, "Error loading MAPI32.DLL|");
}

TEST_F(EngineStartTest, IncompleteMailProviderIsReportedAsCorrupted) {
  EnvOverride mapi("VIGILO_MAPI_LIBRARY", SomeOtherLibrary().c_str());
  WriteOneRule();
  CRuleService service(Options());
  EXPECT_EQ(service.ServiceMain(0, nullptr), 1);
  EXPECT_EQ(MaskDates(install_.ReadRunLog()),
            std::string(kVersion) + "<date>\r\nStarting Vigilo Service....\r\n" + kVersion +
                "<date>\r\nUnable to call MAPI functions. MAPI32.DLL may be corrupted\r\n" +
                kFailure);
  EXPECT_EQ(shown_, "Unable to call MAPI functions. MAPI32.DLL may be corrupted|");
}

TEST_F(EngineStartTest, NoLoadableRuleLeavesOnlyEngineLinesAndFailure) {
  EnvOverride mapi("VIGILO_MAPI_LIBRARY", BuiltMapiProvider().c_str());
  WriteRuleTable(RuleTable(), {{1, 0, "ORVIK", "Proj\\Bugs", "Update", "1"}});
  CRuleService service(Options());
  EXPECT_EQ(service.ServiceMain(0, nullptr), 1);
  EXPECT_TRUE(service.start_failed());
  EXPECT_EQ(MaskDates(install_.ReadRunLog()),
            std::string(kVersion) + "<date>\r\nStarting Vigilo Service....\r\n" + kVersion +
                "<date>\r\n" + kFailure);
  EXPECT_EQ(shown_, "No rules are defined. Please create the rules and then start the server|");
}

TEST_F(EngineStartTest, GoodStartsAppendTheListingToTheLogAndQuietTicksAddNothing) {
  EnvOverride mapi("VIGILO_MAPI_LIBRARY", BuiltMapiProvider().c_str());
  WriteOneRule();
  testing::WriteText(install_.run_log(), "an earlier run\r\n");
  const std::string expected = std::string(kVersion) +
                               "<date>\r\n"
                               "ORVIK PROJECTS \r\n\r\n"
                               " 1) 0\\ORVIK\\Proj (TABLES)\r\n"
                               "    1. Bugs\r\n"
                               "         Update Rules       : 1\r\n"
                               "\r\n"
                               "\r\n";
  {
    CRuleService service(Options());
    EXPECT_EQ(service.RunOnce(), 0);
  }
  const std::string host_lines =
      std::string(kVersion) + "<date>\r\nStarting Vigilo Service....\r\n";
  const std::string one_run = host_lines + expected;
  EXPECT_EQ(MaskDates(install_.ReadRunLog()), "an earlier run\r\n" + one_run);
  EXPECT_EQ(shown_, "");

  // A second start adds its run; the tick, which logs nothing, adds nothing.
  CRuleService service(Options());
  EXPECT_EQ(service.RunOnce(), 0);
  EXPECT_EQ(MaskDates(install_.ReadRunLog()), "an earlier run\r\n" + one_run + one_run);
}

class FiringTickTest : public EngineStartTest {
 protected:
  // Initialises a worker with the given firing interval and runs one tick.
  std::unique_ptr<CReadThread> Initialised(const char* seconds) {
    EnvOverride interval("VIGILO_TEST_INTERVAL_SECONDS", seconds);
    auto worker = std::make_unique<CReadThread>(&log_);
    EXPECT_EQ(worker->InitEngine(), 1) << log_.Text();
    return worker;
  }
  std::unique_ptr<CReadThread> TickWithInterval(const char* seconds) {
    auto worker = Initialised(seconds);
    worker->FireRules();
    return worker;
  }

  EnvOverride mapi_{"VIGILO_MAPI_LIBRARY", BuiltMapiProvider().c_str()};
  LogStream log_{[this] { return install_.run_log(); }};
};

TEST_F(FiringTickTest, ConnectionsStayOpenAtNinetySecondsAndCloseAboveIt) {
  WriteOneRule();
  auto kept = TickWithInterval("90");
  ASSERT_EQ(kept->projects->size(), 1u);
  EXPECT_TRUE(kept->projects->front()->database().IsOpen());
  kept.reset();
  auto closed = TickWithInterval("91");
  EXPECT_FALSE(closed->projects->front()->database().IsOpen());
}

TEST_F(FiringTickTest, EachTableGetsItsLastPollTime) {
  WriteOneRule();
  const long before = static_cast<long>(std::time(nullptr));
  auto worker = TickWithInterval("300");
  const long written = std::atol(
      GetProfileString(ProjectDir() + "/Bugs.INI", "VIGTAB", "LAST_POLL_TIME").c_str());
  EXPECT_GE(written, before);
  EXPECT_LE(written, static_cast<long>(std::time(nullptr)));
}

TEST_F(FiringTickTest, UnreachableProjectIsSkippedWithoutItsPollTime) {
  WriteOneRule();
  auto worker = Initialised("300");
  // The project's database refuses connections after loading; the rule
  // table and everything else still open.
  const std::string project_dir = ProjectDir();
  sql::SetConnectionFactory([project_dir](const std::string& connection) {
    if (connection.find(project_dir) != std::string::npos) {
      throw DbException("could not connect to the project\n", "08001");
    }
    return sql::OpenDefaultConnection(connection);
  });
  worker->FireRules();
  sql::SetConnectionFactory(nullptr);
  const std::string ini = ProjectDir() + "/Bugs.INI";
  ASSERT_TRUE(std::filesystem::exists(ini));
  EXPECT_EQ(GetProfileString(ini, "VIGTAB", "LAST_POLL_TIME", "none"), "none");
  // Reachable again, the next tick writes it.
  worker->FireRules();
  EXPECT_NE(GetProfileString(ini, "VIGTAB", "LAST_POLL_TIME", "none"), "none");
}

}  // namespace
}  // namespace vigilo
