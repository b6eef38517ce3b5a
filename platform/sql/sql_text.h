// QuoteSqlText: the one place where a text is made safe to stand between
// single quotes in a statement, whatever the database (update values,
// condition values, internal mail rows, the dBase engine's own literals).
#pragma once

#include <string>
#include <string_view>

namespace vigilo {

// Doubles every apostrophe.
std::string QuoteSqlText(std::string_view text);

}  // namespace vigilo
