// The user's short-date pattern: where it comes from and how it is normalised.
//
// The pattern is a Windows-style picture such as "M/d/yyyy" or "dd.MM.yyyy".
// It comes from VIGILO_SHORTDATE when set, else from the LC_TIME locale, whose
// strftime form ("%m/%d/%y") is rewritten as such a picture ("MM/dd/yy"). The
// settings object keeps it normalised to two letters per component ("DD.MM.YY")
// with the separator and the component order the date routines need.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vigilo {

struct ShortDateFormat {
  char separator = '/';
  char order[3] = {'M', 'D', 'Y'};
  std::string picture = "MM/DD/YY";
};

// The system's pattern: VIGILO_SHORTDATE if set (a strftime form there is
// rewritten too), else the LC_TIME locale's date format rewritten. Empty when
// the locale cannot be loaded or has no date format.
std::string SystemShortDatePattern();

// Rewrites a strftime date format as a Windows-style picture: %d dd, %e d,
// %m MM, %y yy, %Y yyyy, %D MM/dd/yy, %F yyyy-MM-dd, %b/%h/%B MMM; "%%" is
// "%"; flags and the E and O modifiers are ignored; other conversions are
// dropped. Text outside conversions is copied.
std::string PictureFromStrftime(std::string_view format);

// Normalises a picture: the separator is the first character after the leading
// run of equal characters; then each of three runs of one component letter
// (M, D or Y, either case, any width) gives "MM", "DD" or "YY" and its letter
// in the order. Returns nothing when the pattern is longer than 31 characters,
// does not name each of M, D and Y once, or separates them by anything but
// that one separator (which must not be a letter, digit or white space), so
// the caller falls back to MM/DD/YY. Text after the third component is
// ignored.
std::optional<ShortDateFormat> NormalizeShortDate(std::string_view pattern);

}  // namespace vigilo
