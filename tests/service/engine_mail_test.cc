// The mail side of the engine initialisation: the worker's mail sender (with
// the provider session its settings name), the process-wide user and group
// name lists, and notification rules prepared with their recipients; and the
// worker's shutdown, which ends the session before the provider goes.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ini_profile.h"
#include "data/log_stream.h"
#include "data/name_lists.h"
#include "notify/mail_sender.h"
#include "platform/xbase/dbf_table.h"
#include "service/project_table.h"
#include "service/read_thread.h"
#include "tests/service/rule_table_fixture.h"
#include "tests/service/service_fixture.h"

namespace vigilo {
namespace {

using testing::EnvOverride;
using testing::TestRule;

std::string BuiltMapiProvider() {
  const char* build = std::getenv("VIGILO_BUILD_DIR");
  return std::string(build ? build : ".") + "/platform/mapi/libvgmapi.so";
}

class EngineMailTest : public ::testing::Test {
 protected:
  EngineMailTest() {
    WriteProfileString(install_.server_dir() + "/morvik.ini", "Orvik Dsn", "Proj", ProjectDir());
    std::filesystem::create_directories(ProjectDir());
    testing::WriteTableIni(ProjectDir(), "Bugs");
    install_.WriteUsers({{"ann", "", 0, "ann", ""}, {"bob", "", 5, "bob@example.org", ""}});
    install_.WriteGroups({"QA", "Dev", "QA"});
    TestRule notify(7, 0, "ORVIK", "Proj\\Bugs", "Notify");
    notify.values = "ann,bob";
    testing::WriteRuleTable(install_.rule_table(), {notify});
    // The provider's profile, and the product's setting that logs on with it.
    WriteProfileString(install_.program_dir() + "/mapi.ini", "Profiles", "demo", "secret");
    WriteProfileString(install_.server_dir() + "/morvik.ini", "Mail", "MAPI Mail",
                       "1,MAPI,x,4 demo,6 secret,0,");
  }

  std::string ProjectDir() const { return install_.server_dir() + "/proj"; }

  testing::ServiceEnvironment env_;

  testing::TestInstallation install_;
  EnvOverride mapi_{"VIGILO_MAPI_LIBRARY", BuiltMapiProvider().c_str()};
  EnvOverride mapi_ini_{"VIGILO_MAPI_INI", nullptr};
  LogStream log_{[this] { return install_.run_log(); }};
};

TEST_F(EngineMailTest, StartBuildsTheSenderNameListsAndRecipientsAndShutdownUndoesThem) {
  EnvOverride mapi_ini("VIGILO_MAPI_INI", (install_.program_dir() + "/mapi.ini").c_str());
  auto worker = std::make_unique<CReadThread>(&log_);
  ASSERT_EQ(worker->InitEngine(), 1) << log_.Text();

  ASSERT_NE(worker->mail_sender, nullptr);
  EXPECT_TRUE(worker->mail_sender->systems().session_open());
  EXPECT_TRUE(worker->mail_sender->systems().mail_ready());
  EXPECT_EQ(UserNameList(), (std::vector<std::string>{"ann", "bob"}));
  EXPECT_EQ(GroupNameList(), (std::vector<std::string>{"QA", "Dev"}));

  ASSERT_EQ(worker->projects->size(), 1u);
  const CProject& project = *worker->projects->front();
  EXPECT_EQ(project.mail_sender(), worker->mail_sender);
  const CProjectTable& table = *project.tables().front();
  EXPECT_EQ(table.mail_sender, worker->mail_sender);
  ASSERT_TRUE(table.notify_rules.has_value());
  const CNotifyRule& rule = *table.notify_rules->front();
  EXPECT_EQ(rule.report_columns, "FormID, ATrail,Status");
  ASSERT_TRUE(rule.addresses.has_value());
  EXPECT_EQ(*rule.addresses, (std::vector<std::string>{"ORVIK:ann", "SMTP:bob@example.org"}));

  // The session is open: shutdown must end it while the provider is loaded.
  worker.reset();
  EXPECT_TRUE(UserNameList().empty());
  EXPECT_TRUE(GroupNameList().empty());
}

TEST_F(EngineMailTest, FailedLogonLeavesTheEngineRunningWithoutASession) {
  EnvOverride mapi_ini("VIGILO_MAPI_INI", (install_.program_dir() + "/mapi.ini").c_str());
  WriteProfileString(install_.server_dir() + "/morvik.ini", "Mail", "MAPI Mail",
                     "1,MAPI,x,4 demo,5 wrong,0,");
  auto worker = std::make_unique<CReadThread>(&log_);
  ASSERT_EQ(worker->InitEngine(), 1) << log_.Text();
  ASSERT_NE(worker->mail_sender, nullptr);
  EXPECT_FALSE(worker->mail_sender->systems().session_open());
  EXPECT_FALSE(worker->mail_sender->systems().mail_ready());
  worker.reset();
}

}  // namespace
}  // namespace vigilo
