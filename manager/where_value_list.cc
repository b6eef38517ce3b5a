#include "manager/where_value_list.h"

#include <algorithm>

#include "common/text.h"
#include "data/name_lists.h"
#include "manager/from_to.h"

namespace vigilo {
namespace {

constexpr int kGroupsToo = 0x20;

}  // namespace

void FillUserChoices(CFieldDef& field) {
  if (field.type != CFieldDef::kUser || !field.choices.empty()) return;
  field.choices = UserNameList();
  if ((field.attribute_number & kGroupsToo) != 0) {
    const std::vector<std::string>& groups = GroupNameList();
    field.choices.insert(field.choices.end(), groups.begin(), groups.end());
  }
}

ValueListCondLogic::ValueListCondLogic(CFieldDef* field, const Clause& clause, Prompts& prompts)
    : caption_(WhereCaption(clause, field)), option_(SearchOptionOf(clause.values)),
      prompts_(prompts) {
  if (field != nullptr) FillUserChoices(*field);
  entries_ = ChoiceEntries(field);
  if (field != nullptr && field->HasHistoryFlag()) entries_.push_back(kChangeArrow);

  const std::string& value = clause.values;
  if (option_ == SearchOption::kNone || value.empty()) return;
  // A change is edited as a whole in the FromTo dialog.
  if (value.find(kChangeArrow) != std::string::npos) {
    other_ = value;
    return;
  }
  // Items the list does not hold stay in the other values, so reopening a
  // clause never loses part of its value.
  char join = value.find(',') != std::string::npos ? ',' : '&';
  for (const std::string& item : SplitNonEmpty(value, join)) {
    auto found = std::find(entries_.begin(), entries_.end(), item);
    if (found != entries_.end() && item != kChangeArrow) {
      size_t row = static_cast<size_t>(found - entries_.begin());
      if (std::find(selected_.begin(), selected_.end(), row) == selected_.end()) {
        selected_.push_back(row);
      }
    } else {
      if (!other_.empty()) other_ += join;
      other_ += item;
    }
  }
  std::sort(selected_.begin(), selected_.end());
}

bool ValueListCondLogic::IsChangeEntry(size_t row) const {
  return row < entries_.size() && entries_[row] == kChangeArrow;
}

std::optional<std::string> ValueListCondLogic::Ok(const std::vector<size_t>& selected_rows,
                                                  std::string_view other, SearchOption option) {
  if (option == SearchOption::kNone) return std::string(kEmptyValue);
  std::string extra(other.substr(0, kOtherValuesLimit));
  std::vector<size_t> rows = selected_rows;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [&](size_t row) { return row >= entries_.size(); }),
             rows.end());
  if (rows.empty() && extra.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  char join = option == SearchOption::kAnd ? '&' : ',';
  std::string value;
  bool first = true;
  for (size_t row : rows) {
    if (IsChangeEntry(row)) continue;
    if (!first) value += join;
    value += entries_[row];
    first = false;
  }
  if (!extra.empty()) value += join + extra;
  if (!value.empty() && value[0] == ',') value.erase(0, 1);
  // Only "->" chosen: there is nothing to compare with.
  if (value.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  if (value.size() > kValueListLimit) {
    prompts_.Message(kTooManyItemsMessage);
    return std::nullopt;
  }
  return value;
}

}  // namespace vigilo
