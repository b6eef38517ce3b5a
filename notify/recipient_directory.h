// RecipientDirectory: who a rule's names stand for. Groups expand to their
// members through the membership table (kept open for the whole run), and
// login names become addresses through the user table (read afresh at each
// look-up, so a changed user list counts from the next rule load on).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "notify/orvik_tables.h"

namespace vigilo {

class CNotifyRule;
class LogStream;

// ExpandGroups joins at most this many characters.
inline constexpr size_t kJoinedNamesLimit = 1023;

class RecipientDirectory {
 public:
  // The tables of the server directory; log (may be null) hears of a user
  // table that cannot be read.
  explicit RecipientDirectory(std::string server_dir, LogStream* log = nullptr);

  // Member login names of the groups named in the text (split at ",", empty
  // entries dropped), each once, joined by ","; a name that is no group stays
  // as a user name. Empty when the membership table is not open.
  std::string ExpandGroups(std::string_view group_names);
  // The addresses of the names (split at ",", empty entries dropped), each
  // followed by ",": every user record whose login name equals a name exactly
  // contributes the address of its mail type; a name no record matches
  // becomes "SMTP:" + name. std::nullopt for an empty text.
  std::optional<std::string> AddressesForNames(std::string_view names) const;

  bool membership_open() const { return membership_.IsOpen(); }

 private:
  std::string server_dir_;
  LogStream* log_;
  MembershipTable membership_;
};

// Fills the rule's recipients when it is loaded: for "Group" the members of
// the groups, for other targets except "Field" the names themselves, turned
// into addresses (each kept once, in order; the list stays absent when none
// resolve). For "Field" the field-name list instead: Values + "," (at most 255
// characters) split at every ",", each piece kept, also an empty one.
void ResolveRuleRecipients(RecipientDirectory& directory, CNotifyRule& rule);

}  // namespace vigilo
