// The provider's configuration, mapi.ini: profiles, address book, delivery.
//
// Read with the installation's INI profile functions (common/ini_profile.h):
// sections and keys compare without regard to case, the first match wins,
// names and values are trimmed, and lines starting with ";" are comments. The
// file is read at logon (the session keeps that snapshot) and for each
// resolution without a session.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/smtp_security.h"

namespace vigilo::mapi {

constexpr const char* kDefaultDeliveryCommand = "/usr/sbin/sendmail -t -oi";

struct MapiConfig {
  std::string path;  // where it was read from
  // [Profiles]: profile name = password
  std::vector<std::pair<std::string, std::string>> profiles;
  // [Address Book]: display name = mail address
  std::vector<std::pair<std::string, std::string>> address_book;
  // [Delivery]: SmtpUrl wins over Command when both are set.
  std::string smtp_url;
  // [Delivery]: Security, User, PasswordFile, CAFile for SmtpUrl.
  SmtpSecuritySettings smtp_security;
  std::string command = kDefaultDeliveryCommand;
  std::string from;  // header From; empty: vigilo@<host name>

  // The password of a profile, or nothing when the profile is unknown.
  std::optional<std::string> Password(std::string_view profile) const;
  // The address book's address for a name, or nothing.
  std::optional<std::string> Lookup(std::string_view name) const;
};

// Path of mapi.ini: VIGILO_MAPI_INI when set; else mapi.ini in $VIGILO_HOME
// when set; else mapi.ini in the directory of the running program. When the
// file does not exist under that exact name, a file of the same name in
// another letter case in that directory is used.
std::string MapiIniPath();

// Reads the file. Returns nothing and fills *error when it cannot be read.
std::optional<MapiConfig> LoadMapiConfig(const std::string& path, std::string* error);

}  // namespace vigilo::mapi
