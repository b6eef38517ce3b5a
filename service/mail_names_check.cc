#include "service/mail_names_check.h"

#include <algorithm>

#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/text.h"
#include "common/format.h"
#include "notify/mail_settings.h"
#include "notify/orvik_tables.h"

namespace vigilo {
namespace {

// The morvik.ini keys the service logs on to the provider with, in order.
constexpr const char* kProfileKeys[] = {"MAPI Mail", "MS Mail", "CC Mail"};

void CheckProfiles(const CServerPaths& paths, std::vector<std::string>& problems) {
  const std::string mapi_ini = ResolveFileCase(JoinPath(paths.program_dir, "mapi.ini"));
  const std::vector<std::string> known = GetProfileKeys(mapi_ini, "Profiles");
  for (const char* key : kProfileKeys) {
    const std::string value = GetProfileString(paths.orvik_ini_path, "Mail", key, "");
    if (value.empty()) continue;
    const std::string profile = ParseMailProfile(value.substr(0, 255)).profile;
    if (profile.empty()) continue;
    const bool found = std::any_of(known.begin(), known.end(), [&](const std::string& name) {
      return Trimmed(name) == profile;
    });
    if (!found) {
      problems.push_back(mapi_ini + ": the profile \"" + profile + "\" that \"" + key + "\" of " +
                         paths.orvik_ini_path +
                         " names is not in [Profiles]: the provider's logon fails, and mail to "
                         "names and provider addresses waits in the outbox");
    }
  }
}

void CheckGroups(const CServerPaths& paths, const std::vector<CRule>& rules,
                 std::vector<std::string>& problems) {
  const std::string table = MembershipTablePath(paths.server_dir);
  std::unique_ptr<MembershipTable> membership;
  for (const CRule& rule : rules) {
    if (rule.action != "Notify" || rule.target != "Group") continue;
    if (!membership) membership = std::make_unique<MembershipTable>(table);
    if (!membership->IsOpen()) {
      problems.push_back(table + ": cannot be opened, the groups of rule " +
                         Format("%ld", static_cast<long>(rule.rule_id)) +
                         " are mailed as addresses");
      return;
    }
    for (const std::string& group : SplitNonEmpty(rule.values, ',')) {
      if (!membership->Members(group).empty()) continue;
      problems.push_back(Format("Rule %ld: ", static_cast<long>(rule.rule_id)) + "the group \"" +
                         group + "\" does not exist (no member in " + table +
                         "): the name is mailed as an address");
    }
  }
}

}  // namespace

void CheckMailNames(const CServerPaths& paths, const std::vector<CRule>& rules,
                    std::vector<std::string>& problems) {
  CheckProfiles(paths, problems);
  CheckGroups(paths, rules, problems);
}

}  // namespace vigilo
