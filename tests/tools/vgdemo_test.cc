// The demo installation holds what the demo must show, and the vgdemo
// program replaces only a directory it wrote itself.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "common/ini_profile.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_installation.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::demo {
namespace {

using vigilo::testing::TempDir;

TEST(DemoInstallation, ShowsEveryMailTypeTargetAndRuleKind) {
  InstallationDescription description = DemoInstallationDescription({}, "/x/program");
  std::set<int> mail_types;
  for (const UserDescription& user : description.users) mail_types.insert(user.mail_type);
  EXPECT_EQ(mail_types, (std::set<int>{0, 1, 2, 3, 5}));

  std::set<std::string> targets;
  bool update_on_field = false, update_on_history = false, not_loaded = false;
  for (const RuleDescription& rule : description.rules) {
    if (rule.action == "Notify") targets.insert(rule.target);
    if (rule.action == "Update") {
      (rule.cond.find("->") != std::string::npos ? update_on_history : update_on_field) = true;
    }
    not_loaded = not_loaded || rule.disabled();
  }
  EXPECT_EQ(targets, (std::set<std::string>{"User", "Group", "Field", "Address"}));
  EXPECT_TRUE(update_on_field);
  EXPECT_TRUE(update_on_history);
  EXPECT_TRUE(not_loaded);

  bool open_to_closed = false;
  for (const HistoryDescription& row : description.projects.at(0).tables.at(0).history) {
    open_to_closed = open_to_closed ||
                     (row.what == "Status" && row.from == "Open" && row.to == "Closed");
  }
  EXPECT_TRUE(open_to_closed);
  // Without an SMTP server SMTP stays off and MAPI mail goes to a file.
  EXPECT_TRUE(description.mail.smtp_server.empty());
  EXPECT_NE(description.mail.delivery_command.find("/x/program/mapi-outbox.txt"), std::string::npos);

  InstallationDescription with_smtp = DemoInstallationDescription({"127.0.0.1:2600", {}}, "/x/program");
  EXPECT_EQ(with_smtp.mail.smtp_server, "127.0.0.1:2600");
  EXPECT_EQ(with_smtp.mail.delivery_smtp_url, "smtp://127.0.0.1:2600");
}

#ifdef VIGILO_VGDEMO_PROGRAM
int RunVgdemo(const std::string& args) {
  std::string command = std::string(VIGILO_VGDEMO_PROGRAM) + " " + args + " >/dev/null 2>&1";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Vgdemo, ReplacesItsOwnDemoAndLeavesOtherDirectoriesAlone) {
  TempDir dir;
  std::string demo = dir.path() + "/demo";
  ASSERT_EQ(RunVgdemo("'" + demo + "' --smtp 127.0.0.1:2525"), 0);
  EXPECT_EQ(GetProfileString(demo + "/server/morvik.ini", "Mail", "SMTP Mail"),
            "1,SMTP,127.0.0.1:2525,0 vigilo@demo.example,");
  {
    auto rules = DbfTable::Open(demo + "/server/orvhome/Vigtab.dbf", false);
    EXPECT_EQ(rules->RecordCount(), 8u);
  }

  // A leftover of the earlier run (a flag table the service made) goes away.
  testing::WriteText(demo + "/projects/Demo/BugsVGLS.dbf", "old");
  ASSERT_EQ(RunVgdemo("'" + demo + "'"), 0);
  EXPECT_FALSE(std::filesystem::exists(demo + "/projects/Demo/BugsVGLS.dbf"));
  EXPECT_EQ(GetProfileString(demo + "/server/morvik.ini", "Mail", "SMTP Mail"), "");

  std::string other = dir.path() + "/other";
  std::filesystem::create_directories(other);
  testing::WriteText(other + "/keep.txt", "mine");
  EXPECT_EQ(RunVgdemo("'" + other + "'"), 1);
  EXPECT_EQ(testing::ReadText(other + "/keep.txt"), "mine");
}
#endif

}  // namespace
}  // namespace vigilo::demo
