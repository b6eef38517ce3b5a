#include "manager/prompts.h"

namespace vigilo {

Reporter Prompts::AsReporter() {
  return [this](const std::string& message) { Message(message); };
}

}  // namespace vigilo
