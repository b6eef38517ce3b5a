// The Field Values dialog's behaviour: composing the assignments of an
// Update rule, "field=value" joined by ";", from the table's updatable
// fields. The value of a list or user field is chosen in the Values dialog,
// any other one typed in the Input Value dialog; ValueEditor opens them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/field_def.h"
#include "data/server_paths.h"
#include "manager/project_selection.h"
#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kFieldValuesTitle = "Field Values Dialog";
inline constexpr const char* kFieldValuesGroup = "List of Field &Values";
inline constexpr const char* kFieldValuesAddButton = "A&dd...";
inline constexpr const char* kFieldValuesModifyButton = "&Modify...";
inline constexpr const char* kFieldValuesRemoveButton = "R&emove";
// Our own: the accessible names of the group's two lists.
inline constexpr const char* kFieldListName = "Fields";
inline constexpr const char* kAssignmentListName = "Field values";
// Our own: the title of the field list's sort header.
inline constexpr const char* kFieldListHeader = "Field";

// Assignments are counted without their separators against this sum.
inline constexpr size_t kFieldValuesSumLimit = 250;
inline constexpr const char* kTooManyValuesMessage =
    "Too many values selected.\n\nSplit into multiple rules.";
// Our own: a value holding ";" would be read back as two assignments.
inline constexpr const char* kSemicolonInValueMessage =
    "A value cannot contain \";\": it separates the assignments.";

// The change-history pseudo-fields ("ChngHist->..."), which conditions may
// test but which are no columns of the table.
bool IsChangeHistoryField(const CFieldDef& field);

// The field definitions of the selection's table (its fourth field), the
// pseudo-fields included. An unreadable table INI is shown as "Unable to open
// %s!" with a warning icon.
std::vector<CFieldDef> ReadSelectionFields(const CServerPaths& paths,
                                           const ProjectSelection& selection, Prompts& prompts);

// The fields an update may set, in definition order: flag bit 0x2000 clear,
// type neither 7 nor 13, and no change-history pseudo-field (an update of one
// would fail at every firing).
std::vector<std::string> UpdatableFieldNames(const std::vector<CFieldDef>& fields);

// An assignment split at its first "=" into field name and value; without
// "=" the whole text is the field name.
std::pair<std::string, std::string> SplitAssignment(std::string_view assignment);

// Opens the dialog that edits one value; std::nullopt on Cancel.
class ValueEditor {
 public:
  virtual ~ValueEditor() = default;
  // The Values dialog, for a list (type 5) or user (type 9) field.
  virtual std::optional<std::string> ChooseValue(const CFieldDef& field,
                                                 const std::string& value) = 0;
  // The Input Value dialog labelled with the field's name.
  virtual std::optional<std::string> TypeValue(const std::string& label,
                                               const std::string& value) = 0;
};

class FieldValuesLogic {
 public:
  // fields: the table's definitions; values: the rule's current Values text,
  // listed as one assignment per ";"-separated part.
  FieldValuesLogic(std::vector<CFieldDef> fields, std::string_view values, Prompts& prompts,
                   ValueEditor& editor);

  const std::vector<std::string>& field_names() const { return field_names_; }
  const std::vector<CFieldDef>& fields() const { return fields_; }
  const std::vector<std::string>& assignments() const { return assignments_; }

  // Add... or a double-click on a field: edits a value for the field at that
  // index of field_names() and appends the assignment. Returns the index of
  // the new assignment (to select), or std::nullopt when nothing was added.
  // A value holding ";" is refused with a message and edited again (Add and
  // Modify), so the rule never holds an assignment the engine splits apart.
  std::optional<size_t> Add(std::optional<size_t> field);
  // Modify... or a double-click on an assignment: edits its value in place.
  // Returns its index when it changed. A field name without definition opens
  // nothing.
  std::optional<size_t> Modify(std::optional<size_t> assignment);
  void Remove(std::optional<size_t> assignment);

  // OK: no assignment beeps; too many (over 250 characters without the
  // separators, or a text over kRuleValuesLimit) shows the message. Both stay
  // (std::nullopt); otherwise the assignments joined by ";".
  std::optional<std::string> Ok();

 private:
  std::optional<std::string> EditValue(const std::string& field_name, const std::string& value);

  std::vector<CFieldDef> fields_;
  std::vector<std::string> field_names_;
  std::vector<std::string> assignments_;
  Prompts& prompts_;
  ValueEditor& editor_;
};

}  // namespace vigilo
