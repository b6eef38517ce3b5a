// The Values dialog's behaviour: the value of a list or user field in an
// Update rule's assignment, chosen from the field's choices. A multi-valued
// field (flag bit 0x80) takes several choices joined by ","; any field may
// take a value of its own in Other Value[s].
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/field_def.h"
#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kValuesDialogTitle = "Values Dialog";
inline constexpr const char* kValuesListLabel = "List of values:";
inline constexpr const char* kValuesOtherLabel = "Other Value[s]:";
inline constexpr const char* kValuesOkButton = "Ok";
inline constexpr const char* kValuesCancelButton = "Cancel";
inline constexpr size_t kValuesOtherLimit = 31;
inline constexpr size_t kFieldValueLimit = 128;
inline constexpr int kMultiValuedFlag = 0x80;
// Our own: the line that names the field the dialog sets.
inline constexpr const char* kValuesFieldCaption = "Value of the field %s";

inline constexpr const char* kValuesTooManyItemsMessage =
    "Too many items selected!\n\nSelect fewer items and try again.";

class ValuesLogic {
 public:
  // value: the assignment's current value, "" for a new one.
  ValuesLogic(const CFieldDef& field, std::string_view value, Prompts& prompts);

  bool multiple() const { return multiple_; }
  // Names the field the value is for.
  std::string FieldCaption() const;
  // The field's choices in order, each cut before "($Group$".
  const std::vector<std::string>& entries() const { return entries_; }
  // Per entry: named by the current value (letter case ignored). A
  // single-selection list selects the last one named.
  const std::vector<bool>& preselected() const { return preselected_; }
  // The parts of the current value that match no entry, joined by ",".
  const std::string& other_values() const { return other_values_; }

  // OK with the selection state of every entry and the Other Value[s] text:
  // nothing chosen beeps, a value over 128 characters shows the message; both
  // keep the dialog open (std::nullopt).
  std::optional<std::string> Ok(const std::vector<bool>& selected, std::string_view other);

 private:
  bool multiple_;
  std::string field_name_;
  std::vector<std::string> entries_;
  std::vector<bool> preselected_;
  std::string other_values_;
  Prompts& prompts_;
};

}  // namespace vigilo
