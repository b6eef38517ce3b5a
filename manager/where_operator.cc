#include "manager/where_operator.h"

#include "common/format.h"
#include "common/text.h"
#include "data/dates.h"
#include "manager/where_condition.h"

namespace vigilo {
namespace {

// Splits a value into its leading comparison ("=", "<", ">"), and one or two
// operands with the text that joins a range, so that joining them again gives
// the value unchanged.
struct ValueParts {
  std::string comparison;
  std::string first;
  std::string range_join;  // empty for a single operand
  std::string second;
};

ValueParts SplitValue(const DateSettings& settings, std::string_view value) {
  ValueParts parts;
  if (!value.empty() && (value[0] == '=' || value[0] == '<' || value[0] == '>')) {
    parts.comparison = value.substr(0, 1);
    value.remove_prefix(1);
  }
  std::string_view join = settings.separator == '-' ? " - " : "-";
  size_t at = value.find(join);
  if (at != std::string_view::npos) {
    parts.first = value.substr(0, at);
    parts.range_join = join;
    parts.second = value.substr(at + join.size());
  } else {
    parts.first = value;
  }
  return parts;
}

std::string Join(const ValueParts& parts) {
  return parts.comparison + parts.first + parts.range_join + parts.second;
}

template <typename Convert>
std::string ConvertParts(const DateSettings& settings, std::string_view value, Convert convert) {
  ValueParts parts = SplitValue(settings, value);
  parts.first = convert(parts.first);
  if (!parts.range_join.empty()) parts.second = convert(parts.second);
  return Join(parts);
}

}  // namespace

bool IsDecimalNumber(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  bool digit = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

std::string DateValueToDisplay(const DateSettings& settings, std::string_view value) {
  return ConvertParts(settings, value, [&](const std::string& part) {
    std::string stored = Trimmed(part);
    if (stored.empty() || stored.find(settings.separator) != std::string::npos) return part;
    std::optional<std::string> shown = StoredDateToDisplay(settings, stored, false);
    return shown ? *shown : part;
  });
}

std::string DateValueToStored(const DateSettings& settings, std::string_view value) {
  return ConvertParts(settings, value, [&](const std::string& part) {
    std::string typed = Trimmed(part);
    if (typed.find(settings.separator) == std::string::npos) return part;
    std::optional<std::string> stored = DateToStoredForm(settings, typed);
    return stored ? *stored : part;
  });
}

OperatorCondLogic::OperatorCondLogic(const CFieldDef* field, const Clause& clause,
                                     const DateSettings& settings, Prompts& prompts)
    : field_(field), clause_(clause), settings_(settings), prompts_(prompts) {
  operators_ = {"=", "<", ">", kRangeOperator, kNoneOperator};
  if (field_ != nullptr && field_->type == CFieldDef::kDate) operators_.push_back("Date()");
}

std::string OperatorCondLogic::Label() const {
  std::string label = FieldLabel(clause_, field_);
  if (clause_.qualifier.empty()) return Format(kEqualsLabel, label.c_str());
  return Format(kQualifiedEqualsLabel, clause_.qualifier.c_str(), label.c_str());
}

std::string OperatorCondLogic::InitialExpression() const {
  const std::string& value = clause_.values;
  if (!value.empty() && value[0] == ' ') return kNoneOperator;
  if (field_ != nullptr && field_->type == CFieldDef::kDate) {
    return DateValueToDisplay(settings_, value);
  }
  return value;
}

OperatorCondLogic::Selection OperatorCondLogic::Select(std::optional<size_t> row,
                                                       std::string& expression) {
  if (!row || *row >= operators_.size()) {
    prompts_.Beep();
    return Selection::kNothing;
  }
  if (operators_[*row] == kRangeOperator) {
    if (expression.size() > kRangeInputLimit) expression.resize(kRangeInputLimit);
    return Selection::kRange;
  }
  expression = operators_[*row];
  return Selection::kReplaced;
}

std::string OperatorCondLogic::Problem(std::string_view expression) const {
  if (expression.empty() || expression == kNoneOperator) return "";
  ValueParts parts = SplitValue(settings_, expression);
  std::string first = Trimmed(parts.first);
  // The second character of "<=", ">=" and "<>" belongs to the comparison.
  if (!parts.comparison.empty() && !first.empty() && (first[0] == '=' || first[0] == '>')) {
    first = first.substr(1);
  }
  std::string problem = OperandProblem(first);
  if (problem.empty() && !parts.range_join.empty()) problem = OperandProblem(parts.second);
  return problem;
}

std::string OperatorCondLogic::OperandProblem(std::string_view text) const {
  bool number = field_ != nullptr &&
                (field_->type == CFieldDef::kNumber || field_->type == CFieldDef::kNumber7);
  bool date = field_ != nullptr && field_->type == CFieldDef::kDate;
  if (!number && !date) return "";
  std::string operand = Trimmed(text);
  if (operand.empty()) return kNoOperandReason;
  if (number) {
    if (!IsDecimalNumber(operand)) return Format(kNotANumberReason, operand.c_str());
  } else if (ToLower(operand).rfind("date()", 0) != 0 && !DateToStoredForm(settings_, operand)) {
    return Format(kNotADateReason, operand.c_str(), settings_.picture.c_str());
  }
  return "";
}

std::string OperatorCondLogic::Hint() const {
  if (field_ == nullptr || field_->type != CFieldDef::kDate) return "";
  return Format(kDateHint, settings_.picture.c_str());
}

std::optional<std::string> OperatorCondLogic::Ok(std::string_view expression) {
  std::string text(expression.substr(0, kExpressionLimit));
  if (text.empty() || !Problem(text).empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  if (text == kNoneOperator) return std::string(kEmptyValue);
  if (field_ != nullptr && field_->type == CFieldDef::kDateTime) return text;
  return DateValueToStored(settings_, text);
}

}  // namespace vigilo
