#include "platform/loader/plugin_library.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/loader/mail_plugins.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kMapiFunctions = {"MAPILogon", "MAPIResolveName",
                                                 "MAPISendMail", "MAPIFreeBuffer",
                                                 "MAPILogoff"};
constexpr const char* kTestEnv = "VIGILO_TEST_LOADER_LIBRARY";

// Two directories standing for the program directory and the installed plugin
// directory, removed afterwards.
class PluginSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("vgloader-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root_ / "program");
    fs::create_directories(root_ / "plugins");
    ::unsetenv(kTestEnv);
  }
  void TearDown() override {
    ::unsetenv(kTestEnv);
    fs::remove_all(root_);
  }

  PluginSearch Search() const {
    return {kTestEnv, "libvgmapi.so", (root_ / "program").string(),
            (root_ / "plugins").string()};
  }
  void Place(const char* target, const char* dir) {
    fs::create_symlink(target, root_ / dir / "libvgmapi.so");
  }

  fs::path root_;
};

TEST_F(PluginSearchTest, MissingLibraryIsToldApartAndNamesThePlacesTried) {
  ::setenv(kTestEnv, (root_ / "nowhere.so").c_str(), 1);
  PluginLoad load = LoadPlugin(Search(), kMapiFunctions);
  EXPECT_EQ(load.status, PluginLoad::Status::kLibraryMissing);
  EXPECT_FALSE(load.ok());
  EXPECT_EQ(load.library, nullptr);
  EXPECT_NE(load.error.find((root_ / "nowhere.so").string()), std::string::npos);
  EXPECT_NE(load.error.find((root_ / "program" / "libvgmapi.so").string()), std::string::npos);
  EXPECT_NE(load.error.find((root_ / "plugins" / "libvgmapi.so").string()), std::string::npos);
}

TEST_F(PluginSearchTest, LibraryLackingOneFunctionIsToldApartAndStaysOpen) {
  Place(PARTIAL_MAPI_PLUGIN_PATH, "program");
  PluginLoad load = LoadPlugin(Search(), kMapiFunctions);
  EXPECT_EQ(load.status, PluginLoad::Status::kFunctionMissing);
  EXPECT_EQ(load.missing_functions, std::vector<std::string>{"MAPILogoff"});
  EXPECT_NE(load.error.find("MAPILogoff"), std::string::npos);
  ASSERT_NE(load.library, nullptr);
  ASSERT_EQ(load.functions.size(), 5u);
  EXPECT_NE(load.functions[0], nullptr);
  EXPECT_EQ(load.functions[4], nullptr);
}

TEST_F(PluginSearchTest, CompleteLibraryBindsEveryFunction) {
  Place(VGMAPI_PLUGIN_PATH, "plugins");
  PluginLoad load = LoadPlugin(Search(), kMapiFunctions);
  ASSERT_TRUE(load.ok()) << load.error;
  EXPECT_TRUE(load.error.empty());
  for (void* function : load.functions) EXPECT_NE(function, nullptr);
  EXPECT_EQ(load.library->path(), (root_ / "plugins" / "libvgmapi.so").string());
}

TEST_F(PluginSearchTest, EnvironmentThenProgramDirectoryThenPluginDirectory) {
  Place(PARTIAL_MAPI_PLUGIN_PATH, "program");
  Place(VGMAPI_PLUGIN_PATH, "plugins");
  // The program directory comes before the plugin directory.
  EXPECT_EQ(LoadPlugin(Search(), kMapiFunctions).status,
            PluginLoad::Status::kFunctionMissing);
  // The environment variable comes first of all.
  ::setenv(kTestEnv, VGMAPI_PLUGIN_PATH, 1);
  PluginLoad load = LoadPlugin(Search(), kMapiFunctions);
  ASSERT_TRUE(load.ok()) << load.error;
  EXPECT_EQ(load.library->path(), VGMAPI_PLUGIN_PATH);
  // An empty variable counts as unset.
  ::setenv(kTestEnv, "", 1);
  EXPECT_EQ(LoadPlugin(Search(), kMapiFunctions).status,
            PluginLoad::Status::kFunctionMissing);
}

TEST_F(PluginSearchTest, FileThatIsNotALibraryIsReportedWithoutFallingBack) {
  std::ofstream(root_ / "program" / "libvgmapi.so") << "not a shared library\n";
  Place(VGMAPI_PLUGIN_PATH, "plugins");
  PluginLoad load = LoadPlugin(Search(), kMapiFunctions);
  EXPECT_EQ(load.status, PluginLoad::Status::kLibraryMissing);
  EXPECT_NE(load.error.find("cannot load"), std::string::npos);
  EXPECT_EQ(load.library, nullptr);
}

TEST(PluginLibraryTest, OpenReportsTheLoaderError) {
  std::string error;
  EXPECT_EQ(PluginLibrary::Open("/nonexistent/libnothing.so", &error), nullptr);
  EXPECT_NE(error.find("libnothing.so"), std::string::npos);
}

TEST(PluginLibraryTest, LibraryCanBeOpenedAndClosedRepeatedly) {
  for (int i = 0; i < 3; ++i) {
    std::string error;
    std::unique_ptr<PluginLibrary> library = PluginLibrary::Open(VGSMTP_PLUGIN_PATH, &error);
    ASSERT_NE(library, nullptr) << error;
    auto open = reinterpret_cast<SmtpOpenSessionFn>(library->Symbol("SmtpOpenSession"));
    auto close = reinterpret_cast<SmtpCloseSessionFn>(library->Symbol("SmtpCloseSession"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open(), VGSMTP_OK);
    EXPECT_EQ(close(), VGSMTP_OK);
    EXPECT_EQ(library->Symbol("NoSuchFunction"), nullptr);
  }
}

TEST(MailPluginsTest, TypedBindingsOfBothPlugins) {
  ::setenv(VGMAPI_LIBRARY_ENV, VGMAPI_PLUGIN_PATH, 1);
  ::setenv(VGSMTP_LIBRARY_ENV, VGSMTP_PLUGIN_PATH, 1);
  MapiPlugin mapi = LoadMapiPlugin("");
  SmtpPlugin smtp = LoadSmtpPlugin("");
  ::unsetenv(VGMAPI_LIBRARY_ENV);
  ::unsetenv(VGSMTP_LIBRARY_ENV);
  ASSERT_TRUE(mapi.load.ok()) << mapi.load.error;
  EXPECT_TRUE(mapi.logon && mapi.resolve_name && mapi.send_mail && mapi.free_buffer &&
              mapi.logoff && mapi.last_error);
  ASSERT_TRUE(smtp.load.ok()) << smtp.load.error;
  EXPECT_TRUE(smtp.open_session && smtp.send_mail && smtp.close_session && smtp.last_error);

  ::setenv(VGMAPI_LIBRARY_ENV, PARTIAL_MAPI_PLUGIN_PATH, 1);
  MapiPlugin partial = LoadMapiPlugin("");
  ::unsetenv(VGMAPI_LIBRARY_ENV);
  EXPECT_EQ(partial.load.status, PluginLoad::Status::kFunctionMissing);
  EXPECT_EQ(partial.logon, nullptr);
}

}  // namespace
}  // namespace vigilo
