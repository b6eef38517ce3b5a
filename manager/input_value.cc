#include "manager/input_value.h"

#include "common/format.h"
#include "common/text.h"
#include "manager/where_operator.h"

namespace vigilo {

std::string InputValueLogic::Problem(std::string_view text) const {
  std::string value = Trimmed(text);
  if (!numeric_ || value.empty() || IsDecimalNumber(value)) return "";
  return Format(kNotANumberReason, value.c_str());
}

std::optional<std::string> InputValueLogic::Ok(std::string_view text) {
  std::string value(text.substr(0, kInputValueLimit));
  if (value.empty() || !Problem(value).empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  if (label_ == kInternetAddressLabel) {
    bool usable = value.find('@') != std::string::npos && value.find('.') != std::string::npos &&
                  value.find_first_of(",;") == std::string::npos;
    if (!usable) {
      prompts_.Beep();
      prompts_.Message(kInvalidAddressMessage);
      return std::nullopt;
    }
  }
  return value;
}

}  // namespace vigilo
