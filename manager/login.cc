#include "manager/login.h"

#include <array>

#include "common/text.h"
#include "data/server_paths.h"
#include "notify/orvik_tables.h"

namespace vigilo {
namespace {

// The first sixteen entries of the DES initial permutation: the product weighs
// each password position by them.
constexpr std::array<int32_t, 16> kPasswordWeights = {58, 50, 42, 34, 26, 18, 10, 2,
                                                      60, 52, 44, 36, 28, 20, 12, 4};

}  // namespace

int32_t PasswordSum(std::string_view password) {
  int32_t sum = 0;
  for (size_t i = 0; i < password.size() && i < kPasswordWeights.size(); ++i) {
    sum += static_cast<int32_t>(static_cast<int8_t>(password[i])) * kPasswordWeights[i];
  }
  return sum;
}

UserTableReader InstallationUserTable(MessageReporter report) {
  return [report = std::move(report)] {
    CServerPaths paths(CServerPaths::Program::kManager);
    std::vector<UserRecord> records;
    ReadUserTable(UserTablePath(paths.server_dir), records, report);
    return records;
  };
}

LoginLogic::LoginLogic(Prompts& prompts, UserTableReader read_users)
    : prompts_(prompts), read_users_(std::move(read_users)) {}

bool LoginLogic::Ok(std::string_view login_name, std::string_view password) {
  if (login_name.empty()) {
    prompts_.Beep();
    return false;
  }
  // Refused before any table is read: no other user may start the manager.
  if (login_name != kSupervisorName) {
    prompts_.Message(kOnlySysopMessage);
    return false;
  }
  const long sum = PasswordSum(password);
  bool found = false;
  bool accepted = false;
  // The records live only for the check.
  for (const UserRecord& user : read_users_()) {
    if (user.login_name.value_or("") != login_name) continue;
    found = true;
    if (LeadingNumber(user.password.value_or("")) == sum) accepted = true;
  }
  if (accepted) return true;
  prompts_.Message(found ? kInvalidPasswordMessage : kInvalidUserMessage);
  return false;
}

}  // namespace vigilo
