#include "manager/range.h"

#include "common/format.h"

namespace vigilo {

std::pair<std::string, std::string> SplitRangeText(std::string_view text, char date_separator) {
  std::string_view join = date_separator == '-' ? " - " : "-";
  size_t at = text.find(join);
  if (at == std::string_view::npos) return {};
  return {std::string(text.substr(0, at)), std::string(text.substr(at + join.size()))};
}

RangeLogic::RangeLogic(std::string field_label, char date_separator, Prompts& prompts,
                       OperandCheck check)
    : field_label_(std::move(field_label)),
      date_separator_(date_separator),
      prompts_(prompts),
      check_(std::move(check)) {}

std::string RangeLogic::Problem(std::string_view from, std::string_view to) const {
  if (!check_) return "";
  for (std::string_view operand : {from, to}) {
    if (operand.empty()) continue;
    if (std::string problem = check_(operand); !problem.empty()) return problem;
  }
  return "";
}

std::string RangeLogic::Label() const { return Format(kRangeLabel, field_label_.c_str()); }

std::optional<std::string> RangeLogic::Ok(std::string_view from, std::string_view to) {
  std::string a(from.substr(0, kRangeOperandLimit));
  std::string b(to.substr(0, kRangeOperandLimit));
  if (a.empty() || b.empty() || !Problem(a, b).empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  return Format(date_separator_ == '-' ? "%s - %s" : "%s-%s", a.c_str(), b.c_str());
}

}  // namespace vigilo
