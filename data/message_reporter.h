// MessageReporter: where the engine shows a message that a program with a
// desktop puts in a message box (a failed start, an invalid date in a
// condition, an unreadable user table).
//
// The engine never reaches for a process-wide destination: whoever runs it
// hands it one. The daemon shows each message as one line on standard error
// (the journal under systemd); the rule manager, which runs the engine on a
// thread beside its window, shows it in its own way. A reporter may be called
// from the engine's worker thread.
#pragma once

#include <functional>
#include <string_view>

namespace vigilo {

using MessageReporter = std::function<void(std::string_view text)>;

// The daemon's reporter: one line on standard error that never blocks.
MessageReporter StderrMessageReporter();

}  // namespace vigilo
