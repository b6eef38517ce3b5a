#include "data/value_translation.h"

#include <gtest/gtest.h>

#include "data/dates.h"
#include "tests/data/translation_fixture.h"

namespace vigilo {
namespace {

using testing::Manager;
using testing::SampleFields;
using testing::Service;

class ValueTranslation : public ::testing::Test {
 protected:
  const CFieldDef& Field(const char* name) { return *FindField(fields_, name); }
  std::string Value(const char* value, const char* field, const TranslationContext& context,
                    const char* alias = "") {
    return TranslateValues(value, Field(field), alias, context);
  }
  std::vector<CFieldDef> fields_ = SampleFields();
  std::vector<std::string> messages_;
};

TEST_F(ValueTranslation, TextOnServerKinds) {
  for (long kind : {1L, 2L, 3L}) {
    EXPECT_EQ(Value("Open", "Status", Service(kind)), "(Status = 'Open')");
    EXPECT_EQ(Value(">M", "Name", Service(kind)), "(Name > 'M')");
    EXPECT_EQ(Value("<M", "Name", Service(kind)), "(Name < 'M')");
    EXPECT_EQ(Value("=Open", "Status", Service(kind)), "(Status = 'Open')");
    EXPECT_EQ(Value("Open*", "Status", Service(kind)), "(Status like '%Open%')");
    EXPECT_EQ(Value("*Open*", "Status", Service(kind)), "(Status like '%Open%')");
    EXPECT_EQ(Value("abc", "Notes", Service(kind)), "(Notes like 'abc')");
    EXPECT_EQ(Value(" ", "Notes", Service(kind)), "(Notes IS NULL)");
    // The rule manager writes SQL for these kinds too.
    EXPECT_EQ(Value("Open", "Status", Manager(kind)), "(Status = 'Open')");
  }
  // A blank value is an empty test for every text field on kind 2 only.
  EXPECT_EQ(Value(" ", "Name", Service(2)), "(Name IS NULL)");
  EXPECT_EQ(Value(" ", "Name", Service(1)), "(Name = ' ')");
}

TEST_F(ValueTranslation, TextOnDbaseKindIsPaddedToWidth) {
  for (auto context : {Service(0), Manager(0)}) {
    EXPECT_EQ(Value("Open", "Status", context), "(Status = 'Open    ')");
    EXPECT_EQ(Value("Abcdefgh", "Name", context), "(Name = 'Abcdefgh  ')");
    EXPECT_EQ(Value("Abcdefghijkl", "Name", context), "(Name = 'Abcdefghij')");
    EXPECT_EQ(Value(">Mo", "Name", context), "(Name > 'Mo')");
    EXPECT_EQ(Value("abc", "Notes", context), "(Notes = 'abc')");
    EXPECT_EQ(Value(" ", "Notes", context), "(Notes+'.' = '.')");
  }
  EXPECT_EQ(Value("Open*", "Status", Service(0)), "(Status like '%Open%')");
  EXPECT_EQ(Value("Open*", "Status", Manager(0)), "(UPPER('Open') $ UPPER(Status))");
}

TEST_F(ValueTranslation, ApostrophesAreDoubledInSql) {
  EXPECT_EQ(Value("O'Brien", "Name", Service(1)), "(Name = 'O''Brien')");
  EXPECT_EQ(Value("O'Brien", "Name", Service(0)), "(Name = 'O''Brien   ')");
  EXPECT_EQ(Value("*O'B*", "Name", Service(2)), "(Name like '%O''B%')");
  EXPECT_EQ(Value("it's", "Notes", Service(3)), "(Notes like 'it''s')");
  EXPECT_EQ(Value("it's", "Notes", Service(0)), "(Notes = 'it''s')");
  EXPECT_EQ(Value("a'b,c", "Name", Service(1)), "((Name = 'a''b') OR (Name = 'c'))");
}

TEST_F(ValueTranslation, ApostrophesUseDoubleQuotesInXbase) {
  EXPECT_EQ(Value("O'Brien", "Name", Manager(0)), "(Name = \"O'Brien   \")");
  EXPECT_EQ(Value("it's", "Notes", Manager(0)), "(Notes = \"it's\")");
  EXPECT_EQ(Value("*O'B*", "Name", Manager(0)), "(UPPER(\"O'B\") $ UPPER(Name))");
  // Both quote characters cannot be written in the xBase dialect.
  EXPECT_EQ(Value("a'\"b", "Name", Manager(0)), "");
}

TEST_F(ValueTranslation, Numbers) {
  EXPECT_EQ(Value("5-10", "Count", Service(1)), "(Count >= 5 AND Count <= 10)");
  EXPECT_EQ(Value("5-10", "Priority", Service(0)), "(Priority >= 5 AND Priority <= 10)");
  EXPECT_EQ(Value("5-10", "Count", Manager(0)), "(Count >= 5 .AND. Count <= 10)");
  EXPECT_EQ(Value("-5", "Count", Service(1)), "(Count >= 0 AND Count <= 5)");
  EXPECT_EQ(Value(">7", "Count", Service(2)), "(Count > 7)");
  EXPECT_EQ(Value("<7", "Count", Service(2)), "(Count < 7)");
  EXPECT_EQ(Value("=7", "Count", Service(2)), "(Count = 7)");
  EXPECT_EQ(Value("abc", "Count", Service(2)), "(Count = 0)");
  EXPECT_EQ(Value("1,3", "Priority", Manager(0)), "((Priority = 1) .OR. (Priority = 3))");
}

TEST_F(ValueTranslation, DatesByProgramAndKind) {
  EXPECT_EQ(Value("01/01/99-01/31/99", "Due", Service(0)),
            "(Due >= #01/01/1999# AND Due <= #01/31/1999#)");
  for (long kind : {1L, 2L, 3L}) {
    EXPECT_EQ(Value("01/01/99-01/31/99", "Due", Service(kind)),
              "(Due >= '19990101' AND Due <= '19990131')");
    EXPECT_EQ(Value("01/01/99-01/31/99", "Due", Manager(kind)),
              "(Due >= '19990101' AND Due <= '19990131')");
  }
  EXPECT_EQ(Value("01/01/99-01/31/99", "Due", Manager(0)),
            "(DTOS(Due) >= '19990101' .AND. DTOS(Due) <= '19990131')");
  EXPECT_EQ(Value("19990131", "Due", Service(0)), "(Due = #01/31/1999#)");
  EXPECT_EQ(Value("19990131", "Due", Service(1)), "(Due = '19990131')");
  EXPECT_EQ(Value("19990131", "Due", Manager(0)), "(DTOS(Due) = '19990131')");
  EXPECT_EQ(Value(">19990131", "Due", Service(0)), "(Due > #01/31/1999#)");
  EXPECT_EQ(Value("<19990131", "Due", Service(2)), "(Due < '19990131')");
  EXPECT_EQ(Value(">19990131", "Due", Manager(0)), "(DTOS(Due) > '19990131')");
  EXPECT_EQ(Value(" ", "Due", Service(1)), "(Due = ' ')");
  EXPECT_EQ(Value(" ", "Due", Manager(0)), "(DTOS(Due) = ' ')");
}

TEST_F(ValueTranslation, DateTokenStaysForTheSelectionStep) {
  EXPECT_EQ(Value("Date()", "Due", Service(0)), "(Due = Date())");
  EXPECT_EQ(Value(">Date()", "Due", Service(1)), "(Due > Date())");
  EXPECT_EQ(Value("Date()", "Due", Manager(0)), "(DTOS(Due) = 'Date()')");
}

TEST_F(ValueTranslation, DateRangesWithDashSeparator) {
  auto dashed = testing::WithDashSeparator(Service(1));
  EXPECT_EQ(Value("99-01-01 - 99-01-31", "Due", dashed),
            "(Due >= '19990101' AND Due <= '19990131')");
  EXPECT_EQ(Value("99-01-31", "Due", dashed), "(Due = '19990131')");
}

TEST_F(ValueTranslation, InvalidDatesGiveNoTextAndAMessage) {
  EXPECT_EQ(Value(" ", "Due", Service(0, &messages_)), "");
  EXPECT_EQ(Value("13/45/99", "Due", Service(1, &messages_)), "");
  EXPECT_EQ(Value("abc", "Stamp", Service(1, &messages_)), "");
  ASSERT_EQ(messages_.size(), 3u);
  EXPECT_EQ(messages_[0], "Invalid date value (MM/DD/YY) in the Due field!\n");
  EXPECT_EQ(messages_[2], "Invalid date value (MM/DD/YY) in the Stamp field!\n");
  // One bad item of a list leaves the others.
  EXPECT_EQ(Value("19990131,xx", "Due", Service(1)), "((Due = '19990131'))");
}

TEST_F(ValueTranslation, ChangeDateFollowsTextRules) {
  EXPECT_EQ(Value("19990131", "ChngHist->ChngDate", Service(1)),
            "(ChngHist->ChngDate = '19990131')");
  EXPECT_EQ(Value("1999*", "ChngHist->ChngDate", Service(1)),
            "(ChngHist->ChngDate like '%1999%')");
}

TEST_F(ValueTranslation, SecondsFields) {
  std::string seconds = *DateTimeValue(DateSettings{}, "01/31/99 10:20:30");
  EXPECT_EQ(Value("01/31/99 10:20:30", "Stamp", Service(1)), "(Stamp = " + seconds + ")");
  EXPECT_EQ(Value(">917778030", "Stamp", Service(0)), "(Stamp > 917778030)");
  EXPECT_EQ(Value("DateTime()", "Stamp", Service(2)), "(Stamp = DateTime())");
  EXPECT_EQ(Value("100-200", "Stamp", Service(1)), "(Stamp >= 100 AND Stamp <= 200)");
  EXPECT_EQ(Value("100-200", "Stamp", Manager(0)), "(Stamp >= 100 .AND. Stamp <= 200)");
}

TEST_F(ValueTranslation, DateTimeFieldsInTheService) {
  EXPECT_EQ(Value("DateTime()", "When", Service(1)), "(When = getdate())");
  EXPECT_EQ(Value("DateTime()", "When", Service(3)), "(When = getdate())");
  EXPECT_EQ(Value("<DateTime()", "When", Service(2)), "(When < sysdate)");
  EXPECT_EQ(Value(">=01/31/99 10:20:30", "When", Service(1)),
            "(When >= '01/31/1999 10:20:30')");
  EXPECT_EQ(Value("01/31/99 10:20", "When", Service(2)),
            "(When = TO_DATE('01/31/1999 10:20:00','MM/DD/YYYY HH24:MI:SS'))");
  EXPECT_EQ(Value("01/01/99 10:00-01/31/99 12:00", "When", Service(1)),
            "(When  BETWEEN '01/01/1999 10:00:00' AND '01/31/1999 12:00:00' )");
  std::vector<std::string> none;
  EXPECT_EQ(Value("DateTime()", "When", Service(0, &none)), "");
  EXPECT_EQ(Value("garbage", "When", Service(1, &none)), "");
  EXPECT_TRUE(none.empty());
  // The rule manager treats the type as text.
  EXPECT_EQ(Value("x", "When", Manager(1)), "(When = 'x')");
}

TEST_F(ValueTranslation, ListsAndAliases) {
  EXPECT_EQ(Value("Open,Fixed", "Status", Service(1)),
            "((Status = 'Open') OR (Status = 'Fixed'))");
  EXPECT_EQ(Value("a&b", "Name", Service(1)), "((Name = 'a') AND (Name = 'b'))");
  EXPECT_EQ(Value("a,b&c", "Name", Service(1)), "((Name = 'a') OR (Name = 'b&c'))");
  EXPECT_EQ(Value("a&b", "Name", Manager(0)), "((Name = 'a    ') .AND. (Name = 'b    '))");
  EXPECT_EQ(Value("a,,b,", "Name", Service(1)), "((Name = 'a') OR (Name = 'b'))");
  EXPECT_EQ(Value("Open", "Status", Service(0), "b"), "(b->Status = 'Open    ')");
  EXPECT_EQ(Value("Open", "Status", Service(2), "b"), "(b.Status = 'Open')");
}

}  // namespace
}  // namespace vigilo
