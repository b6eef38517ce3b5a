#include "manager/input_value.h"

namespace vigilo {

std::optional<std::string> InputValueLogic::Ok(std::string_view text) {
  std::string value(text.substr(0, kInputValueLimit));
  if (value.empty()) {
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
