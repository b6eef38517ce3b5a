#include "notify/recipient_directory.h"

#include <algorithm>
#include <utility>

#include "common/text.h"
#include "data/log_stream.h"
#include "data/rule.h"
#include "notify/user_record.h"

namespace vigilo {
namespace {

void AddOnce(std::vector<std::string>& list, std::string text) {
  if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(std::move(text));
}

}  // namespace

RecipientDirectory::RecipientDirectory(std::string server_dir, LogStream* log)
    : server_dir_(std::move(server_dir)), log_(log), membership_(MembershipTablePath(server_dir_)) {}

std::string RecipientDirectory::ExpandGroups(std::string_view group_names) {
  if (!membership_.IsOpen()) return {};
  std::vector<std::string> members;
  for (const std::string& group : SplitNonEmpty(group_names, ',')) {
    std::vector<std::string> rows = membership_.Members(group);
    if (rows.empty()) {
      AddOnce(members, group);
      continue;
    }
    for (std::string& member : rows) AddOnce(members, std::move(member));
  }
  // The join is limited; names that no longer fit are left out whole rather
  // than cut into a different name.
  std::string joined;
  for (const std::string& member : members) {
    size_t needed = joined.size() + (joined.empty() ? 0 : 1) + member.size();
    if (needed > kJoinedNamesLimit) break;
    if (!joined.empty()) joined += ',';
    joined += member;
  }
  return joined;
}

std::optional<std::string> RecipientDirectory::AddressesForNames(std::string_view names) const {
  if (names.empty()) return std::nullopt;
  std::vector<UserRecord> users;
  ReadUserTable(UserTablePath(server_dir_), users,
                log_ != nullptr ? log_->reporter() : MessageReporter());
  std::string addresses;
  for (const std::string& name : SplitNonEmpty(names, ',')) {
    bool found = false;
    for (const UserRecord& user : users) {
      if (!user.login_name || *user.login_name != name || user.mail_address.empty()) continue;
      found = true;
      if (auto address = AddressForMailType(user.mail_type, user.mail_address)) {
        addresses += *address;
        addresses += ',';
      }
    }
    if (!found) addresses += "SMTP:" + name + ",";
  }
  return addresses;
}

void ResolveRuleRecipients(RecipientDirectory& directory, CNotifyRule& rule) {
  if (rule.target == "Field") {
    if (!rule.field_names) rule.field_names.emplace();
    rule.field_names->clear();
    std::string names = (rule.values + ",").substr(0, 255);
    size_t start = 0;
    for (size_t comma; (comma = names.find(',', start)) != std::string::npos; start = comma + 1) {
      rule.field_names->push_back(names.substr(start, comma - start));
    }
    return;
  }
  std::string names = rule.target == "Group" ? directory.ExpandGroups(rule.values) : rule.values;
  std::optional<std::string> addresses = directory.AddressesForNames(names);
  if (!addresses || addresses->empty()) return;
  if (!rule.addresses) rule.addresses.emplace();
  size_t start = 0;
  for (size_t comma; (comma = addresses->find(',', start)) != std::string::npos;
       start = comma + 1) {
    AddOnce(*rule.addresses, addresses->substr(start, comma - start));
  }
}

}  // namespace vigilo
