// Calendar functions of the xBase table library: conversions between day
// numbers, eight-digit dates (CCYYMMDD, the dBase storage form), dates written
// in a picture such as "MM/DD/YY" or "MM/DD/CCYY", and the current date and time.
//
// Day numbers are Julian day numbers, as dBase counts them (1 January 1970 is
// day 2440588), so differences of day numbers are differences in days across
// month and year ends. Dates run from 1 January of year 1 to 31 December 9999.
// All functions are pure apart from Today and CurrentTime, which read the
// clock; every function may be called from any thread.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace vigilo::xbase {

// First and last valid day numbers (00010101 and 99991231).
inline constexpr long kFirstDay = 1721426;
inline constexpr long kLastDay = 5373484;

// Two-digit years read through a picture without a century ("YY") fall in
// 2000 to 2069 when below 70 and in 1970 to 1999 otherwise, so that a date
// typed as 01/31/99 is in 1999 and 01/31/05 is in 2005.
inline constexpr int kCenturyPivot = 70;

// The value of the leading digits of the first `count` characters of text, as
// atol reads them (leading blanks and one sign allowed; the first other
// character ends the number; no digits give 0).
long DigitsValue(std::string_view text, size_t count);

// The eight-digit date of a day number; empty when the day number lies outside
// kFirstDay..kLastDay.
std::string DayToDate(long day);

// The day number of an eight-digit date; -1 when the text is not eight digits
// or names no calendar day (month 13, 30 February, day 0, a blank date).
long DateToDay(std::string_view date8);

// Writes an eight-digit date in a picture. Runs of the letters C, Y, M and D
// (either case) take the century, the year, the month and the day; every other
// character is copied. A run "CC" gives the century's two digits, "YY" the last
// two digits of the year, "YYYY" the four-digit year, "MM" and "DD" month and
// day with leading zeros. A date that is not eight digits leaves the letter
// positions blank, as a blank dBase date shows.
std::string DateToPicture(std::string_view date8, std::string_view picture);

// Reads a date written in a picture and gives its eight-digit form. Each run of
// letters reads up to as many digits as the run is long ("YY" not preceded by
// "CC" also accepts a four-digit year), so 1/5/99 reads in MM/DD/YY as well as
// 01/05/99; a non-digit in the text where the picture has a separator is
// skipped. Two-digit years follow kCenturyPivot. Text after the date is
// ignored. The result is not checked as a calendar date (use DateToDay); it is
// empty when a component is missing from the text.
std::string PictureToDate(std::string_view text, std::string_view picture);

// The local date of a time as eight digits and its local time as "HH:MM:SS".
std::string DateOf(std::time_t when);
std::string TimeOf(std::time_t when);

// Today's local date (eight digits) and the current local time ("HH:MM:SS").
std::string Today();
std::string CurrentTime();

}  // namespace vigilo::xbase
