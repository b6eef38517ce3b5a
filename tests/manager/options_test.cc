// The Options dialog: the firing interval read from and written to vigtab.ini.
#include <gtest/gtest.h>

#include "common/ini_profile.h"
#include "manager/options.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

class OptionsDialog : public ::testing::Test {
 protected:
  std::string Stored() {
    return GetProfileString(home_.paths().program_ini_path, "OPTIONS", "FIRING_INTERVAL", "<none>");
  }
  void Store(const std::string& value) {
    ASSERT_TRUE(WriteProfileString(home_.paths().program_ini_path, "OPTIONS", "FIRING_INTERVAL",
                                   value));
  }
  OptionsLogic Logic() { return OptionsLogic(home_.paths().program_ini_path, prompts_); }

  testing::TestInstallation home_{testing::ManagerHomeBuilder()};
  RecordingPrompts prompts_;
};

TEST_F(OptionsDialog, ShowsTheStoredMinutesAndOneForNothingUsable) {
  EXPECT_EQ(Logic().InitialInterval(), 1);  // no key
  Store("15");
  EXPECT_EQ(Logic().InitialInterval(), 15);
  Store("7 minutes");
  EXPECT_EQ(Logic().InitialInterval(), 7);
  for (const char* unusable : {"0", "often", "-5"}) {
    Store(unusable);
    EXPECT_EQ(Logic().InitialInterval(), 1) << unusable;
  }
  // Only the first 49 characters are read.
  Store(std::string(49, '0') + "9");
  EXPECT_EQ(Logic().InitialInterval(), 1);
}

TEST_F(OptionsDialog, ValueWithoutDigitsShowsOneAndOkWritesOne) {
  Store("often");
  OptionsLogic logic = Logic();
  EXPECT_TRUE(logic.Ok(std::to_string(logic.InitialInterval())));
  EXPECT_EQ(Stored(), "1");
}

TEST_F(OptionsDialog, AcceptsOneToSixtyAndWritesThemPlain) {
  EXPECT_TRUE(Logic().Ok("60"));
  EXPECT_EQ(Stored(), "60");
  EXPECT_TRUE(Logic().Ok(" 1 "));
  EXPECT_EQ(Stored(), "1");
  EXPECT_TRUE(Logic().Ok("+07"));
  EXPECT_EQ(Stored(), "7");
  EXPECT_TRUE(prompts_.shown.empty());
}

TEST_F(OptionsDialog, RefusesOutOfRangeAndNonNumbersWithoutWriting) {
  Store("5");
  for (const char* text : {"61", "0", "-1", "99999999999"}) EXPECT_FALSE(Logic().Ok(text)) << text;
  for (const char* text : {"", "ten", "5x", "1 0", "-"}) EXPECT_FALSE(Logic().Ok(text)) << text;
  std::vector<std::string> expected(3, "Please enter an integer between 1 and 60.");
  expected.insert(expected.end(), 6, "Please enter an integer.");
  EXPECT_EQ(prompts_.Texts(), expected);
  EXPECT_EQ(Stored(), "5");
}

TEST_F(OptionsDialog, AFailedWriteIsReportedAndKeepsTheDialogOpen) {
  std::string unwritable = home_.File("missing-directory/vigtab.ini");
  OptionsLogic logic(unwritable, prompts_);
  EXPECT_FALSE(logic.Ok("10"));
  ASSERT_EQ(prompts_.shown.size(), 1u);
  EXPECT_EQ(prompts_.shown[0].text.rfind("Unable to save the firing interval in " + unwritable, 0),
            0u);
}

TEST(ParseIntegerField, TakesOnlyAWholeInteger) {
  EXPECT_EQ(ParseIntegerField("42"), 42);
  EXPECT_EQ(ParseIntegerField("  -3 "), -3);
  EXPECT_EQ(ParseIntegerField("2147483647"), 2147483647);
  EXPECT_EQ(ParseIntegerField("2147483648"), std::nullopt);
  EXPECT_EQ(ParseIntegerField("4.5"), std::nullopt);
  EXPECT_EQ(ParseIntegerField("+"), std::nullopt);
}

}  // namespace
}  // namespace vigilo
