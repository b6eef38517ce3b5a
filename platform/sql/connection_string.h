// Reading ODBC connection strings ("KEY=value;KEY={value; with braces};"),
// so that the backend can be chosen by the driver named and the embedded
// dBase engine can find its DefaultDir.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vigilo::sql {

// Key/value pairs in order. Keys keep their letter case; values lose the
// braces around them. A leading "ODBC;" is skipped, empty items are ignored
// and an item without "=" becomes a key with an empty value.
std::vector<std::pair<std::string, std::string>> ParseConnectionString(
    std::string_view text);

// Value of the first key equal to `key` without regard to case.
std::optional<std::string> ConnectionStringValue(std::string_view text,
                                                 std::string_view key);

// True when the connection string's DRIVER names the dBase driver
// ("Microsoft dBase Driver (*.dbf)" or any driver name holding "dBase").
bool NamesDbaseDriver(std::string_view text);

// The connection string without a leading "ODBC;" (which only says that the
// string is an ODBC one), ready for SQLDriverConnect.
std::string DriverConnectString(std::string_view text);

}  // namespace vigilo::sql
