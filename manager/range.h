// The Range dialog: two operands of a range expression, joined by "-", or by
// " - " when the user's dates are written with "-" (so a date range can be
// told from the dates in it).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kRangeTitle = "Range Dialog";
inline constexpr const char* kRangeLabel = "Specify the range of %s";
inline constexpr const char* kFromLabel = "&From:";
inline constexpr const char* kToLabel = "&To:";
inline constexpr const char* kDialogOkButton = "&Ok";
inline constexpr int kRangeOperandLimit = 63;

// An existing range cut into its two operands (both empty when the text holds
// no range).
std::pair<std::string, std::string> SplitRangeText(std::string_view text, char date_separator);

// Why one operand cannot stand in the range, or "" (none: every text can).
using OperandCheck = std::function<std::string(std::string_view operand)>;

class RangeLogic {
 public:
  RangeLogic(std::string field_label, char date_separator, Prompts& prompts,
             OperandCheck check = {});

  std::string Label() const;
  // Why the operands cannot be stored, shown as they are typed, or "": the
  // first operand's reason, else the second's. Empty operands give none.
  std::string Problem(std::string_view from, std::string_view to) const;

  // Ok: both operands are needed and must have no Problem (else beep).
  std::optional<std::string> Ok(std::string_view from, std::string_view to);

 private:
  std::string field_label_;
  char date_separator_;
  Prompts& prompts_;
  OperandCheck check_;
};

}  // namespace vigilo
