#include "data/dates.h"

#include <gtest/gtest.h>

#include "data/clock.h"

namespace vigilo {
namespace {

std::time_t LocalMoment(int year, int month, int day, int hour, int minute, int second) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  return std::mktime(&parts);
}

DateSettings Us() { return DateSettings{}; }

DateSettings German() {
  DateSettings settings;
  settings.separator = '.';
  settings.order[0] = 'D';
  settings.order[1] = 'M';
  settings.order[2] = 'Y';
  settings.picture = "DD.MM.YY";
  return settings;
}

DateSettings Iso() {
  DateSettings settings;
  settings.separator = '-';
  settings.order[0] = 'Y';
  settings.order[1] = 'M';
  settings.order[2] = 'D';
  settings.picture = "YY-MM-DD";
  return settings;
}

TEST(ParseUserDate, NormalisesToTwoDigits) {
  EXPECT_EQ(ParseUserDate(Us(), "1/5/99"), "01/05/99");
  EXPECT_EQ(ParseUserDate(German(), "31.12.99"), "31.12.99");
  EXPECT_EQ(ParseUserDate(Iso(), "99-1-31"), "99-01-31");
}

TEST(ParseUserDate, MissingYearIsTakenFromToday) {
  ScopedFixedNow now(LocalMoment(2026, 3, 15, 10, 0, 0));
  EXPECT_EQ(ParseUserDate(German(), "31.12"), "31.12.26");
  EXPECT_EQ(ParseUserDate(German(), "31.12."), "31.12.26");
  EXPECT_EQ(ParseUserDate(Us(), "12/31"), "12/31/26");
  // The third component of YY-MM-DD is the day.
  EXPECT_EQ(ParseUserDate(Iso(), "99-01"), "99-01-15");
}

TEST(ParseUserDate, RejectsBadComponents) {
  EXPECT_EQ(ParseUserDate(German(), "31.13.99"), std::nullopt);  // month 13
  EXPECT_EQ(ParseUserDate(Us(), "01/32/99"), std::nullopt);
  EXPECT_EQ(ParseUserDate(Us(), "01/31/100"), std::nullopt);
  EXPECT_EQ(ParseUserDate(Us(), "013199"), std::nullopt);  // no separator
  EXPECT_EQ(ParseUserDate(Us(), "ab/cd/ef"), std::nullopt);
  EXPECT_EQ(ParseUserDate(Us(), "02/30/99"), std::nullopt);  // no such day
  EXPECT_EQ(ParseUserDate(Us(), ""), std::nullopt);
}

TEST(ParseUserDate, DayOffsets) {
  EXPECT_EQ(ParseUserDate(Us(), "01/31/99+5"), "02/05/99");
  EXPECT_EQ(ParseUserDate(Us(), "01/31/99-5"), "01/26/99");
  EXPECT_EQ(ParseUserDate(Us(), "12/31/99+1"), "01/01/00");
  EXPECT_EQ(ParseUserDate(Us(), "02/28/00+1"), "02/29/00");
  EXPECT_EQ(ParseUserDate(Us(), "01/31/99+0"), "01/31/99");
}

TEST(DateToDatabase, ByKind) {
  EXPECT_EQ(DateToDatabase(Us(), "19990131", 0), "#01/31/1999#");
  EXPECT_EQ(DateToDatabase(Us(), "19990131", 1), "19990131");
  EXPECT_EQ(DateToDatabase(Us(), "01/31/99", 2), "19990131");
  EXPECT_EQ(DateToDatabase(Us(), "01/31/99", 0), "#01/31/1999#");
  EXPECT_EQ(DateToDatabase(German(), "31.01.99", 3), "19990131");
  EXPECT_EQ(DateToDatabase(Us(), "date()", 1), "date()");
  EXPECT_EQ(DateToDatabase(Us(), "DATE()", 0), "DATE()");
  EXPECT_EQ(DateToDatabase(Us(), "19991331", 1), std::nullopt);
  EXPECT_EQ(DateToDatabase(Us(), "        ", 0), std::nullopt);
  EXPECT_EQ(DateToDatabase(Us(), "13/01/99", 1), std::nullopt);
}

TEST(DateToStoredForm, Forms) {
  EXPECT_EQ(DateToStoredForm(Us(), "Date()"), "Date()");
  EXPECT_EQ(DateToStoredForm(Us(), "01/31/99"), "19990131");
  EXPECT_EQ(DateToStoredForm(German(), "31.01.05"), "20050131");
  EXPECT_EQ(DateToStoredForm(Us(), "19990131"), "19990131");
  EXPECT_EQ(DateToStoredForm(Us(), "02/30/99"), std::nullopt);
  EXPECT_EQ(DateToStoredForm(Us(), "xyz"), std::nullopt);
}

TEST(ParseDateTime, WithAndWithoutTime) {
  EXPECT_EQ(ParseDateTime(Us(), "1/31/99 9:5:7"), "01/31/99 09:05:07");
  EXPECT_EQ(ParseDateTime(Us(), "01/31/99 23:59"), "01/31/99 23:59:00");
  {
    ScopedFixedNow now(LocalMoment(2026, 3, 15, 10, 20, 30));
    EXPECT_EQ(ParseDateTime(Us(), "01/31/99"), "01/31/99 10:20:30");
  }
  EXPECT_EQ(ParseDateTime(Us(), "01/31/99 24:00"), std::nullopt);
  EXPECT_EQ(ParseDateTime(Us(), "01/31/99 10:60"), std::nullopt);
  EXPECT_EQ(ParseDateTime(Us(), "01/31/99 10"), std::nullopt);
  EXPECT_EQ(ParseDateTime(Us(), "01/31/99 10:00" + std::string(20, ' ')), std::nullopt);
}

TEST(DateTimeToSeconds, LocalTime) {
  EXPECT_EQ(DateTimeToSeconds(Us(), "01/31/99 10:20:30"), LocalMoment(1999, 1, 31, 10, 20, 30));
  EXPECT_EQ(DateTimeToSeconds(German(), "31.01.99 10:20:30"),
            LocalMoment(1999, 1, 31, 10, 20, 30));
  // A two-digit year of 1969 lies in 2069.
  EXPECT_EQ(DateTimeToSeconds(Us(), "12/31/69 00:00:00"), LocalMoment(2069, 12, 31, 0, 0, 0));
  EXPECT_EQ(DateTimeToSeconds(Us(), "01/31/99"), LocalMoment(1999, 1, 31, 0, 0, 0));
}

TEST(DateTimeToSeconds, MalformedGivesZero) {
  EXPECT_EQ(DateTimeToSeconds(Us(), "1/1 10:00"), 0);  // date part too short
  EXPECT_EQ(DateTimeToSeconds(Us(), "xx/yy/zz 10:00"), 0);
  EXPECT_EQ(DateTimeToSeconds(Us(), "01/31/99 " + std::string(16, '1')), 0);
  EXPECT_EQ(DateTimeToSeconds(Us(), ""), 0);
}

TEST(DateTimeValue, Forms) {
  EXPECT_EQ(DateTimeValue(Us(), "DateTime()"), "DateTime()");
  EXPECT_EQ(DateTimeValue(Us(), "917778030"), "917778030");
  EXPECT_EQ(DateTimeValue(Us(), "01/31/99 10:20:30"),
            std::to_string(LocalMoment(1999, 1, 31, 10, 20, 30)));
  EXPECT_EQ(DateTimeValue(Us(), "01/32/99 10:20:30"), std::nullopt);
}

TEST(SecondsToDisplay, ShowsFourDigitYearSource) {
  EXPECT_EQ(SecondsToDisplay(Us(), 0), "");
  EXPECT_EQ(SecondsToDisplay(Us(), -5), "");
  EXPECT_EQ(SecondsToDisplay(Us(), LocalMoment(2001, 7, 5, 8, 9, 10)), "07/05/01 08:09:10");
  DateSettings wide = Us();
  wide.picture = "MM/DD/CCYY";
  EXPECT_EQ(SecondsToDisplay(wide, LocalMoment(2001, 7, 5, 8, 9, 10)), "07/05/2001 08:09:10");
}

TEST(StoredDateToDisplay, Forms) {
  EXPECT_EQ(StoredDateToDisplay(German(), "01/31/99", false), "31.01.99");
  EXPECT_EQ(StoredDateToDisplay(German(), "19990131", false), "31.01.99");
  EXPECT_EQ(StoredDateToDisplay(German(), "19990231", false), std::nullopt);
  EXPECT_EQ(StoredDateToDisplay(German(), "", false), std::nullopt);
  std::string seconds = std::to_string(LocalMoment(2001, 7, 5, 8, 9, 10));
  EXPECT_EQ(StoredDateToDisplay(German(), seconds, true), "05.07.01 08:09");
  EXPECT_EQ(StoredDateToDisplay(German(), seconds, false), "05.07.01");
  EXPECT_EQ(StoredDateToDisplay(German(), "12345678901x", false), std::nullopt);
}

TEST(HexToBytes, UpperCaseDigitsOnly) {
  EXPECT_EQ(HexToBytes(""), "");
  EXPECT_EQ(HexToBytes("41420A"), "AB\n");
  EXPECT_EQ(HexToBytes("00FF"), std::string("\0\xff", 2));
  EXPECT_EQ(HexToBytes("414"), "A");
  EXPECT_EQ(HexToBytes("4a"), std::nullopt);
  EXPECT_EQ(HexToBytes("4G"), std::nullopt);
}

TEST(ReplaceTokens, DateAndUser) {
  ScopedFixedNow now(LocalMoment(2026, 3, 15, 10, 0, 0));
  EXPECT_EQ(ReplaceTokens("(Due is (<Date()))"), "(Due is (<20260315))");
  EXPECT_EQ(ReplaceTokens("(Owner is (User()))"), "(Owner is ())");
  EXPECT_EQ(ReplaceTokens("f() Date() x"), "f() 20260315 x");
  EXPECT_EQ(ReplaceTokens("no tokens"), "no tokens");
}

TEST(DateRanges, SplitAndWrite) {
  EXPECT_EQ(SplitDateRange(Us(), "01/01/99-01/31/99"),
            std::make_pair(std::string("01/01/99"), std::string("01/31/99")));
  EXPECT_EQ(SplitDateRange(Iso(), "99-01-01"), std::nullopt);
  EXPECT_EQ(SplitDateRange(Iso(), "99-01-01 - 99-01-31"),
            std::make_pair(std::string("99-01-01"), std::string("99-01-31")));
  EXPECT_EQ(DateRangeText(Us(), "1/1/99", "1/31/99"), "01/01/99-01/31/99");
  EXPECT_EQ(DateRangeText(Iso(), "99-1-1", "99-1-31"), "99-01-01 - 99-01-31");
  EXPECT_EQ(DateRangeText(Us(), "1/1/99", "13/31/99"), std::nullopt);
}

TEST(ParseLocalDateTime, DatabaseAndUserForms) {
  auto iso = ParseLocalDateTime(German(), "1999-01-31 10:20:30");
  ASSERT_TRUE(iso);
  EXPECT_EQ(iso->year, 1999);
  EXPECT_EQ(iso->day, 31);
  EXPECT_EQ(iso->second, 30);
  auto user = ParseLocalDateTime(German(), "31.01.99 10:20");
  ASSERT_TRUE(user);
  EXPECT_EQ(user->month, 1);
  EXPECT_EQ(user->minute, 20);
  auto us = ParseLocalDateTime(German(), "01/31/1999");
  ASSERT_TRUE(us);
  EXPECT_EQ(us->year, 1999);
  EXPECT_FALSE(ParseLocalDateTime(German(), "1999-02-30"));
  EXPECT_FALSE(ParseLocalDateTime(German(), "31.01.99 25:00"));
  EXPECT_FALSE(ParseLocalDateTime(German(), "yesterday"));
}

}  // namespace
}  // namespace vigilo
