// The login of the rule manager: only the supervisor "sysop" may run it, and
// the password typed is checked against the password value that the
// defect-management product keeps for that user in its user table.
//
// The product stores no password text, only a weighted sum of the password's
// character codes (PasswordSum). LoginLogic is the behaviour of the login
// dialog's OK button; the dialog itself only shows the texts below and limits
// the two fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "manager/prompts.h"
#include "notify/user_record.h"

namespace vigilo {

inline constexpr const char* kLoginTitle = "Verify Password ";
inline constexpr const char* kLoginWelcome = "Welcome to Morvane VIGILO.";
inline constexpr const char* kLoginInstruction = "Please enter your login name and password. ";
inline constexpr const char* kLoginNameLabel = "Login &Name:";
inline constexpr const char* kPasswordLabel = "&Password:";
inline constexpr const char* kLoginOkButton = "&Ok";
inline constexpr const char* kLoginCancelButton = "&Cancel";
inline constexpr const char* kSupervisorName = "sysop";
inline constexpr size_t kLoginNameLimit = 31;
inline constexpr size_t kPasswordLimit = 15;

inline constexpr const char* kOnlySysopMessage = "Only sysop can run Vigilo";
inline constexpr const char* kInvalidUserMessage = "Invalid User Name!";
inline constexpr const char* kInvalidPasswordMessage = "Invalid Password\n";

// The stored form of a password: the sum over its characters of each code,
// taken as a signed 8-bit number, times the weight of its position (58, 50,
// 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4). The empty password
// sums to 0. Characters past the sixteenth have no weight and add nothing;
// the login dialog never passes more than fifteen.
int32_t PasswordSum(std::string_view password);

// Reads every record of the user table; called only once the name has passed
// the supervisor check.
using UserTableReader = std::function<std::vector<UserRecord>()>;

// The reader of the installation's user table (users.dbf in the orvhome
// directory of the server directory named by vigtab.ini). A table that cannot
// be read gives no records; one that exists but does not open is reported.
UserTableReader InstallationUserTable(MessageReporter report = nullptr);

class LoginLogic {
 public:
  LoginLogic(Prompts& prompts, UserTableReader read_users);

  // The dialog's OK: true when the supervisor is let in and the dialog
  // closes; false after a beep (empty name) or one of the three messages, and
  // the dialog stays. The password is the text as the product sees it, one
  // byte a character.
  bool Ok(std::string_view login_name, std::string_view password);

 private:
  Prompts& prompts_;
  UserTableReader read_users_;
};

}  // namespace vigilo
