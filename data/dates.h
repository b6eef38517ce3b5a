// Conversions between the date and time forms the system passes around: the
// user's short-date text (in the settings' picture, two-digit years), the
// eight-digit CCYYMMDD form of dBase and of stored conditions, seconds since
// 1970-01-01 00:00 local time (change-history dates, field type 11), and the
// date literals written into statements for each database kind.
//
// Every conversion reports failure by its result (std::nullopt, 0 or an empty
// text) and never throws. Results that depend on the current date or time read
// it from Now() (data/clock.h). The calendar arithmetic is the xBase library's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "data/date_settings.h"

namespace vigilo {

// Normalises a user date text: three numbers in the settings' order joined by
// the separator, each written with two digits ("%02d%c%02d%c%02d"). A missing
// third component is taken from today (the year's last two digits, the month
// or the day). When the ninth character is "+" or "-", the number after it is
// a count of days added to or subtracted from the date. Fails when a component
// is not a number, is out of range (month 0-12, day 0-31, year 0-99), the first
// separator is missing, or the text names no calendar day (02/30/99).
std::optional<std::string> ParseUserDate(const DateSettings& settings, std::string_view text);

// The rule service's date literal of a condition value for a database kind.
// "DATE()" in any case stays as it is. Kind 0 gives "#MM/DD/CCYY#"; kinds 1 to
// 3 give the eight digits CCYYMMDD. The value is eight-digit text when it does
// not hold the separator (its first eight characters), else a user date. Fails
// when no valid calendar date results.
std::optional<std::string> DateToDatabase(const DateSettings& settings, std::string_view value,
                                          long kind);

// The rule manager's stored form of a date value: "Date()" stays; eight-digit
// text (no separator) is kept as its first eight characters; a user date is
// converted to CCYYMMDD. Fails when no valid calendar date results.
std::optional<std::string> DateToStoredForm(const DateSettings& settings, std::string_view value);

// Normalises a date-time text "date [H:M:S]" to "%s %02d:%02d:%02d" with the
// date as ParseUserDate writes it; without a time the current time is used.
// Fails for texts of 32 characters or more, a bad date, hours outside 0-23,
// minutes or seconds outside 0-59.
std::optional<std::string> ParseDateTime(const DateSettings& settings, std::string_view text);

// Seconds since 1970-01-01 00:00 local time of a date-time text whose date is
// in the settings' picture. Years below 1970 get 100 added; hours outside 1-24
// and minutes or seconds outside 1-60 count as 0. Malformed input and times
// before 1970 give 0.
int64_t DateTimeToSeconds(const DateSettings& settings, std::string_view text);

// The value of a type-11 field in a condition: "DateTime()" and texts without
// the date separator (taken to be seconds already) stay as they are; a date
// and time become their decimal seconds. Fails when the date-time is invalid.
std::optional<std::string> DateTimeValue(const DateSettings& settings, std::string_view value);

// Seconds shown as the date in the user's picture, a blank and "HH:MM:SS";
// 0 and negative numbers give the empty text.
std::string SecondsToDisplay(const DateSettings& settings, int64_t seconds);

// A stored date value shown in the user's picture: a text holding "/" is read
// as MM/DD/YY, a text of at most eight characters as CCYYMMDD, anything else
// as seconds (then with " HH:MM" when with_time). Fails for invalid dates.
std::optional<std::string> StoredDateToDisplay(const DateSettings& settings,
                                               std::string_view stored, bool with_time);

// Decodes pairs of upper-case hexadecimal digits into bytes; an odd last digit
// is ignored. Fails on any other character.
std::optional<std::string> HexToBytes(std::string_view hex);

// The rule manager's token replacement: "Date()" becomes today's eight-digit
// date and "User()" is removed; the rest of the text is kept.
std::string ReplaceTokens(std::string_view text);

// Splits a date or date-time range: at the first " - " when the separator is
// "-" (a range must hold " - " then), otherwise at the first "-". Returns
// std::nullopt when the text is no range.
std::optional<std::pair<std::string, std::string>> SplitDateRange(const DateSettings& settings,
                                                                  std::string_view text);

// The range text the rule manager stores for two user dates, each normalised
// by ParseUserDate: "%s - %s" when the separator is "-", else "%s-%s".
std::optional<std::string> DateRangeText(const DateSettings& settings, std::string_view from,
                                         std::string_view to);

// A date and time as the user's locale or a database writes it:
// "YYYY-MM-DD[ HH:MM[:SS]]", the user's short date (two- or four-digit year)
// or MM/DD/YYYY, each optionally followed by a blank and H:MM[:SS].
struct LocalDateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};
std::optional<LocalDateTime> ParseLocalDateTime(const DateSettings& settings,
                                                std::string_view text);

}  // namespace vigilo
