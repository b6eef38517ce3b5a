#include "platform/xbase/calendar.h"

#include <cctype>
#include <cstdio>

namespace vigilo::xbase {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDateLetter(char c) {
  char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u == 'C' || u == 'Y' || u == 'M' || u == 'D';
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool IsLeapYear(long year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(long year, long month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

// Julian day number of a Gregorian calendar date (valid dates only).
long JulianDay(long year, long month, long day) {
  long a = (14 - month) / 12;
  long y = year + 4800 - a;
  long m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

std::string EightDigits(long year, long month, long day) {
  char text[64];
  std::snprintf(text, sizeof text, "%04ld%02ld%02ld", year, month, day);
  return text;
}

// Writes value right-aligned in width digits, keeping its last digits when it
// has more.
std::string LastDigits(long value, size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() >= width) return digits.substr(digits.size() - width);
  return std::string(width - digits.size(), '0') + digits;
}

std::tm LocalTime(std::time_t when) {
  std::tm parts{};
  localtime_r(&when, &parts);
  return parts;
}

}  // namespace

long DigitsValue(std::string_view text, size_t count) {
  text = text.substr(0, count);
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (value > 100000000000000000L) break;  // keeps the sum in range
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::string DayToDate(long day) {
  if (day < kFirstDay || day > kLastDay) return {};
  // Inverse of JulianDay (Richards' algorithm for the Gregorian calendar).
  long a = day + 32044;
  long b = (4 * a + 3) / 146097;
  long c = a - 146097 * b / 4;
  long d = (4 * c + 3) / 1461;
  long e = c - 1461 * d / 4;
  long m = (5 * e + 2) / 153;
  long dd = e - (153 * m + 2) / 5 + 1;
  long mm = m + 3 - 12 * (m / 10);
  long yy = 100 * b + d - 4800 + m / 10;
  return EightDigits(yy, mm, dd);
}

long DateToDay(std::string_view date8) {
  if (date8.size() != 8) return -1;
  for (char c : date8) {
    if (!IsDigit(c)) return -1;
  }
  long year = DigitsValue(date8, 4);
  long month = DigitsValue(date8.substr(4), 2);
  long day = DigitsValue(date8.substr(6), 2);
  if (year < 1 || month < 1 || month > 12 || day < 1) return -1;
  if (day > DaysInMonth(year, month)) return -1;
  return JulianDay(year, month, day);
}

std::string DateToPicture(std::string_view date8, std::string_view picture) {
  bool valid = date8.size() == 8;
  for (char c : date8) valid = valid && IsDigit(c);
  long year = valid ? DigitsValue(date8, 4) : 0;
  long month = valid ? DigitsValue(date8.substr(4), 2) : 0;
  long day = valid ? DigitsValue(date8.substr(6), 2) : 0;

  std::string out;
  size_t i = 0;
  while (i < picture.size()) {
    char letter = picture[i];
    if (!IsDateLetter(letter)) {
      out += letter;
      ++i;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && Upper(picture[i + run]) == Upper(letter)) ++run;
    i += run;
    if (!valid) {
      out.append(run, ' ');
      continue;
    }
    switch (Upper(letter)) {
      case 'C': out += LastDigits(year / 100, run); break;
      case 'Y': out += LastDigits(run >= 4 ? year : year % 100, run); break;
      case 'M': out += LastDigits(month, run); break;
      default: out += LastDigits(day, run); break;
    }
  }
  return out;
}

std::string PictureToDate(std::string_view text, std::string_view picture) {
  long century = -1, year = -1, month = -1, day = -1;
  int year_digits = 0;
  size_t pos = 0;
  size_t i = 0;
  while (i < picture.size()) {
    char letter = picture[i];
    if (!IsDateLetter(letter)) {
      if (pos < text.size() && !IsDigit(text[pos])) ++pos;
      ++i;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && Upper(picture[i + run]) == Upper(letter)) ++run;
    i += run;
    char kind = Upper(letter);
    size_t limit = run;
    if (kind == 'Y' && century < 0) limit = run < 4 ? 4 : run;
    if ((kind == 'M' || kind == 'D') && limit < 2) limit = 2;
    size_t start = pos;
    while (pos < text.size() && pos - start < limit && IsDigit(text[pos])) ++pos;
    if (pos == start) return {};
    long value = DigitsValue(text.substr(start, pos - start), pos - start);
    switch (kind) {
      case 'C': century = value; break;
      case 'Y': year = value; year_digits = static_cast<int>(pos - start); break;
      case 'M': month = value; break;
      default: day = value; break;
    }
  }
  if (year < 0 || month < 0 || day < 0 || month > 99 || day > 99) return {};
  if (century >= 0) {
    year = century * 100 + year % 100;
  } else if (year_digits <= 2) {
    year += year < kCenturyPivot ? 2000 : 1900;
  }
  if (year > 9999) return {};
  return EightDigits(year, month, day);
}

std::string DateOf(std::time_t when) {
  std::tm parts = LocalTime(when);
  return EightDigits(parts.tm_year + 1900L, parts.tm_mon + 1L, parts.tm_mday);
}

std::string TimeOf(std::time_t when) {
  std::tm parts = LocalTime(when);
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min,
                parts.tm_sec);
  return text;
}

std::string Today() { return DateOf(std::time(nullptr)); }

std::string CurrentTime() { return TimeOf(std::time(nullptr)); }

}  // namespace vigilo::xbase
