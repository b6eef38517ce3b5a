#include "manager/values_dialog.h"

#include "common/format.h"

#include "common/text.h"

namespace vigilo {
namespace {

// Choices that stand for a group carry this marker and the group after the
// name the supervisor sees.
constexpr std::string_view kGroupMarker = "($Group$";

}  // namespace

ValuesLogic::ValuesLogic(const CFieldDef& field, std::string_view value, Prompts& prompts)
    : multiple_((field.flags & kMultiValuedFlag) != 0), field_name_(field.name), prompts_(prompts) {
  for (const std::string& choice : field.choices) {
    size_t marker = choice.find(kGroupMarker);
    entries_.push_back(marker == std::string::npos ? choice : choice.substr(0, marker));
  }
  preselected_.assign(entries_.size(), false);
  for (const std::string& part : SplitNonEmpty(value, ',')) {
    bool matched = false;
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (!EqualsNoCase(entries_[i], part)) continue;
      if (!multiple_) preselected_.assign(entries_.size(), false);
      preselected_[i] = true;
      matched = true;
      if (!multiple_) break;
    }
    if (matched) continue;
    if (!other_values_.empty()) other_values_ += ',';
    other_values_ += part;
  }
}

std::string ValuesLogic::FieldCaption() const {
  return Format(kValuesFieldCaption, field_name_.c_str());
}

std::optional<std::string> ValuesLogic::Ok(const std::vector<bool>& selected,
                                           std::string_view other) {
  std::string chosen;
  bool any = false;
  for (size_t i = 0; i < entries_.size() && i < selected.size(); ++i) {
    if (!selected[i]) continue;
    if (multiple_ || !any) {
      if (any) chosen += ',';
      chosen += entries_[i];
    }
    any = true;
  }
  if (!any && other.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  std::string value;
  if (multiple_) {
    value = chosen;
    if (!other.empty()) value += (any ? "," : "") + std::string(other);
  } else {
    value = other.empty() ? chosen : std::string(other);
  }
  if (value.size() > kFieldValueLimit) {
    prompts_.Message(kValuesTooManyItemsMessage);
    return std::nullopt;
  }
  return value;
}

}  // namespace vigilo
