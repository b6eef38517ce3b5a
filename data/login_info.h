// Login information of the database servers: one value per server in
// morvik.ini, in the section named after the database kind, holding two
// length-prefixed items, the user name and the encoded password
// ("6 jsmith 8 <encoded>"; after each decimal length exactly one separator
// character of any kind, then that many characters).
//
// The password is stored shifted within a table of the 95 printable ASCII
// characters; DecodePassword undoes it and EncodePassword (for the vglogin
// tool) does it. Both are pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "data/server_paths.h"

namespace vigilo {

struct LoginInfo {
  std::string user;
  std::string password;  // plain text
};

// Longest user name and password accepted, in characters.
inline constexpr size_t kLoginItemLimit = 31;
// Longest login value read from morvik.ini, in characters.
inline constexpr size_t kLoginValueLimit = 127;

// Decodes a stored password. The empty text stays empty; std::nullopt when a
// character lies outside the printable ASCII table.
std::optional<std::string> DecodePassword(std::string_view stored);

// Encodes a plain password as the setup of the defect-management product
// stores it; std::nullopt when a character lies outside printable ASCII.
std::optional<std::string> EncodePassword(std::string_view plain);

// Parses a login value: the user name and the decoded password. A second
// length of 0 or a missing second item gives an empty password. Fails when no
// first item can be read, an item is longer than kLoginItemLimit, or the
// password does not decode.
std::optional<LoginInfo> ParseLoginValue(std::string_view value);

// The login value for a user and a plain password, as ParseLoginValue reads
// it back; std::nullopt when either cannot be stored.
std::optional<std::string> FormatLoginValue(std::string_view user, std::string_view password);

// The login information of a server of a client-server kind (1, 2, 3) from
// morvik.ini (section LoginSectionName(kind), key = server name). Fails when
// the server is unknown (std::nullopt), the kind has no section, or the value
// is missing, empty or malformed.
std::optional<LoginInfo> GetLoginInfo(const CServerPaths& paths, long kind,
                                      const std::optional<std::string>& server);

}  // namespace vigilo
