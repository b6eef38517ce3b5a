#include "data/server_paths.h"

#include <stdlib.h>

#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "common/ini_profile.h"
#include "data/short_date.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

using testing::ReadText;
using testing::TempDir;
using testing::WriteText;

// Sets or clears an environment variable for one test and restores it after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// An empty program directory with a fixed short-date pattern and no test
// interval, so that the machine's settings do not leak into the results.
class ServerPathsTest : public ::testing::Test {
 protected:
  ServerPathsTest() { SetProgramDirectory(home_.path()); }
  ~ServerPathsTest() override { SetProgramDirectory(""); }

  std::string VigtabIni() const { return home_.File("vigtab.ini"); }

  TempDir home_;
  ScopedEnv date_{"VIGILO_SHORTDATE", "M/d/yy"};
  ScopedEnv interval_{"VIGILO_TEST_INTERVAL_SECONDS", nullptr};
};

// --- Program and server directories ---

TEST_F(ServerPathsTest, WithoutVigtabIniUsesTheProgramDirectoryAndWritesItBack) {
  CServerPaths paths;
  EXPECT_EQ(paths.program_dir, home_.path());
  EXPECT_EQ(paths.server_dir, home_.path());
  EXPECT_EQ(paths.program_ini_path, home_.File("vigtab.ini"));
  EXPECT_EQ(ReadText(VigtabIni()), "[Morvane Vigilo]\nSERVERDIR=" + home_.path() + "\n");

  EXPECT_EQ(GetFiringInterval(), 300u);
  EXPECT_EQ(ReadText(VigtabIni()), "[Morvane Vigilo]\nSERVERDIR=" + home_.path() +
                                       "\n\n[OPTIONS]\nFIRING_INTERVAL=5\n");
}

TEST_F(ServerPathsTest, DefaultsAreNotWrittenBackWhileTurnedOff) {
  SetDefaultsWrittenBack(false);
  CServerPaths paths;
  EXPECT_EQ(paths.server_dir, home_.path());
  EXPECT_EQ(GetFiringInterval(), 300u);
  SetDefaultsWrittenBack(true);
  EXPECT_FALSE(std::filesystem::exists(VigtabIni()));
}

TEST_F(ServerPathsTest, DerivesPathsFromTheServerDirectory) {
  WriteText(VigtabIni(), "[morvane vigilo]\nServerDir = /srv/orvik\n");
  CServerPaths service;
  EXPECT_EQ(service.server_dir, "/srv/orvik");
  EXPECT_EQ(service.orvik_ini_path, "/srv/orvik/morvik.ini");
  EXPECT_EQ(service.rule_table_path, "/srv/orvik/orvhome/Vigtab.dbf");
  EXPECT_EQ(service.help_path, home_.File("vigtab.hlp"));
  EXPECT_EQ(service.title, "Morvane Vigilo");
  EXPECT_EQ(service.date_default, "");

  CServerPaths manager(CServerPaths::Program::kManager);
  EXPECT_EQ(manager.help_path, home_.File("vigilo.hlp"));
  EXPECT_EQ(manager.date_default, "MM/DD/YY");
  // An existing SERVERDIR is never rewritten.
  EXPECT_EQ(ReadText(VigtabIni()), "[morvane vigilo]\nServerDir = /srv/orvik\n");
}

TEST_F(ServerPathsTest, TrailingSeparatorsAndBackslashesGiveCleanPaths) {
  // Joining never doubles a separator: "/srv/orvik/" and "\srv\orvik\" both
  // name the directory /srv/orvik.
  WriteText(VigtabIni(), "[Morvane Vigilo]\nSERVERDIR=/srv/orvik/\n");
  EXPECT_EQ(CServerPaths().rule_table_path, "/srv/orvik/orvhome/Vigtab.dbf");
  WriteText(VigtabIni(), "[Morvane Vigilo]\nSERVERDIR=\\srv\\orvik\\\n");
  CServerPaths paths;
  EXPECT_EQ(paths.server_dir, "/srv/orvik");
  EXPECT_EQ(paths.orvik_ini_path, "/srv/orvik/morvik.ini");
}

TEST_F(ServerPathsTest, RelativeServerDirectoryIsBelowTheProgramDirectory) {
  WriteText(VigtabIni(), "[Morvane Vigilo]\nSERVERDIR=orvik\n");
  EXPECT_EQ(CServerPaths().server_dir, home_.File("orvik"));
}

TEST_F(ServerPathsTest, FindsServerFilesInAnotherLetterCase) {
  std::filesystem::create_directories(home_.File("srv/ORVHOME"));
  WriteText(home_.File("srv/ORVHOME/VIGTAB.DBF"), "");
  WriteText(home_.File("srv/MORVIK.INI"), "");
  WriteText(home_.File("VIGTAB.INI"), "[Morvane Vigilo]\nSERVERDIR=" + home_.File("srv") + "\n");
  CServerPaths paths;
  EXPECT_EQ(paths.server_dir, home_.File("srv"));
  EXPECT_EQ(paths.rule_table_path, home_.File("srv/ORVHOME/VIGTAB.DBF"));
  EXPECT_EQ(paths.orvik_ini_path, home_.File("srv/MORVIK.INI"));
  EXPECT_FALSE(std::filesystem::exists(VigtabIni()));
}

TEST(ProgramDirectoryTest, HomeOptionWinsOverEnvironmentWhichWinsOverExecutable) {
  TempDir option;
  TempDir env;
  {
    ScopedEnv home("VIGILO_HOME", nullptr);
    SetProgramDirectory("");
    std::string exe = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(ProgramDirectory(), exe);
  }
  ScopedEnv home("VIGILO_HOME", (env.path() + "/").c_str());
  EXPECT_EQ(ProgramDirectory(), env.path());
  SetProgramDirectory(option.path() + "//");
  EXPECT_EQ(ProgramDirectory(), option.path());
  EXPECT_EQ(CServerPaths().program_dir, option.path());
  SetProgramDirectory("");
  EXPECT_EQ(ProgramDirectory(), env.path());
}

// --- Firing interval ---

TEST_F(ServerPathsTest, FiringIntervalIsMinutesTimesSixty) {
  WriteText(VigtabIni(), "[OPTIONS]\nFIRING_INTERVAL=10\n");
  EXPECT_EQ(GetFiringInterval(), 600u);
  WriteText(VigtabIni(), "[OPTIONS]\nFIRING_INTERVAL= +2 minutes\n");
  EXPECT_EQ(GetFiringInterval(), 120u);
}

TEST_F(ServerPathsTest, EmptyFiringIntervalIsRewrittenToFive) {
  WriteText(VigtabIni(), "[Morvane Vigilo]\nSERVERDIR=/srv\n[OPTIONS]\nFIRING_INTERVAL=\n");
  EXPECT_EQ(GetFiringInterval(), 300u);
  EXPECT_EQ(ReadText(VigtabIni()), "[Morvane Vigilo]\nSERVERDIR=/srv\n[OPTIONS]\nFIRING_INTERVAL=5\n");
}

TEST_F(ServerPathsTest, ZeroNegativeOrUnreadableIntervalIsRaisedToOneMinute) {
  for (const char* value : {"0", "abc", "-3", " x5"}) {
    WriteText(VigtabIni(), std::string("[OPTIONS]\nFIRING_INTERVAL=") + value + "\n");
    EXPECT_EQ(GetFiringInterval(), 60u) << value;
  }
}

TEST_F(ServerPathsTest, HugeIntervalDoesNotWrapAround) {
  WriteText(VigtabIni(), "[OPTIONS]\nFIRING_INTERVAL=99999999999999999999\n");
  uint32_t seconds = GetFiringInterval();
  EXPECT_GT(seconds, 4000000000u);
  EXPECT_EQ(seconds % 60, 0u);
}

TEST_F(ServerPathsTest, TestIntervalVariableOverridesInSeconds) {
  WriteText(VigtabIni(), "[OPTIONS]\nFIRING_INTERVAL=10\n");
  {
    ScopedEnv test("VIGILO_TEST_INTERVAL_SECONDS", "2");
    EXPECT_EQ(GetFiringInterval(), 2u);
  }
  {
    ScopedEnv test("VIGILO_TEST_INTERVAL_SECONDS", "0");
    EXPECT_EQ(GetFiringInterval(), 600u);
  }
}

// --- Last poll time ---

TEST_F(ServerPathsTest, WritesLastPollTimeIntoTheTableIni) {
  WriteText(home_.File("bugs.ini"), "[Morvane Orvik]\nFormNames=Bug\n");
  ASSERT_TRUE(WriteLastPollTimeKey(home_.File("BUGS.INI"), 1700000000));
  EXPECT_EQ(ReadText(home_.File("bugs.ini")),
            "[Morvane Orvik]\nFormNames=Bug\n\n[VIGTAB]\nLAST_POLL_TIME=1700000000\n");
  ASSERT_TRUE(WriteLastPollTimeKey(home_.File("BUGS.INI"), -5));
  EXPECT_EQ(GetProfileString(home_.File("bugs.ini"), "VIGTAB", "LAST_POLL_TIME"), "-5");
  EXPECT_FALSE(WriteLastPollTimeKey(home_.File("missing/dir/T.INI"), 1));
}

// --- Short-date pattern ---

struct DateCase {
  const char* system;
  const char* picture;
  char separator;
  const char* order;
};

TEST_F(ServerPathsTest, NormalisesTheSystemShortDatePattern) {
  const DateCase cases[] = {
      {"d/M/yyyy", "DD/MM/YY", '/', "DMY"},
      {"yyyy-MM-dd", "YY-MM-DD", '-', "YMD"},
      {"M/d/yy", "MM/DD/YY", '/', "MDY"},
      {"dd.MM.yyyy", "DD.MM.YY", '.', "DMY"},
      {"%d.%m.%Y", "DD.MM.YY", '.', "DMY"},  // a strftime form is rewritten first
  };
  for (const DateCase& c : cases) {
    ScopedEnv date("VIGILO_SHORTDATE", c.system);
    CServerPaths paths;
    EXPECT_EQ(paths.date_picture, c.picture) << c.system;
    EXPECT_EQ(paths.date_separator, c.separator) << c.system;
    EXPECT_EQ(std::string(paths.date_order, 3), c.order) << c.system;
  }
}

TEST_F(ServerPathsTest, UnusableShortDatePatternFallsBackToMonthDayYear) {
  std::string too_long = "dd/MM/yyyy" + std::string(22, 'y');  // 32 characters
  for (const std::string& system :
       {std::string(""), std::string("abc"), std::string("dd/MM"), std::string("dd/MM/dd"),
        std::string("dd MM yy"), std::string("dd/MM.yy"), std::string("yyyy\xe5\xb9\xb4MM"),
        too_long}) {
    ScopedEnv date("VIGILO_SHORTDATE", system.c_str());
    for (auto program : {CServerPaths::Program::kService, CServerPaths::Program::kManager}) {
      CServerPaths paths(program);
      EXPECT_EQ(paths.date_picture, "MM/DD/YY") << system;
      EXPECT_EQ(paths.date_separator, '/') << system;
      EXPECT_EQ(std::string(paths.date_order, 3), "MDY") << system;
    }
  }
  // 31 characters are still read.
  EXPECT_TRUE(NormalizeShortDate("dd/MM/yyyy" + std::string(21, 'y')).has_value());
}

TEST_F(ServerPathsTest, ReadsTheShortDateFromTheLocaleWithoutOverride) {
  ScopedEnv date("VIGILO_SHORTDATE", nullptr);
  {
    ScopedEnv all("LC_ALL", "C");
    EXPECT_EQ(CServerPaths().date_picture, "MM/DD/YY");
  }
  // A locale that cannot be loaded counts as an unreadable setting.
  ScopedEnv all("LC_ALL", "xx_NOWHERE.UTF-8");
  CServerPaths paths;
  EXPECT_EQ(paths.date_picture, "MM/DD/YY");
  EXPECT_EQ(std::string(paths.date_order, 3), "MDY");
}

TEST(PictureFromStrftimeTest, RewritesDateConversions) {
  EXPECT_EQ(PictureFromStrftime("%m/%d/%y"), "MM/dd/yy");
  EXPECT_EQ(PictureFromStrftime("%d.%m.%Y"), "dd.MM.yyyy");
  EXPECT_EQ(PictureFromStrftime("%D"), "MM/dd/yy");
  EXPECT_EQ(PictureFromStrftime("%F"), "yyyy-MM-dd");
  EXPECT_EQ(PictureFromStrftime("%e/%-m/%Oy"), "d/MM/yy");
  EXPECT_EQ(PictureFromStrftime("%a %d %b %Y"), " dd MMM yyyy");
  EXPECT_EQ(PictureFromStrftime("100%%"), "100%");
  EXPECT_EQ(PictureFromStrftime("%"), "");
}

}  // namespace
}  // namespace vigilo
