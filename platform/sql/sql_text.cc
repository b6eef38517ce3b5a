#include "platform/sql/sql_text.h"

namespace vigilo {

std::string QuoteSqlText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace vigilo
