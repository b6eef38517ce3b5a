#include "platform/host/message_line.h"

#include <poll.h>
#include <unistd.h>


namespace vigilo::host {
namespace {

void WriteToStderr(const std::string& line) {
  pollfd pfd{STDERR_FILENO, POLLOUT, 0};
  if (poll(&pfd, 1, 0) != 1 || !(pfd.revents & POLLOUT)) return;
  std::string out = "Vigilo Service: " + line + "\n";
  // One write call, so lines of two threads do not interleave; a short or
  // failed write loses only this copy of the text.
  ssize_t ignored = write(STDERR_FILENO, out.data(), out.size());
  (void)ignored;
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string line;
  bool in_break = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!in_break) line.push_back(' ');
      in_break = true;
    } else {
      line.push_back(c);
      in_break = false;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

void ShowMessageLine(std::string_view text) { WriteToStderr(OneLine(text)); }

}  // namespace vigilo::host
