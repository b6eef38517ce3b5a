// UserRecord: one row of the defect-management product's user table as the
// recipient resolution uses it (login name, password value, mail type, mail
// address), the text line in which such a record is passed between the table
// reader and its users, and the address form each mail type produces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vigilo {

// A mail address of a user record holds at most this many characters.
inline constexpr size_t kMailAddressLimit = 63;

struct UserRecord {
  std::optional<std::string> login_name;  // absent when the field is empty
  std::optional<std::string> password;    // absent when the field is empty
  int32_t mail_type = 0;
  std::string mail_address;               // at most kMailAddressLimit characters

  bool operator==(const UserRecord&) const = default;
};

// "login|password|type|address|", an absent text written empty.
std::string UserRecordLine(const UserRecord& record);

// Reads the fields of a user record line in order, each ended by "|". An empty
// field leaves its member absent (or 0); a field without a closing "|" is not
// read, nor is anything after it.
UserRecord ParseUserRecordLine(std::string_view line);

// The address a user is notified at, chosen by the mail type:
//   0 "ORVIK:" + address (internal mail), 1 and 4 the bare address (a name for
//   the mail-system provider), 2 "CCMAIL:" + address, 3 none, 5 and above and
//   every negative type "SMTP:" + address.
// std::nullopt for mail type 3.
std::optional<std::string> AddressForMailType(int32_t mail_type, std::string_view address);

}  // namespace vigilo
