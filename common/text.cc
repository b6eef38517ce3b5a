#include "common/text.h"

#include <cctype>
#include <climits>

namespace vigilo {

std::vector<std::string> SplitText(std::string_view text, char sep) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    size_t pos = text.find(sep, start);
    if (pos == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      return pieces;
    }
    pieces.emplace_back(text.substr(start, pos - start));
    start = pos + 1;
  }
}

std::vector<std::string> SplitNonEmpty(std::string_view text, char sep) {
  std::vector<std::string> pieces;
  for (std::string& piece : SplitText(text, sep)) {
    if (!piece.empty()) pieces.push_back(std::move(piece));
  }
  return pieces;
}

void TrimRight(std::string& text) {
  size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
}

void TrimLeft(std::string& text) {
  size_t start = text.find_first_not_of(' ');
  text.erase(0, start == std::string::npos ? text.size() : start);
}

void Trim(std::string& text) {
  TrimRight(text);
  TrimLeft(text);
}

std::string TrimmedRight(std::string_view text) {
  std::string copy(text);
  TrimRight(copy);
  return copy;
}

std::string Trimmed(std::string_view text) {
  std::string copy(text);
  Trim(copy);
  return copy;
}

bool ReadLine(std::istream& in, std::string& line) {
  line.clear();
  if (!std::getline(in, line)) return !line.empty();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

long LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    int digit = text[i] - '0';
    if (value > (LONG_MAX - digit) / 10) return negative ? LONG_MIN : LONG_MAX;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace vigilo
