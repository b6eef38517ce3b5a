// The mail settings of the product's INI file (section "Mail" of morvik.ini):
// the SMTP server and sender of "SMTP Mail", and the profile name and password
// of the three mail-system keys "MAPI Mail", "MS Mail" and "CC Mail".
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vigilo {

// Limits of the texts taken from the settings; longer values are cut.
inline constexpr size_t kSmtpTextLimit = 255;
inline constexpr size_t kProfileNameLimit = 127;
inline constexpr size_t kProfilePasswordLimit = 63;

struct SmtpSetting {
  std::string server;
  std::string sender;
};

// "SMTP Mail": the server is the text between the second and third comma, the
// sender the text between the third and fourth comma without its first two
// characters. With fewer than four commas both are empty (SMTP stays off).
SmtpSetting ParseSmtpSetting(std::string_view value);

struct MailProfile {
  std::string profile;
  std::string password;
};

// Turns a stored (encoded) password into its clear text.
using PasswordDecoder = std::function<std::string(std::string_view)>;

// "MAPI Mail", "MS Mail", "CC Mail": up to seven comma-ended fields; a field is
// read only while the rest of the value still holds a comma. Fields 4 and 5
// (profile and password) are written as a decimal length, one separator
// character and that many characters (which may hold commas); a length of 0 or
// less is an empty field taking two characters. A non-empty field 7 means the
// password is stored encoded: it is passed through decode (left as it is when
// decode is empty). Missing fields give empty texts.
MailProfile ParseMailProfile(std::string_view value, const PasswordDecoder& decode = {});

}  // namespace vigilo
