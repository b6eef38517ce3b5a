// The rule manager's login: only "sysop", checked against the password sums of
// the user table, with the table read only once the name has passed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "manager/login.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

UserRecord User(const char* name, const char* password) {
  UserRecord user;
  if (name) user.login_name = name;
  if (password) user.password = password;
  return user;
}

TEST(PasswordSum, WeighsEachCharacterByItsPosition) {
  EXPECT_EQ(PasswordSum(""), 0);
  EXPECT_EQ(PasswordSum("a"), 97 * 58);
  EXPECT_EQ(PasswordSum("ab"), 97 * 58 + 98 * 50);
  EXPECT_EQ(PasswordSum("\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01"),
            58 + 50 + 42 + 34 + 26 + 18 + 10 + 2 + 60 + 52 + 44 + 36 + 28 + 20 + 12);
  // A code above 127 is a negative signed byte: 0xE9 counts as -23.
  EXPECT_EQ(PasswordSum("\xE9"), -23 * 58);
  EXPECT_EQ(PasswordSum("a\xFF"), 97 * 58 - 50);
}

TEST(PasswordSum, DemoSupervisorPasswordMatchesTheStoredSum) {
  EXPECT_EQ(PasswordSum(demo::kDemoSysopPassword), std::atoi(demo::kDemoSysopPasswordSum));
}

class LoginCheck : public ::testing::Test {
 protected:
  bool Ok(std::string_view name, std::string_view password) {
    LoginLogic logic(prompts_, [this] {
      ++reads_;
      return users_;
    });
    return logic.Ok(name, password);
  }

  RecordingPrompts prompts_;
  std::vector<UserRecord> users_;
  int reads_ = 0;
};

TEST_F(LoginCheck, EmptyNameOnlyBeeps) {
  EXPECT_FALSE(Ok("", "x"));
  EXPECT_EQ(prompts_.beeps, 1);
  EXPECT_TRUE(prompts_.shown.empty());
  EXPECT_EQ(reads_, 0);
}

TEST_F(LoginCheck, OtherNamesAreRefusedBeforeTheTableIsRead) {
  users_ = {User("Sysop", "0"), User("sysop ", "0"), User("ann", "0")};
  for (const char* name : {"Sysop", "SYSOP", "sysop ", " sysop", "ann"}) {
    EXPECT_FALSE(Ok(name, "")) << name;
  }
  EXPECT_EQ(prompts_.Texts(), std::vector<std::string>(5, "Only sysop can run Vigilo"));
  EXPECT_EQ(prompts_.shown[0].caption, "Morvane Vigilo");
  EXPECT_EQ(prompts_.shown[0].icon, PromptIcon::kNone);
  EXPECT_EQ(reads_, 0);
}

TEST_F(LoginCheck, AcceptsTheStoredSum) {
  users_ = {User("ann", "5626"), User("sysop", "5626")};
  EXPECT_TRUE(Ok("sysop", "a"));
  // Leading blanks and a sign are read as the conversion reads them.
  users_ = {User("sysop", "  +10526xyz")};
  EXPECT_TRUE(Ok("sysop", "ab"));
  users_ = {User("sysop", "-1334")};
  EXPECT_TRUE(Ok("sysop", "\xE9"));
  EXPECT_TRUE(prompts_.shown.empty());
  EXPECT_EQ(reads_, 3);
}

TEST_F(LoginCheck, EmptyPasswordMatchesOnlyAStoredZero) {
  for (const char* stored : {"0", "", "secret", " 0"}) {
    users_ = {User("sysop", stored)};
    EXPECT_TRUE(Ok("sysop", "")) << stored;
  }
  users_ = {User("sysop", nullptr)};
  EXPECT_TRUE(Ok("sysop", ""));
  users_ = {User("sysop", "5626")};
  EXPECT_FALSE(Ok("sysop", ""));
  EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{"Invalid Password\n"});
}

TEST_F(LoginCheck, EitherOfTwoSupervisorRecordsLetsIn) {
  users_ = {User("sysop", "1"), User("sysop", "5626")};
  EXPECT_TRUE(Ok("sysop", "a"));
  users_ = {User("sysop", "5626"), User("sysop", "1")};
  EXPECT_TRUE(Ok("sysop", "a"));
  EXPECT_FALSE(Ok("sysop", "b"));
  EXPECT_EQ(prompts_.Texts(), std::vector<std::string>{"Invalid Password\n"});
}

TEST_F(LoginCheck, MissingSupervisorIsAnInvalidUserName) {
  users_ = {User("ann", "0"), User(nullptr, "0")};
  EXPECT_FALSE(Ok("sysop", ""));
  users_ = {};
  EXPECT_FALSE(Ok("sysop", ""));
  EXPECT_EQ(prompts_.Texts(), std::vector<std::string>(2, "Invalid User Name!"));
}

TEST(InstallationLogin, DemoSupervisorLogsInWithTheDocumentedPassword) {
  testing::TestInstallation home{testing::InstallationBuilder::Demo()};
  RecordingPrompts prompts;
  LoginLogic logic(prompts, InstallationUserTable());
  EXPECT_FALSE(logic.Ok("sysop", "sysop"));
  EXPECT_TRUE(logic.Ok("sysop", demo::kDemoSysopPassword));
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Invalid Password\n"});
}

TEST(InstallationLogin, MissingUserTableIsAnInvalidUserName) {
  testing::TestInstallation home{testing::ManagerHomeBuilder()};
  RecordingPrompts prompts;
  LoginLogic logic(prompts, InstallationUserTable());
  EXPECT_FALSE(logic.Ok("sysop", ""));
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Invalid User Name!"});
}

TEST(InstallationLogin, UnopenableUserTableIsReportedThenAnInvalidUserName) {
  testing::TestInstallation home{testing::ManagerHomeBuilder()};
  std::filesystem::create_directories(home.File("orvhome"));
  home.WriteServerFile("orvhome/users.dbf", "not a dBase file");
  RecordingPrompts prompts;
  LoginLogic logic(prompts, InstallationUserTable(prompts.AsMessageReporter()));
  EXPECT_FALSE(logic.Ok("sysop", ""));
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[0].text.rfind("Unable to open Orvik user table!", 0), 0u);
  EXPECT_EQ(prompts.shown[1].text, "Invalid User Name!");
}

}  // namespace
}  // namespace vigilo
