// The Where Condition dialog of numbers, dates and date-times: an expression
// made of an operator and its operand, dates shown and typed in the user's
// date format and stored as CCYYMMDD.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/condition.h"
#include "data/date_settings.h"
#include "data/field_def.h"
#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kEqualsLabel = "Where %s equals:";
inline constexpr const char* kQualifiedEqualsLabel = "Where %s %s equals:";
inline constexpr const char* kOperatorsLabel = "O&perators:";
inline constexpr const char* kExpressionLabel = "&Expression:";
inline constexpr const char* kSelectButton = "&Select...";
inline constexpr const char* kRangeOperator = "Range(-)";
inline constexpr const char* kNoneOperator = "{none}";
inline constexpr int kOperatorHelpTopic = 622;
inline constexpr int kExpressionLimit = 63;
// The Range dialog is opened on at most this much of the expression.
inline constexpr size_t kRangeInputLimit = 255;

// Our own: why an expression cannot be stored, shown beside it as it is typed.
inline constexpr const char* kNoOperandReason = "Type a value after the operator.";
inline constexpr const char* kNotANumberReason = "\"%s\" is not a number.";
inline constexpr const char* kNotADateReason = "\"%s\" is not a date written as %s.";
inline constexpr const char* kDateHint = "Dates as %s, or Date()";

// What a number field's operand or value must be: digits with at most one
// decimal point, after an optional sign.
bool IsDecimalNumber(std::string_view text);

// A stored date value (operator, single date or range) in the user's format;
// parts that are no stored date ("Date()") are shown as they are.
std::string DateValueToDisplay(const DateSettings& settings, std::string_view value);
// The other way: every part that holds the date separator and reads as a
// user date becomes CCYYMMDD; the rest is kept as typed.
std::string DateValueToStored(const DateSettings& settings, std::string_view value);

class OperatorCondLogic {
 public:
  OperatorCondLogic(const CFieldDef* field, const Clause& clause, const DateSettings& settings,
                    Prompts& prompts);

  std::string Label() const;
  const std::vector<std::string>& Operators() const { return operators_; }
  std::string InitialExpression() const;

  // Selecting an operator (double-click or Select...). No row: beep and
  // nothing. Range(-): kRange, and the view opens the Range dialog on the
  // expression. Otherwise the expression becomes the operator's text.
  enum class Selection { kNothing, kRange, kReplaced };
  Selection Select(std::optional<size_t> row, std::string& expression);

  // Why the expression cannot be stored, or "": an operand of a number field
  // that is no number, or of a date field that is no date in the user's
  // format (nor Date() or eight stored digits). {none} and an empty
  // expression (Ok beeps for it) give no reason.
  std::string Problem(std::string_view expression) const;
  // The same for one operand alone (as the Range dialog's From and To).
  std::string OperandProblem(std::string_view operand) const;
  // The format a date field's operands are typed in, or "" for other fields.
  std::string Hint() const;

  // Ok: the value text to store, or std::nullopt (beep) for an empty
  // expression or one with a Problem (shown beside the expression).
  std::optional<std::string> Ok(std::string_view expression);

 private:
  const CFieldDef* field_;
  Clause clause_;
  DateSettings settings_;
  Prompts& prompts_;
  std::vector<std::string> operators_;
};

}  // namespace vigilo
