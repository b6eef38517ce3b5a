#include "platform/sql/date_collation.h"

#include <algorithm>
#include <cstring>

namespace vigilo::sql {

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

// Reads 1 to max digits at text[*pos]; -1 when there is none.
int Number(std::string_view text, size_t* pos, size_t max) {
  int value = 0;
  size_t start = *pos;
  while (*pos < text.size() && *pos - start < max && Digit(text[*pos])) {
    value = value * 10 + (text[*pos] - '0');
    ++*pos;
  }
  return *pos == start ? -1 : value;
}

void Write(char (&out)[10], int y, int m, int d) {
  out[0] = static_cast<char>('0' + y / 1000 % 10);
  out[1] = static_cast<char>('0' + y / 100 % 10);
  out[2] = static_cast<char>('0' + y / 10 % 10);
  out[3] = static_cast<char>('0' + y % 10);
  out[4] = '-';
  out[5] = static_cast<char>('0' + m / 10);
  out[6] = static_cast<char>('0' + m % 10);
  out[7] = '-';
  out[8] = static_cast<char>('0' + d / 10);
  out[9] = static_cast<char>('0' + d % 10);
}

int Compare(void*, int la, const void* a, int lb, const void* b) {
  char ba[10], bb[10];
  std::string_view ka = DateKey(std::string_view(static_cast<const char*>(a),
                                                 static_cast<size_t>(la)), ba);
  std::string_view kb = DateKey(std::string_view(static_cast<const char*>(b),
                                                 static_cast<size_t>(lb)), bb);
  int c = ka.compare(kb);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

std::string_view DateKey(std::string_view text, char (&buffer)[10]) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') return text;
  if (text.size() == 8 && std::all_of(text.begin(), text.end(), Digit)) {
    Write(buffer, (text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 +
                      (text[3] - '0'),
          (text[4] - '0') * 10 + (text[5] - '0'), (text[6] - '0') * 10 + (text[7] - '0'));
    return std::string_view(buffer, 10);
  }
  size_t pos = 0;
  int m = Number(text, &pos, 2);
  if (m < 1 || m > 12 || pos >= text.size() || text[pos] != '/') return text;
  ++pos;
  int d = Number(text, &pos, 2);
  if (d < 1 || d > 31 || pos >= text.size() || text[pos] != '/') return text;
  ++pos;
  size_t year_start = pos;
  int y = Number(text, &pos, 4);
  size_t digits = pos - year_start;
  if (y < 0 || pos != text.size() || (digits != 2 && digits != 4)) return text;
  if (digits == 2) y += y < 30 ? 2000 : 1900;
  Write(buffer, y, m, d);
  return std::string_view(buffer, 10);
}

int RegisterDateCollation(sqlite3* db) {
  return sqlite3_create_collation_v2(db, kDateCollation, SQLITE_UTF8, nullptr, Compare,
                                     nullptr);
}

}  // namespace vigilo::sql
