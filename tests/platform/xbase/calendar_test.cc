#include "platform/xbase/calendar.h"

#include <gtest/gtest.h>

namespace vigilo::xbase {
namespace {

TEST(CalendarDays, KnownDayNumbers) {
  EXPECT_EQ(DateToDay("19700101"), 2440588);
  EXPECT_EQ(DayToDate(2440588), "19700101");
  EXPECT_EQ(DateToDay("00010101"), kFirstDay);
  EXPECT_EQ(DateToDay("99991231"), kLastDay);
  EXPECT_EQ(DayToDate(kFirstDay - 1), "");
  EXPECT_EQ(DayToDate(kLastDay + 1), "");
}

TEST(CalendarDays, ArithmeticAcrossMonthAndYearEnds) {
  EXPECT_EQ(DayToDate(DateToDay("19990131") + 5), "19990205");
  EXPECT_EQ(DayToDate(DateToDay("19990131") - 5), "19990126");
  EXPECT_EQ(DayToDate(DateToDay("19991231") + 1), "20000101");
  EXPECT_EQ(DayToDate(DateToDay("20000101") - 1), "19991231");
  EXPECT_EQ(DateToDay("20000101") - DateToDay("19990101"), 365);
  EXPECT_EQ(DateToDay("20010101") - DateToDay("20000101"), 366);
}

TEST(CalendarDays, TwentyNinthOfFebruary) {
  EXPECT_GT(DateToDay("20000229"), 0);  // divisible by 400
  EXPECT_GT(DateToDay("20240229"), 0);
  EXPECT_LT(DateToDay("19000229"), 0);  // divisible by 100 only
  EXPECT_LT(DateToDay("20230229"), 0);
  EXPECT_EQ(DayToDate(DateToDay("20240228") + 1), "20240229");
  EXPECT_EQ(DayToDate(DateToDay("20240229") + 1), "20240301");
  EXPECT_EQ(DayToDate(DateToDay("20230228") + 1), "20230301");
}

TEST(CalendarDays, InvalidDatesAreNegative) {
  for (const char* text : {"19991301", "19990001", "19990100", "19990431", "1999013",
                           "199901311", "        ", "1999O131", "", "00000101"}) {
    EXPECT_LT(DateToDay(text), 0) << text;
  }
}

TEST(CalendarPictures, DateToPicture) {
  EXPECT_EQ(DateToPicture("19990131", "MM/DD/YY"), "01/31/99");
  EXPECT_EQ(DateToPicture("19990131", "MM/DD/CCYY"), "01/31/1999");
  EXPECT_EQ(DateToPicture("20010705", "DD.MM.YY"), "05.07.01");
  EXPECT_EQ(DateToPicture("20010705", "YY-MM-DD"), "01-07-05");
  EXPECT_EQ(DateToPicture("20010705", "YYYY/MM/DD"), "2001/07/05");
  EXPECT_EQ(DateToPicture("        ", "MM/DD/YY"), "  /  /  ");
}

TEST(CalendarPictures, PictureToDate) {
  EXPECT_EQ(PictureToDate("01/31/99", "MM/DD/YY"), "19990131");
  EXPECT_EQ(PictureToDate("01/31/1999", "MM/DD/CCYY"), "19990131");
  EXPECT_EQ(PictureToDate("31.12.05", "DD.MM.YY"), "20051231");
  EXPECT_EQ(PictureToDate("05-12-31", "YY-MM-DD"), "20051231");
  EXPECT_EQ(PictureToDate("1/5/99", "MM/DD/YY"), "19990105");
  EXPECT_EQ(PictureToDate("01/31/1999", "MM/DD/YY"), "19990131");  // four-digit year typed
  EXPECT_EQ(PictureToDate("01/31/99 10:00", "MM/DD/YY"), "19990131");
  EXPECT_EQ(PictureToDate("01/31", "MM/DD/YY"), "");
  EXPECT_EQ(PictureToDate("", "MM/DD/YY"), "");
}

TEST(CalendarPictures, CenturyPivotForTwoDigitYears) {
  EXPECT_EQ(PictureToDate("01/01/69", "MM/DD/YY"), "20690101");
  EXPECT_EQ(PictureToDate("01/01/70", "MM/DD/YY"), "19700101");
  EXPECT_EQ(PictureToDate("01/01/00", "MM/DD/YY"), "20000101");
}

TEST(CalendarPictures, RoundTripThroughEveryPicture) {
  for (const char* picture : {"MM/DD/YY", "DD.MM.YY", "YY-MM-DD", "MM/DD/CCYY"}) {
    for (const char* date : {"19991231", "20000229", "20690101", "19700101"}) {
      EXPECT_EQ(PictureToDate(DateToPicture(date, picture), picture), date) << picture;
    }
  }
}

TEST(CalendarDigits, LeadingDigitsValue) {
  EXPECT_EQ(DigitsValue("19990131", 4), 1999);
  EXPECT_EQ(DigitsValue("0131", 2), 1);
  EXPECT_EQ(DigitsValue("  42abc", 7), 42);
  EXPECT_EQ(DigitsValue("-12", 3), -12);
  EXPECT_EQ(DigitsValue("abc", 3), 0);
  EXPECT_EQ(DigitsValue("123", 10), 123);
}

TEST(CalendarClock, TodayAndTimeForms) {
  std::time_t noon = 946728000;  // 2000-01-01 12:00 UTC, a date in any zone
  EXPECT_EQ(DateOf(noon).size(), 8u);
  EXPECT_GE(DateToDay(DateOf(noon)), 0);
  std::string time = TimeOf(noon);
  ASSERT_EQ(time.size(), 8u);
  EXPECT_EQ(time[2], ':');
  EXPECT_EQ(time[5], ':');
  EXPECT_GE(DateToDay(Today()), 0);
  EXPECT_EQ(CurrentTime().size(), 8u);
}

}  // namespace
}  // namespace vigilo::xbase
