// The rule manager's start-up order and exit, with the windows replaced by a
// script that records what the program did.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "data/name_lists.h"
#include "manager/commands.h"
#include "manager/help_topics.h"
#include "manager/vigilo_app.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

class ScriptedWindows : public AppWindows {
 public:
  void ShowMainWindow() override { steps.push_back("show"); }
  bool RunLogin() override {
    steps.push_back("login");
    return login_result;
  }
  void DestroyMainWindow() override { steps.push_back("destroy"); }

  std::vector<std::string> steps;
  bool login_result = true;
};

MailLoader Loader(std::vector<std::string>& steps, PluginLoad::Status status) {
  return [&steps, status](const std::string&) {
    steps.push_back("mail");
    MapiPlugin plugin;
    plugin.load.status = status;
    return plugin;
  };
}

class Startup : public ::testing::Test {
 protected:
  ~Startup() override {
    UserNameList().clear();
    GroupNameList().clear();
  }
  testing::TestInstallation home_{testing::InstallationBuilder::Demo()};
  RecordingPrompts prompts_;
  ManagerContext context_{prompts_};
  ScriptedWindows windows_;
};

TEST_F(Startup, MissingMailProviderEndsBeforeTheWindowShows) {
  CVigiloApp app(context_, windows_, Loader(windows_.steps, PluginLoad::Status::kLibraryMissing));
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(windows_.steps, (std::vector<std::string>{"mail", "destroy"}));
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_EQ(prompts_.shown[0].text, "Error loading MAPI32.DLL.");
  EXPECT_EQ(prompts_.shown[0].caption, "Vigilo");
  EXPECT_EQ(prompts_.shown[0].icon, PromptIcon::kWarning);
  EXPECT_EQ(app.paths(), nullptr);
}

TEST_F(Startup, ProviderWithoutItsFunctionsEndsTheProgramToo) {
  CVigiloApp app(context_, windows_, Loader(windows_.steps, PluginLoad::Status::kFunctionMissing));
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{"Error loading MAPI32.DLL."});
}

TEST_F(Startup, CancelledLoginEndsWithoutSettingsOrNameLists) {
  windows_.login_result = false;
  CVigiloApp app(context_, windows_, Loader(windows_.steps, PluginLoad::Status::kLoaded));
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(windows_.steps, (std::vector<std::string>{"mail", "show", "login", "destroy"}));
  EXPECT_EQ(app.paths(), nullptr);
  EXPECT_TRUE(UserNameList().empty());
  EXPECT_TRUE(prompts_.shown.empty());
}

TEST_F(Startup, LoginBuildsSettingsAndNameListsThatExitReleases) {
  CVigiloApp app(context_, windows_, Loader(windows_.steps, PluginLoad::Status::kLoaded));
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(windows_.steps, (std::vector<std::string>{"mail", "show", "login"}));
  ASSERT_NE(app.paths(), nullptr);
  EXPECT_EQ(app.paths()->help_path, home_.program_dir() + "/vigilo.hlp");
  EXPECT_EQ(app.paths()->date_default, "MM/DD/YY");
  EXPECT_EQ(UserNameList(),
            (std::vector<std::string>{"sysop", "ann", "bob", "carl", "dave", "erin"}));
  EXPECT_EQ(GroupNameList(), (std::vector<std::string>{"Developers", "Support"}));
  app.ExitInstance();
  EXPECT_EQ(app.paths(), nullptr);
  EXPECT_TRUE(UserNameList().empty());
  EXPECT_TRUE(GroupNameList().empty());
}

TEST(MainCommands, ServerStateDecidesSetupStartAndStop) {
  for (bool running : {false, true}) {
    EXPECT_EQ(CommandEnabled(kSetupRulesCommand, running), !running);
    EXPECT_EQ(CommandEnabled(kStartServerCommand, running), !running);
    EXPECT_EQ(CommandEnabled(kStopServerCommand, running), running);
    for (int always : {kViewRulesCommand, kOptionsCommand, kExitCommand, kHelpContentsCommand,
                       kAboutCommand}) {
      EXPECT_TRUE(CommandEnabled(always, running)) << always;
    }
  }
}

TEST(HelpPages, EveryTopicHasItsPageAndUnknownTopicsShowTheContents) {
  std::string dir = FindHelpDirectory("");
  ASSERT_FALSE(dir.empty());
  for (const HelpTopic& topic : HelpTopics()) {
    EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/" + topic.file)) << topic.file;
  }
  for (int topic : {618, 620, 622, 624, 626, 628, 630, 632}) {
    EXPECT_EQ(HelpTopicFor(topic).topic, topic);
  }
  EXPECT_EQ(HelpTopicFor(619).file, std::string("contents.html"));
  EXPECT_EQ(HelpPagePath("", 618), dir + "/topic-618.html");
}

TEST(HelpPages, ProgramDirectoryCopyComesFirst) {
  testing::TempDir program;
  std::filesystem::create_directories(program.File("help"));
  testing::WriteText(program.File("help/contents.html"), "<html></html>");
  EXPECT_EQ(FindHelpDirectory(program.path()), program.File("help"));
}

}  // namespace
}  // namespace vigilo
