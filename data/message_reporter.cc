#include "data/message_reporter.h"

#include "platform/host/message_line.h"

namespace vigilo {

MessageReporter StderrMessageReporter() {
  return [](std::string_view text) { host::ShowMessageLine(text); };
}

}  // namespace vigilo
