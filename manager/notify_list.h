// The Notify List dialog's behaviour: choosing the recipients of a Notify
// rule from the user names, the group names, or the table's user fields
// (whose values name users when the rule fires).
//
// The result is the names chosen, in list order, joined by "," — the Values
// text the engine splits again. Opening on a Values text selects what it
// names, so reopening the dialog on its own result shows the same choice.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/field_def.h"
#include "data/server_paths.h"
#include "manager/project_selection.h"
#include "manager/prompts.h"

namespace vigilo {

// Filled with the target: "User List", "Group List", "Field List".
inline constexpr const char* kNotifyListTitle = "%s List";
inline constexpr const char* kNotifyListLabel = "&Notify List:";
inline constexpr const char* kOtherFieldsLabel = "&Other Field(s) :";
inline constexpr const char* kNotifyListHelpButton = "&Help";
inline constexpr int kNotifyListHelpTopic = 630;

// Entries are counted without their separators against this sum.
inline constexpr size_t kNotifyListSumLimit = 250;
inline constexpr const char* kTooManyUsersMessage =
    "Too many users selected.\n\nSplit into multiple rules.";

// The names of the fields that can name recipients: the user fields (type 9)
// in definition order. The change-history pseudo-fields are left out: a
// message is built from the record's own columns, so a rule naming one would
// never reach anybody.
std::vector<std::string> UserFieldNames(const std::vector<CFieldDef>& fields);

class NotifyListLogic {
 public:
  // target is "User", "Group" or "Field"; entries are the names the list
  // offers for it, in order; values is the rule's current Values text.
  NotifyListLogic(std::string target, std::vector<std::string> entries, std::string_view values,
                  Prompts& prompts);

  // The names offered for a target: the process-wide user-name or group-name
  // list, or the user fields of the selection's table (an unreadable table
  // INI is shown as "Unable to open %s!" and offers none).
  static std::vector<std::string> Entries(const std::string& target, const CServerPaths& paths,
                                          const ProjectSelection& selection, Prompts& prompts);

  std::string Title() const;
  const std::string& target() const { return target_; }
  // Only a Field list has the Other Field(s) edit.
  bool ShowsOtherFields() const { return target_ == "Field"; }
  const std::vector<std::string>& entries() const { return entries_; }
  // Per entry: named by the Values text (letter case ignored).
  const std::vector<bool>& preselected() const { return preselected_; }
  // Field list: the names of the Values text that no entry matched.
  const std::string& other_fields() const { return other_fields_; }

  // OK with the selection state of every entry and the Other Field(s) text.
  // Nothing chosen beeps. Too many names (over 250 characters without the
  // separators, or a text over kRuleValuesLimit) shows the message and stays
  // (std::nullopt). Other fields that no longer fit are left out after the
  // same message and the dialog closes with the names selected.
  std::optional<std::string> Ok(const std::vector<bool>& selected, std::string_view other);

 private:
  std::string target_;
  std::vector<std::string> entries_;
  std::vector<bool> preselected_;
  std::string other_fields_;
  Prompts& prompts_;
};

}  // namespace vigilo
