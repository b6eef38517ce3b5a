#include "data/dates.h"

#include <cstdio>
#include <vector>

#include "common/format.h"
#include "common/text.h"
#include "data/clock.h"
#include "data/database_kind.h"
#include "platform/xbase/calendar.h"

namespace vigilo {

namespace {

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// One numeric component of a user date: blanks around it are allowed, the
// rest must be one to four digits.
std::optional<int> ReadComponent(std::string_view text) {
  std::string trimmed = Trimmed(text);
  if (trimmed.size() > 4 || !AllDigits(trimmed)) return std::nullopt;
  return static_cast<int>(LeadingNumber(trimmed));
}

bool ComponentInRange(char letter, int value) {
  switch (letter) {
    case 'M': return value >= 0 && value <= 12;
    case 'D': return value >= 0 && value <= 31;
    case 'Y': return value >= 0 && value <= 99;
    default: return true;
  }
}

int TodayComponent(char letter) {
  std::string today = xbase::DateOf(Now());
  switch (letter) {
    case 'Y': return static_cast<int>(xbase::DigitsValue(today.substr(2), 2));
    case 'M': return static_cast<int>(xbase::DigitsValue(today.substr(4), 2));
    default: return static_cast<int>(xbase::DigitsValue(today.substr(6), 2));
  }
}

bool IsValidDate8(std::string_view date8) { return xbase::DateToDay(date8) >= 0; }

std::string Date8(int year, int month, int day) {
  return Format("%04d%02d%02d", year, month, day);
}

// A date of three numbers separated by single non-digit characters, in the
// given component order; two-digit years follow the calendar's century pivot.
std::optional<std::string> ReadDateInOrder(std::string_view text, const char order[3]) {
  std::vector<std::string> groups(1);
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      groups.back() += c;
    } else {
      if (groups.back().empty()) return std::nullopt;
      groups.emplace_back();
    }
  }
  if (groups.size() != 3) return std::nullopt;
  int year = -1, month = -1, day = -1;
  for (int i = 0; i < 3; ++i) {
    const std::string& group = groups[i];
    if (group.empty() || group.size() > 4) return std::nullopt;
    int value = static_cast<int>(LeadingNumber(group));
    switch (order[i]) {
      case 'Y':
        if (group.size() <= 2) value += value < xbase::kCenturyPivot ? 2000 : 1900;
        else if (group.size() != 4) return std::nullopt;
        year = value;
        break;
      case 'M':
        if (group.size() > 2) return std::nullopt;
        month = value;
        break;
      case 'D':
        if (group.size() > 2) return std::nullopt;
        day = value;
        break;
      default: return std::nullopt;
    }
  }
  if (year < 0 || month < 0 || day < 0) return std::nullopt;
  std::string date8 = Date8(year, month, day);
  if (!IsValidDate8(date8)) return std::nullopt;
  return date8;
}

// "H:MM[:SS]" with hours 0-23 and minutes and seconds 0-59.
std::optional<std::string> ReadTime(std::string_view text) {
  std::vector<std::string> parts = SplitText(text, ':');
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  int values[3] = {0, 0, 0};
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].size() > 2 || !AllDigits(parts[i])) return std::nullopt;
    values[i] = static_cast<int>(LeadingNumber(parts[i]));
  }
  if (values[0] > 23 || values[1] > 59 || values[2] > 59) return std::nullopt;
  return Format("%02d:%02d:%02d", values[0], values[1], values[2]);
}

}  // namespace

std::optional<std::string> ParseUserDate(const DateSettings& settings, std::string_view text) {
  char offset_operator = 0;
  long offset = 0;
  if (text.size() >= 9 && (text[8] == '+' || text[8] == '-')) {
    offset_operator = text[8];
    offset = LeadingNumber(text.substr(9));
    text = text.substr(0, 8);
  }
  const char sep = settings.separator;
  size_t first_sep = text.find(sep);
  if (first_sep == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(first_sep + 1);
  size_t second_sep = rest.find(sep);

  int values[3];
  std::optional<int> first = ReadComponent(text.substr(0, first_sep));
  std::optional<int> second = ReadComponent(rest.substr(0, second_sep));
  if (!first || !second) return std::nullopt;
  values[0] = *first;
  values[1] = *second;
  std::string_view third_text =
      second_sep == std::string_view::npos ? std::string_view() : rest.substr(second_sep + 1);
  if (third_text.empty()) {
    values[2] = TodayComponent(settings.order[2]);
  } else {
    std::optional<int> third = ReadComponent(third_text);
    if (!third) return std::nullopt;
    values[2] = *third;
  }
  for (int i = 0; i < 3; ++i) {
    if (!ComponentInRange(settings.order[i], values[i])) return std::nullopt;
  }
  std::string out = Format("%02d%c%02d%c%02d", values[0], sep, values[1], sep, values[2]);

  std::string date8 = xbase::PictureToDate(out, settings.picture);
  long day = xbase::DateToDay(date8);
  if (day < 0) return std::nullopt;
  if (offset > 0) {
    day += offset_operator == '+' ? offset : -offset;
    std::string moved = xbase::DayToDate(day);
    if (moved.empty()) return std::nullopt;
    out = xbase::DateToPicture(moved, settings.picture);
  }
  return out;
}

std::optional<std::string> DateToDatabase(const DateSettings& settings, std::string_view value,
                                          long kind) {
  if (EqualsNoCase(value, "DATE()")) return std::string(value);
  std::string date8;
  if (value.find(settings.separator) == std::string_view::npos) {
    date8 = std::string(value.substr(0, 8));
  } else {
    std::optional<std::string> user = ParseUserDate(settings, value);
    if (!user) return std::nullopt;
    date8 = xbase::PictureToDate(*user, settings.picture);
  }
  if (!IsValidDate8(date8)) return std::nullopt;
  if (kind == kDbaseKind) return "#" + xbase::DateToPicture(date8, "MM/DD/CCYY") + "#";
  return date8;
}

std::optional<std::string> DateToStoredForm(const DateSettings& settings, std::string_view value) {
  if (value == "Date()") return std::string(value);
  if (value.find(settings.separator) == std::string_view::npos) {
    std::string date8(value.substr(0, 8));
    if (!IsValidDate8(date8)) return std::nullopt;
    return date8;
  }
  std::optional<std::string> user = ParseUserDate(settings, value);
  if (!user) return std::nullopt;
  std::optional<LocalDateTime> parsed = ParseLocalDateTime(settings, *user);
  if (!parsed) return std::nullopt;
  return Date8(parsed->year, parsed->month, parsed->day);
}

std::optional<std::string> ParseDateTime(const DateSettings& settings, std::string_view text) {
  if (text.size() >= 32) return std::nullopt;
  std::vector<std::string> words = SplitNonEmpty(text, ' ');
  if (words.empty() || words.size() > 2) return std::nullopt;
  std::optional<std::string> date = ParseUserDate(settings, words[0]);
  if (!date) return std::nullopt;
  std::optional<std::string> time =
      words.size() == 2 ? ReadTime(words[1]) : xbase::TimeOf(Now());
  if (!time) return std::nullopt;
  return *date + " " + *time;
}

int64_t DateTimeToSeconds(const DateSettings& settings, std::string_view text) {
  size_t blank = text.find(' ');
  std::string_view date = text.substr(0, blank);
  std::string_view time =
      blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
  if (date.size() < 4 || date.size() > 15 || time.size() >= 16) return 0;
  std::string date8 = xbase::PictureToDate(date, settings.picture);
  if (!IsValidDate8(date8)) return 0;
  long year = xbase::DigitsValue(date8, 4);
  if (year < 1970) year += 100;

  long clock[3] = {0, 0, 0};
  std::vector<std::string> parts = SplitText(time, ':');
  for (size_t i = 0; i < parts.size() && i < 3; ++i) clock[i] = LeadingNumber(parts[i]);
  if (clock[0] < 1 || clock[0] > 24) clock[0] = 0;
  if (clock[1] < 1 || clock[1] > 60) clock[1] = 0;
  if (clock[2] < 1 || clock[2] > 60) clock[2] = 0;

  std::tm parts_tm{};
  parts_tm.tm_year = static_cast<int>(year - 1900);
  parts_tm.tm_mon = static_cast<int>(xbase::DigitsValue(date8.substr(4), 2) - 1);
  parts_tm.tm_mday = static_cast<int>(xbase::DigitsValue(date8.substr(6), 2));
  parts_tm.tm_hour = static_cast<int>(clock[0]);
  parts_tm.tm_min = static_cast<int>(clock[1]);
  parts_tm.tm_sec = static_cast<int>(clock[2]);
  parts_tm.tm_isdst = -1;
  std::time_t seconds = std::mktime(&parts_tm);
  return seconds < 0 ? 0 : static_cast<int64_t>(seconds);
}

std::optional<std::string> DateTimeValue(const DateSettings& settings, std::string_view value) {
  if (value == "DateTime()" || value.find(settings.separator) == std::string_view::npos) {
    return std::string(value);
  }
  std::optional<std::string> date_time = ParseDateTime(settings, value);
  if (!date_time) return std::nullopt;
  return Format("%lld", static_cast<long long>(DateTimeToSeconds(settings, *date_time)));
}

std::string SecondsToDisplay(const DateSettings& settings, int64_t seconds) {
  if (seconds <= 0) return {};
  std::time_t when = static_cast<std::time_t>(seconds);
  return xbase::DateToPicture(xbase::DateOf(when), settings.picture) + " " + xbase::TimeOf(when);
}

std::optional<std::string> StoredDateToDisplay(const DateSettings& settings,
                                               std::string_view stored, bool with_time) {
  std::string date8;
  if (stored.find('/') != std::string_view::npos) {
    date8 = xbase::PictureToDate(stored, "MM/DD/YY");
  } else if (stored.size() <= 8) {
    date8 = std::string(stored);
  } else {
    if (!AllDigits(stored) || stored.size() > 18) return std::nullopt;
    std::time_t when = static_cast<std::time_t>(std::stoll(std::string(stored)));
    std::string shown = xbase::DateToPicture(xbase::DateOf(when), settings.picture);
    if (with_time) shown += " " + xbase::TimeOf(when).substr(0, 5);
    return shown;
  }
  if (!IsValidDate8(date8)) return std::nullopt;
  return xbase::DateToPicture(date8, settings.picture);
}

std::optional<std::string> HexToBytes(std::string_view hex) {
  static constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    size_t high = kDigits.find(hex[i]);
    size_t low = kDigits.find(hex[i + 1]);
    if (high == std::string_view::npos || low == std::string_view::npos) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  if (hex.size() % 2 == 1 && kDigits.find(hex.back()) == std::string_view::npos) {
    return std::nullopt;
  }
  return bytes;
}

std::string ReplaceTokens(std::string_view text) {
  std::string out;
  size_t pos = 0;
  for (size_t found = text.find("()", pos); found != std::string_view::npos;
       found = text.find("()", pos)) {
    std::string_view name =
        found >= pos + 4 ? text.substr(found - 4, 4) : std::string_view();
    if (name == "Date") {
      out.append(text.substr(pos, found - 4 - pos));
      out += xbase::DateOf(Now());
    } else if (name == "User") {
      out.append(text.substr(pos, found - 4 - pos));
    } else {
      out.append(text.substr(pos, found + 2 - pos));
    }
    pos = found + 2;
  }
  out.append(text.substr(pos));
  return out;
}

std::optional<std::pair<std::string, std::string>> SplitDateRange(const DateSettings& settings,
                                                                  std::string_view text) {
  std::string_view marker = settings.separator == '-' ? " - " : "-";
  size_t found = text.find(marker);
  if (found == std::string_view::npos) return std::nullopt;
  return std::make_pair(std::string(text.substr(0, found)),
                        std::string(text.substr(found + marker.size())));
}

std::optional<std::string> DateRangeText(const DateSettings& settings, std::string_view from,
                                         std::string_view to) {
  std::optional<std::string> low = ParseUserDate(settings, from);
  std::optional<std::string> high = ParseUserDate(settings, to);
  if (!low || !high) return std::nullopt;
  return Format(settings.separator == '-' ? "%s - %s" : "%s-%s", low->c_str(), high->c_str());
}

std::optional<LocalDateTime> ParseLocalDateTime(const DateSettings& settings,
                                                std::string_view text) {
  std::string trimmed = Trimmed(text);
  size_t blank = trimmed.find(' ');
  std::string date = trimmed.substr(0, blank);
  std::string time = blank == std::string::npos ? std::string() : Trimmed(trimmed.substr(blank));

  static constexpr char kIsoOrder[3] = {'Y', 'M', 'D'};
  static constexpr char kUsOrder[3] = {'M', 'D', 'Y'};
  std::optional<std::string> date8;
  bool iso = date.size() >= 8 && date[4] == '-' && AllDigits(std::string_view(date).substr(0, 4));
  if (iso) {
    date8 = ReadDateInOrder(date, kIsoOrder);
  } else {
    date8 = ReadDateInOrder(date, settings.order);
    if (!date8) date8 = ReadDateInOrder(date, kUsOrder);
  }
  if (!date8) return std::nullopt;

  LocalDateTime result;
  result.year = static_cast<int>(xbase::DigitsValue(*date8, 4));
  result.month = static_cast<int>(xbase::DigitsValue(date8->substr(4), 2));
  result.day = static_cast<int>(xbase::DigitsValue(date8->substr(6), 2));
  if (!time.empty()) {
    std::optional<std::string> clock = ReadTime(time);
    if (!clock) return std::nullopt;
    result.hour = static_cast<int>(LeadingNumber(clock->substr(0, 2)));
    result.minute = static_cast<int>(LeadingNumber(clock->substr(3, 2)));
    result.second = static_cast<int>(LeadingNumber(clock->substr(6, 2)));
  }
  return result;
}

}  // namespace vigilo
