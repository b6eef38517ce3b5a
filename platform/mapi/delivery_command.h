// Hands a message to a sendmail-compatible command ("/usr/sbin/sendmail -t
// -oi", "msmtp -C rc -t"): the command runs under /bin/sh, reads the message
// on its standard input and takes the recipients from its headers.
//
// The run is bounded in time (the command is killed at the deadline), a
// command that stops reading does not kill the calling process with SIGPIPE,
// and its combined output becomes the failure text.
#pragma once

#include <string>

namespace vigilo::mapi {

struct CommandOutcome {
  bool ok = false;
  std::string text;  // one line: what failed and why; empty on success
};

// Runs command with input on its standard input and waits for it to exit.
// Success is exit status 0.
CommandOutcome RunDeliveryCommand(const std::string& command, const std::string& input,
                                  long timeout_seconds);

}  // namespace vigilo::mapi
