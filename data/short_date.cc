#include "data/short_date.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdlib>

namespace vigilo {
namespace {

constexpr size_t kMaxPatternLength = 31;

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Owns a locale object made by newlocale.
class LocaleHandle {
 public:
  explicit LocaleHandle(locale_t locale) : locale_(locale) {}
  ~LocaleHandle() {
    if (locale_ != locale_t{}) freelocale(locale_);
  }
  LocaleHandle(const LocaleHandle&) = delete;
  LocaleHandle& operator=(const LocaleHandle&) = delete;
  locale_t get() const { return locale_; }

 private:
  locale_t locale_;
};

}  // namespace

std::string PictureFromStrftime(std::string_view format) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    ++i;
    while (i < format.size() && std::string_view("-_0^#EO").find(format[i]) != std::string_view::npos) {
      ++i;
    }
    if (i >= format.size()) break;
    switch (format[i]) {
      case 'd': out += "dd"; break;
      case 'e': out += "d"; break;
      case 'm': out += "MM"; break;
      case 'y': out += "yy"; break;
      case 'Y': out += "yyyy"; break;
      case 'D': out += "MM/dd/yy"; break;
      case 'F': out += "yyyy-MM-dd"; break;
      case 'b': case 'h': case 'B': out += "MMM"; break;
      case '%': out += '%'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      default: break;
    }
  }
  return out;
}

std::string SystemShortDatePattern() {
  if (const char* env = std::getenv("VIGILO_SHORTDATE")) {
    std::string_view value(env);
    if (value.find('%') != std::string_view::npos) return PictureFromStrftime(value);
    return std::string(value);
  }
  LocaleHandle locale(newlocale(LC_TIME_MASK, "", locale_t{}));
  if (locale.get() == locale_t{}) return "";
  const char* format = nl_langinfo_l(D_FMT, locale.get());
  return format ? PictureFromStrftime(format) : "";
}

std::optional<ShortDateFormat> NormalizeShortDate(std::string_view pattern) {
  if (pattern.empty() || pattern.size() > kMaxPatternLength) return std::nullopt;
  size_t first_run = 1;
  while (first_run < pattern.size() && pattern[first_run] == pattern[0]) ++first_run;
  if (first_run >= pattern.size()) return std::nullopt;
  char separator = pattern[first_run];
  unsigned char sep = static_cast<unsigned char>(separator);
  if (std::isalnum(sep) || std::isspace(sep) || sep >= 0x80) return std::nullopt;

  ShortDateFormat result;
  result.separator = separator;
  result.picture.clear();
  size_t i = 0;
  for (int component = 0; component < 3; ++component) {
    if (component > 0) {
      if (i >= pattern.size() || pattern[i] != separator) return std::nullopt;
      result.picture += separator;
      ++i;
    }
    if (i >= pattern.size()) return std::nullopt;
    char letter = Upper(pattern[i]);
    if (letter != 'M' && letter != 'D' && letter != 'Y') return std::nullopt;
    for (int earlier = 0; earlier < component; ++earlier) {
      if (result.order[earlier] == letter) return std::nullopt;
    }
    result.order[component] = letter;
    result.picture.append(2, letter);
    while (i < pattern.size() && Upper(pattern[i]) == letter) ++i;
  }
  return result;
}

}  // namespace vigilo
