// Reading the stored text of a dBase field: blanks and NULs trimmed, numbers
// parsed the way the embedded engine reads N and F fields. Shared by the
// table data and its writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/digit_words.h"

namespace vigilo::sql {

namespace field_text_detail = ::vigilo::digit_words;
using ::vigilo::ParseRightAlignedDigits;

// Without blanks (and NUL padding) at both ends / at the end.
std::string_view TrimRaw(std::string_view raw);
std::string_view TrimRightRaw(std::string_view raw);
// The whole text as an integer (a decimal number is rounded); nullopt when
// blank or not a number.
std::optional<int64_t> ParseInteger(std::string_view text);
// The whole text as a number; nullopt when blank or not a number.
std::optional<double> ParseReal(std::string_view text);

}  // namespace vigilo::sql
