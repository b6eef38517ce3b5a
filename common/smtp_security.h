// How Vigilo reaches a mail server safely: the keys Security, User,
// PasswordFile and CAFile (section [SMTP] of vigtab.ini for the SMTP library,
// [Delivery] of mapi.ini for the provider's SmtpUrl), and the checks that keep
// a password off unencrypted sessions and out of files others can read.
//
// Security is "starttls" (the default: STARTTLS whenever the server offers
// it, required whenever a user is set), "tls" (implicit TLS, port 465 unless
// named) or "none" (no TLS; refused together with a user unless the server is
// on this machine). Certificates are always verified: against CAFile when
// set, else against the system's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vigilo {

enum class SmtpSecurityMode { kStartTls, kTls, kNone };

struct SmtpSecuritySettings {
  SmtpSecurityMode mode = SmtpSecurityMode::kStartTls;
  std::string user;
  std::string password_file;
  std::string ca_file;
  std::string problem;  // a Security value that is none of the three
};

inline constexpr const char* kSmtpSettingsSection = "SMTP";
inline constexpr const char* kDeliverySettingsSection = "Delivery";

// Reads the four keys of section in the INI file (absent keys: defaults).
SmtpSecuritySettings ReadSmtpSecuritySettings(const std::string& ini_path,
                                              std::string_view section);

// Reads a file holding a password alone (one trailing line end dropped).
// Refuses, filling *error, a file that cannot be read, that others than its
// owner and group may read or write, or that is empty.
std::optional<std::string> ReadPasswordFile(const std::string& path, std::string* error);

// What one server connection uses, once the settings are checked.
struct SmtpCredentials {
  SmtpSecurityMode mode = SmtpSecurityMode::kStartTls;
  std::string user;      // empty: no AUTH
  std::string password;
  std::string ca_file;   // empty: the system's certificates
  bool from_url = false; // user and password came from the server URL
};

// Checks settings against the server text (which may hold "user:password@")
// and reads the password file. User and PasswordFile win over credentials in
// the URL. Returns nothing and fills *error (naming the server host:port,
// never the URL) when the settings are unusable: a bad Security value, a user
// without a password, a password file refused, a CAFile that cannot be read,
// or a user with Security=none on a server that is not on this machine.
std::optional<SmtpCredentials> ResolveSmtpCredentials(const SmtpSecuritySettings& settings,
                                                      std::string_view server,
                                                      std::string* error);

}  // namespace vigilo
