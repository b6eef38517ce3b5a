// The Range dialog: two operands of a range expression, joined by "-", or by
// " - " when the user's dates are written with "-" (so a date range can be
// told from the dates in it).
#pragma once

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

class RangeLogic {
 public:
  RangeLogic(std::string field_label, char date_separator, Prompts& prompts);

  std::string Label() const;
  // Ok: both operands are needed (else beep).
  std::optional<std::string> Ok(std::string_view from, std::string_view to);

 private:
  std::string field_label_;
  char date_separator_;
  Prompts& prompts_;
};

}  // namespace vigilo
