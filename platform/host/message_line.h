// ShowMessageLine: what replaces a message box in a program without a desktop.
//
// The text becomes one line on standard error (the journal under systemd):
// line ends inside it are turned into blanks. The call never blocks: when
// standard error cannot take the line at once it is dropped, since the same
// text is always in the run log as well. The engine does not call it
// directly: it is the daemon's message reporter (data/message_reporter.h).
#pragma once

#include <string>
#include <string_view>

namespace vigilo::host {

void ShowMessageLine(std::string_view text);

// The one-line form of a text: "\r\n", "\r" and "\n" become one blank each
// run, trailing blanks are dropped.
std::string OneLine(std::string_view text);

}  // namespace vigilo::host
