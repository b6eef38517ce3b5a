#include "manager/field_values.h"

#include "common/text.h"
#include "data/field_defs_reader.h"
#include "manager/input_value.h"

namespace vigilo {

bool IsChangeHistoryField(const CFieldDef& field) {
  return field.name.find("->") != std::string::npos;
}

std::vector<CFieldDef> ReadSelectionFields(const CServerPaths& paths,
                                           const ProjectSelection& selection, Prompts& prompts) {
  std::vector<CFieldDef> fields;
  std::string message;
  std::string path =
      FieldDefsIniPath(paths, selection.Kind(), selection.project, selection.table);
  if (!ReadFieldDefs(path, fields, &message)) prompts.Message(message, PromptIcon::kWarning);
  return fields;
}

std::vector<std::string> UpdatableFieldNames(const std::vector<CFieldDef>& fields) {
  std::vector<std::string> names;
  for (const CFieldDef& field : fields) {
    if ((field.flags & CFieldDef::kNoUpdateFlag) != 0) continue;
    if (field.type == CFieldDef::kNumber7 || field.type == CFieldDef::kHiddenType) continue;
    if (IsChangeHistoryField(field)) continue;
    names.push_back(field.name);
  }
  return names;
}

std::pair<std::string, std::string> SplitAssignment(std::string_view assignment) {
  size_t equals = assignment.find('=');
  if (equals == std::string_view::npos) return {std::string(assignment), std::string()};
  return {std::string(assignment.substr(0, equals)), std::string(assignment.substr(equals + 1))};
}

FieldValuesLogic::FieldValuesLogic(std::vector<CFieldDef> fields, std::string_view values,
                                   Prompts& prompts, ValueEditor& editor)
    : fields_(std::move(fields)),
      field_names_(UpdatableFieldNames(fields_)),
      assignments_(SplitNonEmpty(values, ';')),
      prompts_(prompts),
      editor_(editor) {}

std::optional<std::string> FieldValuesLogic::EditValue(const std::string& field_name,
                                                       const std::string& value) {
  const CFieldDef* field = FindField(fields_, field_name);
  if (field == nullptr) return std::nullopt;
  std::string current = value;
  for (;;) {
    std::optional<std::string> edited =
        (field->type == CFieldDef::kList || field->type == CFieldDef::kUser)
            ? editor_.ChooseValue(*field, current)
            : editor_.TypeValue(field->name, current);
    if (!edited || edited->find(';') == std::string::npos) return edited;
    prompts_.Message(kSemicolonInValueMessage, PromptIcon::kWarning);
    current = *edited;
  }
}

std::optional<size_t> FieldValuesLogic::Add(std::optional<size_t> field) {
  if (!field || *field >= field_names_.size()) return std::nullopt;
  const std::string& name = field_names_[*field];
  std::optional<std::string> value = EditValue(name, "");
  if (!value) return std::nullopt;
  assignments_.push_back(name + "=" + *value);
  return assignments_.size() - 1;
}

std::optional<size_t> FieldValuesLogic::Modify(std::optional<size_t> assignment) {
  if (!assignment || *assignment >= assignments_.size()) return std::nullopt;
  auto [name, old_value] = SplitAssignment(assignments_[*assignment]);
  std::optional<std::string> value = EditValue(name, old_value);
  if (!value) return std::nullopt;
  assignments_[*assignment] = name + "=" + *value;
  return assignment;
}

void FieldValuesLogic::Remove(std::optional<size_t> assignment) {
  if (!assignment || *assignment >= assignments_.size()) return;
  assignments_.erase(assignments_.begin() + static_cast<std::ptrdiff_t>(*assignment));
}

std::optional<std::string> FieldValuesLogic::Ok() {
  if (assignments_.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  std::string values;
  size_t sum = 0;
  for (const std::string& assignment : assignments_) {
    sum += assignment.size();
    if (sum > kFieldValuesSumLimit) break;
    if (!values.empty()) values += ';';
    values += assignment;
  }
  if (sum > kFieldValuesSumLimit || values.size() > kRuleValuesLimit) {
    prompts_.Message(kTooManyValuesMessage);
    return std::nullopt;
  }
  return values;
}

}  // namespace vigilo
