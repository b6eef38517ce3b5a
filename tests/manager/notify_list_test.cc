// The Notify List: what it offers per target, its preselection from the
// current Values text, and the limits and messages of OK.
#include <gtest/gtest.h>

#include "data/name_lists.h"
#include "manager/notify_list.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

std::vector<bool> Select(size_t count, std::initializer_list<size_t> chosen) {
  std::vector<bool> selected(count, false);
  for (size_t i : chosen) selected[i] = true;
  return selected;
}

TEST(NotifyList, ReopeningOnItsOwnResultSelectsTheSameEntries) {
  RecordingPrompts prompts;
  std::vector<std::string> users = {"ann", "bob", "carl", "dave", "erin"};
  NotifyListLogic first("User", users, "", prompts);
  EXPECT_EQ(first.Title(), "User List");
  EXPECT_FALSE(first.ShowsOtherFields());
  EXPECT_EQ(first.preselected(), std::vector<bool>(5, false));
  std::vector<bool> chosen = Select(5, {1, 2, 4});
  std::optional<std::string> values = first.Ok(chosen, "");
  ASSERT_TRUE(values);
  EXPECT_EQ(*values, "bob,carl,erin");

  NotifyListLogic again("User", users, *values, prompts);
  EXPECT_EQ(again.preselected(), chosen);
  EXPECT_EQ(again.Ok(again.preselected(), ""), values);
  // Letter case is ignored; names no longer in the list are not kept.
  NotifyListLogic cased("User", users, "BOB,zoe", prompts);
  EXPECT_EQ(cased.preselected(), Select(5, {1}));
  EXPECT_EQ(cased.other_fields(), "");
  EXPECT_TRUE(prompts.shown.empty());
}

TEST(NotifyList, FieldListOffersUserFieldsAndKeepsOtherFields) {
  testing::TestInstallation home{testing::InstallationBuilder::Demo()};
  UserNameList() = {"ann", "bob"};
  RecordingPrompts prompts;
  CServerPaths paths(CServerPaths::Program::kManager);
  ProjectSelection selection{"0", kServerDirSource, "Demo", "Bugs"};
  std::vector<std::string> entries = NotifyListLogic::Entries("Field", paths, selection, prompts);
  // The change-history ChngBy is a user field too, but no column of a record.
  EXPECT_EQ(entries, (std::vector<std::string>{"Owner", "Reporter"}));
  EXPECT_TRUE(prompts.shown.empty());

  NotifyListLogic logic("Field", entries, "owner,Title,Manager", prompts);
  EXPECT_EQ(logic.Title(), "Field List");
  EXPECT_TRUE(logic.ShowsOtherFields());
  EXPECT_EQ(logic.preselected(), Select(2, {0}));
  EXPECT_EQ(logic.other_fields(), "Title,Manager");
  EXPECT_EQ(logic.Ok(logic.preselected(), logic.other_fields()), "Owner,Title,Manager");
  // Other fields alone are the whole text.
  EXPECT_EQ(logic.Ok(Select(2, {}), "Manager"), "Manager");

  EXPECT_EQ(NotifyListLogic::Entries("User", paths, selection, prompts), UserNameList());
  UserNameList().clear();
}

TEST(NotifyList, UnreadableTableIsShownAndOffersNothing) {
  testing::TestInstallation home{testing::InstallationBuilder::Demo()};
  RecordingPrompts prompts;
  CServerPaths paths(CServerPaths::Program::kManager);
  ProjectSelection selection{"0", kServerDirSource, "Demo", "Nowhere"};
  EXPECT_TRUE(NotifyListLogic::Entries("Field", paths, selection, prompts).empty());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text.rfind("Unable to open ", 0), 0u);
}

TEST(NotifyList, NothingChosenBeepsAndStays) {
  RecordingPrompts prompts;
  NotifyListLogic logic("Field", {"Owner"}, "", prompts);
  EXPECT_FALSE(logic.Ok(Select(1, {}), ""));
  EXPECT_EQ(prompts.beeps, 1);
  // A group list has no Other Field(s): a stray text chooses nothing.
  NotifyListLogic groups("Group", {"Developers"}, "", prompts);
  EXPECT_FALSE(groups.Ok(Select(1, {}), "Support"));
  EXPECT_EQ(prompts.beeps, 2);
}

TEST(NotifyList, TooManyNamesStayWithTheMessage) {
  RecordingPrompts prompts;
  // Three names of 90 characters exceed the 250-character sum.
  std::vector<std::string> long_names(3, std::string(90, 'n'));
  NotifyListLogic sum("User", long_names, "", prompts);
  EXPECT_FALSE(sum.Ok(Select(3, {0, 1, 2}), ""));
  // Two of them fit the sum but not the rule's Values field.
  EXPECT_FALSE(sum.Ok(Select(3, {0, 1}), ""));
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>(
                                 2, "Too many users selected.\n\nSplit into multiple rules."));
  // Exactly the field's 127 characters are taken.
  NotifyListLogic fits("User", {std::string(63, 'a'), std::string(63, 'b')}, "", prompts);
  std::optional<std::string> values = fits.Ok(Select(2, {0, 1}), "");
  ASSERT_TRUE(values);
  EXPECT_EQ(values->size(), 127u);
}

TEST(NotifyList, OtherFieldsThatDoNotFitAreLeftOutWithTheMessage) {
  RecordingPrompts prompts;
  NotifyListLogic logic("Field", {"Owner", std::string(110, 'f')}, "", prompts);
  std::optional<std::string> values = logic.Ok(Select(2, {0, 1}), "Manager,Tester");
  ASSERT_TRUE(values);
  EXPECT_EQ(*values, "Owner," + std::string(110, 'f'));
  EXPECT_EQ(prompts.Texts(),
            std::vector<std::string>{"Too many users selected.\n\nSplit into multiple rules."});
}

}  // namespace
}  // namespace vigilo
