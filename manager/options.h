// The Options dialog's behaviour: how often the rule engine fires, a whole
// number of minutes from 1 to 60 kept as FIRING_INTERVAL of section OPTIONS in
// the program INI file vigtab.ini, where the rule service reads it at start.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kOptionsTitle = "Options";
inline constexpr const char* kFiresRulesEveryLabel = "&Fires rules every";
inline constexpr const char* kMinutesLabel = "minutes";
inline constexpr int kMinimumInterval = 1;
inline constexpr int kMaximumInterval = 60;

inline constexpr const char* kEnterIntegerMessage = "Please enter an integer.";
// Filled with the two limits.
inline constexpr const char* kEnterIntegerBetweenMessage = "Please enter an integer between %d and %d.";
// Our own: the interval could not be stored.
inline constexpr const char* kIntervalNotSavedMessage = "Unable to save the firing interval in %s.\n%s";

// The integer a whole edit holds (blanks around it and one sign allowed), or
// std::nullopt when the text is not an integer of int's range.
std::optional<int> ParseIntegerField(std::string_view text);

class OptionsLogic {
 public:
  OptionsLogic(std::string program_ini_path, Prompts& prompts);

  // The minutes the edit shows on opening: the stored value's leading number;
  // a missing key or a value below 1 shows 1.
  int InitialInterval() const;

  // Why the edit's text cannot be the interval (the validation message), or
  // "" for an integer from 1 to 60; shown beside the edit as it is typed.
  std::string Problem(std::string_view text) const;

  // OK with the edit's text: refused with the validation message (the dialog
  // stays, the focus goes back to the edit) unless it is an integer from 1 to
  // 60; otherwise written as "%d" and true. A failed write is reported and
  // keeps the dialog open, so nothing claims to be saved that is not.
  bool Ok(std::string_view text);

 private:
  std::string program_ini_path_;
  Prompts& prompts_;
};

}  // namespace vigilo
