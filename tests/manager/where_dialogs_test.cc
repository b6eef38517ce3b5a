// The Where Condition dialogs (operator, value list, keyword) and the Range
// and FromTo dialogs they open: what each choice stores, and every refusal.
#include <gtest/gtest.h>

#include "data/name_lists.h"
#include "manager/from_to.h"
#include "manager/range.h"
#include "manager/where_keyword.h"
#include "manager/where_operator.h"
#include "manager/where_value_list.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

CFieldDef Field(const std::string& name, int type, std::vector<std::string> choices = {},
                int flags = 1) {
  CFieldDef field(1);
  field.name = name;
  field.label = name + " label";
  field.type = type;
  field.choices = std::move(choices);
  field.flags = flags;
  return field;
}

Clause ClauseOn(const std::string& column, const std::string& values = "") {
  Clause clause;
  clause.column = column;
  clause.values = values;
  return clause;
}

DateSettings DashDates() {
  DateSettings settings;
  settings.separator = '-';
  settings.order[0] = 'D';
  settings.order[1] = 'M';
  settings.order[2] = 'Y';
  settings.picture = "DD-MM-YY";
  return settings;
}

TEST(WhereDialogChoice, ByFieldType) {
  for (int type : {1, 3, 7, 10, 12}) {
    CFieldDef field = Field("F", type);
    EXPECT_EQ(WhereDialogFor(&field), WhereDialog::kOperator) << type;
  }
  for (int type : {5, 9}) {
    CFieldDef field = Field("F", type);
    EXPECT_EQ(WhereDialogFor(&field), WhereDialog::kValueList) << type;
  }
  for (int type : {0, 2, 4, 11}) {
    CFieldDef field = Field("F", type);
    EXPECT_EQ(WhereDialogFor(&field), WhereDialog::kKeyword) << type;
  }
  EXPECT_EQ(WhereDialogFor(nullptr), WhereDialog::kKeyword);
  CFieldDef status = Field("Status", 5);
  Clause clause = ClauseOn("Status");
  EXPECT_EQ(WhereCaption(clause, &status), "Where Status label is");
  clause.qualifier = "Old";
  EXPECT_EQ(WhereCaption(clause, &status), "Where Old Status label is");
}

TEST(OperatorDialog, OperatorsExpressionAndWhatOkStores) {
  RecordingPrompts prompts;
  CFieldDef number = Field("Priority", CFieldDef::kNumber);
  OperatorCondLogic logic(&number, ClauseOn("Priority", "=1"), DateSettings{}, prompts);
  EXPECT_EQ(logic.Label(), "Where Priority label equals:");
  EXPECT_EQ(logic.Operators(), (std::vector<std::string>{"=", "<", ">", "Range(-)", "{none}"}));
  EXPECT_EQ(logic.InitialExpression(), "=1");

  std::string expression = "=1";
  EXPECT_EQ(logic.Select(std::nullopt, expression), OperatorCondLogic::Selection::kNothing);
  EXPECT_EQ(prompts.beeps, 1);
  EXPECT_EQ(logic.Select(3, expression), OperatorCondLogic::Selection::kRange);
  EXPECT_EQ(expression, "=1");
  EXPECT_EQ(logic.Select(2, expression), OperatorCondLogic::Selection::kReplaced);
  EXPECT_EQ(expression, ">");
  EXPECT_EQ(logic.Select(4, expression), OperatorCondLogic::Selection::kReplaced);
  EXPECT_EQ(logic.Ok(expression), " ");  // {none}: one blank, the empty test

  EXPECT_FALSE(logic.Ok(""));
  EXPECT_EQ(prompts.beeps, 2);
  EXPECT_EQ(logic.Ok("1.5-2.5"), "1.5-2.5");
  EXPECT_EQ(logic.Ok(std::string(70, '9')), std::string(63, '9'));

  OperatorCondLogic empty(&number, ClauseOn("Priority", " "), DateSettings{}, prompts);
  EXPECT_EQ(empty.InitialExpression(), "{none}");
}

TEST(OperatorDialog, DatesShownAndTypedInTheUsersFormat) {
  RecordingPrompts prompts;
  CFieldDef due = Field("Due", CFieldDef::kDate);
  OperatorCondLogic logic(&due, ClauseOn("Due", "<19990102"), DateSettings{}, prompts);
  EXPECT_EQ(logic.Operators().back(), "Date()");
  EXPECT_EQ(logic.InitialExpression(), "<01/02/99");
  EXPECT_EQ(logic.Ok(">12/31/98"), ">19981231");
  EXPECT_EQ(logic.Ok("01/02/99-02/03/99"), "19990102-19990203");
  EXPECT_EQ(logic.Ok("Date()"), "Date()");

  OperatorCondLogic dashed(&due, ClauseOn("Due", "19990102 - 19990203"), DashDates(), prompts);
  EXPECT_EQ(dashed.InitialExpression(), "02-01-99 - 03-02-99");
  EXPECT_EQ(dashed.Ok("02-01-99 - 03-02-99"), "19990102 - 19990203");

  // A date-time is stored as typed.
  CFieldDef stamp = Field("Stamp", CFieldDef::kDateTime);
  OperatorCondLogic typed(&stamp, ClauseOn("Stamp"), DateSettings{}, prompts);
  EXPECT_EQ(typed.Ok("=01/02/99 10:00:00"), "=01/02/99 10:00:00");
}

TEST(RangeDialog, SeparatorFollowsTheUsersDates) {
  RecordingPrompts prompts;
  RangeLogic dashed("Due", '-', prompts);
  EXPECT_EQ(dashed.Label(), "Specify the range of Due");
  EXPECT_EQ(dashed.Ok("01-02-99", "03-04-99"), "01-02-99 - 03-04-99");
  EXPECT_EQ(SplitRangeText("01-02-99 - 03-04-99", '-'),
            (std::pair<std::string, std::string>{"01-02-99", "03-04-99"}));

  RangeLogic slashed("Priority", '/', prompts);
  EXPECT_EQ(slashed.Ok("1", "3"), "1-3");
  EXPECT_EQ(SplitRangeText("1-3", '/'), (std::pair<std::string, std::string>{"1", "3"}));
  EXPECT_EQ(SplitRangeText("=5", '/'), (std::pair<std::string, std::string>{}));

  EXPECT_FALSE(slashed.Ok("1", ""));
  EXPECT_FALSE(slashed.Ok("", "3"));
  EXPECT_EQ(prompts.beeps, 2);
}

TEST(ValueListDialog, ShowsChoicesAndTheClausesValue) {
  RecordingPrompts prompts;
  CFieldDef status = Field("Status", CFieldDef::kList, {"Open", "Fixed", "Closed"}, 0x201);
  ValueListCondLogic logic(&status, ClauseOn("Status", "Fixed&Closed&Later"), prompts);
  EXPECT_EQ(logic.Label(), "Where Status label is");
  EXPECT_EQ(logic.Entries(), (std::vector<std::string>{"Open", "Fixed", "Closed", "->"}));
  EXPECT_EQ(logic.InitiallySelected(), (std::vector<size_t>{1, 2}));
  EXPECT_EQ(logic.InitialOther(), "Later");  // kept, not lost
  EXPECT_EQ(logic.InitialOption(), SearchOption::kAnd);
  EXPECT_TRUE(logic.IsChangeEntry(3));
  EXPECT_EQ(logic.Ok(logic.InitiallySelected(), logic.InitialOther(), logic.InitialOption()),
            "Fixed&Closed&Later");

  ValueListCondLogic none(&status, ClauseOn("Status", " "), prompts);
  EXPECT_EQ(none.InitialOption(), SearchOption::kNone);
  EXPECT_TRUE(none.InitiallySelected().empty());
  ValueListCondLogic change(&status, ClauseOn("Status", "Open->Closed"), prompts);
  EXPECT_EQ(change.InitialOther(), "Open->Closed");
  EXPECT_EQ(change.InitialOption(), SearchOption::kOr);
}

TEST(ValueListDialog, OkJoinsSelectionAndOtherValues) {
  RecordingPrompts prompts;
  CFieldDef status = Field("Status", CFieldDef::kList, {"Open", "Fixed", "Closed"}, 0x201);
  ValueListCondLogic logic(&status, ClauseOn("Status"), prompts);
  EXPECT_EQ(logic.Ok({1, 0}, "", SearchOption::kOr), "Open,Fixed");  // list order
  EXPECT_EQ(logic.Ok({0, 3}, "", SearchOption::kAnd), "Open");       // "->" left out
  EXPECT_EQ(logic.Ok({0}, "Later", SearchOption::kAnd), "Open&Later");
  EXPECT_EQ(logic.Ok({}, "Later", SearchOption::kOr), "Later");  // leading "," dropped
  EXPECT_EQ(logic.Ok({}, "Open->Closed", SearchOption::kOr), "Open->Closed");
  EXPECT_EQ(logic.Ok({0}, "", SearchOption::kNone), " ");
  EXPECT_EQ(logic.Ok({}, std::string(40, 'x'), SearchOption::kOr), std::string(31, 'x'));

  EXPECT_FALSE(logic.Ok({}, "", SearchOption::kOr));
  EXPECT_FALSE(logic.Ok({3}, "", SearchOption::kOr));  // only "->"
  EXPECT_EQ(prompts.beeps, 2);
  EXPECT_TRUE(prompts.shown.empty());
}

TEST(ValueListDialog, RefusesMoreThan128Characters) {
  RecordingPrompts prompts;
  std::vector<std::string> choices;
  for (int i = 0; i < 20; ++i) choices.push_back("Choice" + std::to_string(100 + i));
  CFieldDef field = Field("Area", CFieldDef::kList, choices);
  ValueListCondLogic logic(&field, ClauseOn("Area"), prompts);
  // 14 items of 9 characters and 13 commas: 139 characters.
  std::vector<size_t> rows;
  for (size_t i = 0; i < 14; ++i) rows.push_back(i);
  EXPECT_FALSE(logic.Ok(rows, "", SearchOption::kOr));
  ASSERT_EQ(prompts.Texts(), std::vector<std::string>{
                                 "Too many items selected!\n\nSelect fewer items and try again."});
  EXPECT_EQ(prompts.shown[0].caption, "Morvane Vigilo");
  rows.resize(12);  // 12 * 9 + 11 = 119
  EXPECT_TRUE(logic.Ok(rows, "", SearchOption::kOr));
}

TEST(ValueListDialog, UserFieldsGetTheNameListsOnceAndShowGroupsWithoutTheirMark) {
  std::vector<std::string> users = UserNameList();
  std::vector<std::string> groups = GroupNameList();
  UserNameList() = {"anna", "bert"};
  GroupNameList() = {"Testers($Group$)"};
  RecordingPrompts prompts;
  CFieldDef owner = Field("Owner", CFieldDef::kUser);
  owner.attribute_number = 0x21;
  ValueListCondLogic logic(&owner, ClauseOn("Owner", "Testers"), prompts);
  EXPECT_EQ(logic.Entries(), (std::vector<std::string>{"anna", "bert", "Testers"}));
  EXPECT_EQ(logic.InitiallySelected(), std::vector<size_t>{2});
  EXPECT_EQ(owner.choices.size(), 3u);

  UserNameList() = {"carl"};
  ValueListCondLogic again(&owner, ClauseOn("Owner"), prompts);
  EXPECT_EQ(again.Entries().size(), 3u);  // filled once, kept with the field

  CFieldDef plain = Field("Helper", CFieldDef::kUser);
  FillUserChoices(plain);
  EXPECT_EQ(plain.choices, std::vector<std::string>{"carl"});  // no group bit
  UserNameList() = users;
  GroupNameList() = groups;
}

TEST(FromToDialog, PreselectsAndReturnsAChange) {
  RecordingPrompts prompts;
  CFieldDef owner = Field("Owner", CFieldDef::kUser, {"anna", "Testers($Group$)"});
  FromToLogic logic(&owner, "Owner", "anna -> Testers", prompts);
  EXPECT_EQ(logic.Label(), "Specify the from and to value of Owner");
  EXPECT_EQ(logic.Entries(), (std::vector<std::string>{"anna", "Testers"}));
  EXPECT_EQ(logic.InitialFrom(), std::optional<size_t>(0));
  EXPECT_EQ(logic.InitialTo(), std::optional<size_t>(1));
  EXPECT_EQ(logic.Ok("Testers", "anna"), "Testers->anna");
  EXPECT_FALSE(logic.Ok("", "anna"));
  EXPECT_EQ(prompts.beeps, 1);
}

TEST(KeywordDialog, RefusesForbiddenCharactersAndKeepsAlphabeticalOrder) {
  RecordingPrompts prompts;
  KeywordCondLogic logic(ClauseOn("Title"), "Where Title is", prompts);
  EXPECT_EQ(logic.option(), SearchOption::kOr);
  for (const char* bad : {"a*", "a,b", "a&b", "say \"x\"", "it's", "hey!"}) {
    EXPECT_FALSE(logic.Add(bad)) << bad;
  }
  EXPECT_EQ(prompts.Texts(), std::vector<std::string>(6, "Invalid character entered!"));
  EXPECT_FALSE(logic.Add(""));
  EXPECT_EQ(prompts.beeps, 1);

  EXPECT_EQ(logic.Add("de"), std::optional<size_t>(0));
  EXPECT_EQ(logic.Add("abc"), std::optional<size_t>(0));
  EXPECT_EQ(logic.Add("Bcd"), std::optional<size_t>(1));
  EXPECT_EQ(logic.Keywords(), (std::vector<std::string>{"abc", "Bcd", "de"}));
  logic.Remove(1);
  logic.SetWildcard(true);
  EXPECT_EQ(logic.Ok(), "*abc*,*de*");
  logic.SetWildcard(false);
  logic.SetOption(SearchOption::kAnd);
  EXPECT_EQ(logic.Ok(), "abc&de");
  logic.Remove(std::nullopt);
  EXPECT_EQ(prompts.beeps, 2);
}

TEST(KeywordDialog, NoneEmptiesAndAddingLeavesIt) {
  RecordingPrompts prompts;
  KeywordCondLogic logic(ClauseOn("Title", "*abc*&*de*"), "", prompts);
  EXPECT_EQ(logic.Keywords(), (std::vector<std::string>{"abc", "de"}));
  EXPECT_TRUE(logic.wildcard());
  EXPECT_EQ(logic.option(), SearchOption::kAnd);

  logic.SetOption(SearchOption::kNone);
  EXPECT_TRUE(logic.Keywords().empty());
  EXPECT_FALSE(logic.wildcard());
  EXPECT_EQ(logic.Ok(), " ");
  logic.Add("xyz");
  EXPECT_EQ(logic.option(), SearchOption::kOr);
  EXPECT_TRUE(logic.wildcard());
  EXPECT_EQ(logic.Ok(), "*xyz*");

  KeywordCondLogic empty(ClauseOn("Title", " "), "", prompts);
  EXPECT_EQ(empty.option(), SearchOption::kNone);
  empty.SetOption(SearchOption::kOr);
  EXPECT_FALSE(empty.Ok());
  EXPECT_EQ(prompts.beeps, 1);

  KeywordCondLogic plain(ClauseOn("Title", "x,y"), "", prompts);
  EXPECT_FALSE(plain.wildcard());
  EXPECT_EQ(plain.Ok(), "x,y");
}

}  // namespace
}  // namespace vigilo
