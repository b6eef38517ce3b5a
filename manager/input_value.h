// The Input Value dialog's behaviour: one typed text, for an Internet address
// of a Notify rule or for the value of a plain field of an Update rule.
//
// Also holds the limit every values dialog keeps to: the rule table's Values
// field and the Setup Rules dialog hold at most kRuleValuesLimit characters,
// and a longer result is refused rather than cut, since a cut list of names
// or assignments would quietly mail or update something else.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "manager/prompts.h"

namespace vigilo {

inline constexpr size_t kRuleValuesLimit = 127;

inline constexpr const char* kInputValueTitle = "Input Value Dialog";
inline constexpr const char* kInputValueOkButton = "&Ok";
inline constexpr const char* kInputValueCancelButton = "&Cancel";
// The label that asks for an Internet address and turns on its checks.
inline constexpr const char* kInternetAddressLabel = "Internet Address:";
inline constexpr size_t kInputValueLimit = 127;

inline constexpr const char* kInvalidAddressMessage = "Invalid Internet Address";

class InputValueLogic {
 public:
  // numeric: the value is for a number field and must read as a number.
  InputValueLogic(std::string label, Prompts& prompts, bool numeric = false)
      : label_(std::move(label)), numeric_(numeric), prompts_(prompts) {}

  const std::string& label() const { return label_; }

  // Why the text cannot be the value, shown beside the edit as it is typed,
  // or "": a number field's value that is no number.
  std::string Problem(std::string_view text) const;

  // OK with the edit's text (the edit takes kInputValueLimit characters): an
  // empty text or one with a Problem beeps; under the Internet address label, a text without an at
  // sign or a dot, or with a comma or a semicolon (they separate recipients)
  // beeps and shows "Invalid Internet Address". Both keep the dialog open
  // (std::nullopt); otherwise the text is the dialog's result.
  std::optional<std::string> Ok(std::string_view text);

 private:
  std::string label_;
  bool numeric_;
  Prompts& prompts_;
};

}  // namespace vigilo
