#include "manager/notify_list.h"

#include "common/format.h"
#include "common/text.h"
#include "data/name_lists.h"
#include "manager/field_values.h"
#include "manager/input_value.h"

namespace vigilo {

std::vector<std::string> UserFieldNames(const std::vector<CFieldDef>& fields) {
  std::vector<std::string> names;
  for (const CFieldDef& field : fields) {
    if (field.type == CFieldDef::kUser && !IsChangeHistoryField(field)) {
      names.push_back(field.name);
    }
  }
  return names;
}

NotifyListLogic::NotifyListLogic(std::string target, std::vector<std::string> entries,
                                 std::string_view values, Prompts& prompts)
    : target_(std::move(target)),
      entries_(std::move(entries)),
      preselected_(entries_.size(), false),
      prompts_(prompts) {
  std::vector<std::string> unmatched;
  for (const std::string& part : SplitNonEmpty(values, ',')) {
    bool matched = false;
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (EqualsNoCase(entries_[i], part)) {
        preselected_[i] = true;
        matched = true;
      }
    }
    if (!matched) unmatched.push_back(part);
  }
  if (ShowsOtherFields()) {
    for (const std::string& name : unmatched) {
      if (!other_fields_.empty()) other_fields_ += ',';
      other_fields_ += name;
    }
  }
}

std::vector<std::string> NotifyListLogic::Entries(const std::string& target,
                                                  const CServerPaths& paths,
                                                  const ProjectSelection& selection,
                                                  Prompts& prompts) {
  if (target == "User") return UserNameList();
  if (target == "Group") return GroupNameList();
  if (target == "Field") return UserFieldNames(ReadSelectionFields(paths, selection, prompts));
  return {};
}

std::string NotifyListLogic::Title() const { return Format(kNotifyListTitle, target_.c_str()); }

std::optional<std::string> NotifyListLogic::Ok(const std::vector<bool>& selected,
                                               std::string_view other) {
  std::string other_text = ShowsOtherFields() ? std::string(other) : std::string();
  std::string names;
  size_t sum = 0;
  bool any = false;
  for (size_t i = 0; i < entries_.size() && i < selected.size(); ++i) {
    if (!selected[i]) continue;
    sum += entries_[i].size();
    if (sum > kNotifyListSumLimit) {
      prompts_.Message(kTooManyUsersMessage);
      return std::nullopt;
    }
    if (any) names += ',';
    names += entries_[i];
    any = true;
  }
  if (!any && other_text.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  if (!any) names = other_text;
  if (names.size() > kRuleValuesLimit) {
    prompts_.Message(kTooManyUsersMessage);
    return std::nullopt;
  }
  if (any && !other_text.empty()) {
    if (sum + other_text.size() <= kNotifyListSumLimit &&
        names.size() + 1 + other_text.size() <= kRuleValuesLimit) {
      names += ',' + other_text;
    } else {
      prompts_.Message(kTooManyUsersMessage);
    }
  }
  return names;
}

}  // namespace vigilo
