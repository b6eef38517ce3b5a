#include "platform/sql/connection_string.h"

#include "common/text.h"

namespace vigilo::sql {

namespace {

std::string_view SkipOdbcPrefix(std::string_view text) {
  if (StartsWithNoCase(text, "ODBC;")) text.remove_prefix(5);
  return text;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseConnectionString(
    std::string_view text) {
  std::vector<std::pair<std::string, std::string>> items;
  text = SkipOdbcPrefix(text);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eq = text.find_first_of("=;", pos);
    if (eq == std::string_view::npos || text[eq] == ';') {
      size_t end = eq == std::string_view::npos ? text.size() : eq;
      std::string key = Trimmed(text.substr(pos, end - pos));
      if (!key.empty()) items.emplace_back(key, std::string());
      pos = end + 1;
      continue;
    }
    std::string key = Trimmed(text.substr(pos, eq - pos));
    size_t value_start = eq + 1;
    while (value_start < text.size() && text[value_start] == ' ') ++value_start;
    std::string value;
    size_t next;
    if (value_start < text.size() && text[value_start] == '{') {
      // A braced value may hold ";"; "}}" stands for one "}".
      size_t i = value_start + 1;
      while (i < text.size()) {
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            value += '}';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += text[i++];
      }
      next = text.find(';', i);
    } else {
      next = text.find(';', value_start);
      value = TrimmedRight(text.substr(
          value_start, (next == std::string_view::npos ? text.size() : next) -
                           value_start));
    }
    if (!key.empty()) items.emplace_back(key, value);
    pos = next == std::string_view::npos ? text.size() : next + 1;
  }
  return items;
}

std::optional<std::string> ConnectionStringValue(std::string_view text,
                                                 std::string_view key) {
  for (auto& [k, v] : ParseConnectionString(text)) {
    if (EqualsNoCase(k, key)) return v;
  }
  return std::nullopt;
}

bool NamesDbaseDriver(std::string_view text) {
  auto driver = ConnectionStringValue(text, "DRIVER");
  return driver && ToLower(*driver).find("dbase") != std::string::npos;
}

std::string DriverConnectString(std::string_view text) {
  return std::string(SkipOdbcPrefix(text));
}

}  // namespace vigilo::sql
