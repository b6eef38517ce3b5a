#include "manager/from_to.h"

#include "common/format.h"
#include "common/text.h"
#include "manager/where_condition.h"

namespace vigilo {
namespace {

constexpr const char* kGroupMark = "($Group$";

std::optional<size_t> RowOf(const std::vector<std::string>& entries, const std::string& value) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == value) return i;
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> ChoiceEntries(const CFieldDef* field) {
  std::vector<std::string> entries;
  if (field == nullptr) return entries;
  for (const std::string& choice : field->choices) entries.push_back(CutBefore(choice, kGroupMark));
  return entries;
}

FromToLogic::FromToLogic(const CFieldDef* field, std::string field_label,
                         std::string_view current, Prompts& prompts)
    : field_label_(std::move(field_label)), entries_(ChoiceEntries(field)), prompts_(prompts) {
  size_t arrow = current.find(kChangeArrow);
  if (arrow != std::string_view::npos) {
    from_ = RowOf(entries_, Trimmed(current.substr(0, arrow)));
    to_ = RowOf(entries_, Trimmed(current.substr(arrow + 2)));
  }
}

std::string FromToLogic::Label() const { return Format(kFromToLabel, field_label_.c_str()); }

std::optional<std::string> FromToLogic::Ok(std::string_view from, std::string_view to) {
  if (from.empty() || to.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  return std::string(from) + kChangeArrow + std::string(to);
}

}  // namespace vigilo
