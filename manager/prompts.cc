#include "manager/prompts.h"

namespace vigilo {

Reporter Prompts::AsReporter() {
  return [this](const std::string& message) { Message(message); };
}

MessageReporter Prompts::AsMessageReporter() {
  return [this](std::string_view message) { Message(std::string(message)); };
}

}  // namespace vigilo
