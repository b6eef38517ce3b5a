// The Where Condition dialog of list and user fields: values chosen from the
// field's choices, and other values typed, joined as any of them ("Or items")
// or all of them ("And items"). A field whose changes are recorded offers
// "->", which composes a from-to change in the FromTo dialog.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/condition.h"
#include "data/field_def.h"
#include "manager/prompts.h"
#include "manager/where_condition.h"

namespace vigilo {

inline constexpr const char* kValuesLabel = "&List of Values:";
inline constexpr const char* kOtherValuesLabel = "Other &Value[s]:";
inline constexpr const char* kSearchOptionGroup = "&Search Option";
inline constexpr const char* kNoneItemsOption = "{&none}";
inline constexpr const char* kOrItemsOption = "O&r items";
inline constexpr const char* kAndItemsOption = "&And items";
inline constexpr int kValueListHelpTopic = 624;
inline constexpr int kOtherValuesLimit = 31;
// The value a rule's clause may take from this dialog.
inline constexpr size_t kValueListLimit = 128;
inline constexpr const char* kTooManyItemsMessage =
    "Too many items selected!\n\nSelect fewer items and try again.";

// Gives a user field without choices the user names, followed by the group
// names when its attribute number has bit 0x20. Done once: a field that has
// choices keeps them.
void FillUserChoices(CFieldDef& field);

class ValueListCondLogic {
 public:
  // field may be nullptr; a user field gets its choices here (FillUserChoices).
  ValueListCondLogic(CFieldDef* field, const Clause& clause, Prompts& prompts);

  std::string Label() const { return caption_; }
  const std::vector<std::string>& Entries() const { return entries_; }
  bool IsChangeEntry(size_t row) const;

  // The clause's value as the dialog opens on it: the rows of its items that
  // are in the list, the items that are not (and a change text) as other
  // values, and the search option.
  const std::vector<size_t>& InitiallySelected() const { return selected_; }
  const std::string& InitialOther() const { return other_; }
  SearchOption InitialOption() const { return option_; }

  // Ok: the value text, or std::nullopt: beep when nothing was chosen, the
  // too-many-items message when the value would pass 128 characters.
  std::optional<std::string> Ok(const std::vector<size_t>& selected_rows, std::string_view other,
                                SearchOption option);

 private:
  std::string caption_;
  std::vector<std::string> entries_;
  std::vector<size_t> selected_;
  std::string other_;
  SearchOption option_;
  Prompts& prompts_;
};

}  // namespace vigilo
