// The mail server of a setting ("host", "host:port", "[v6]:port" or an
// smtp:// or smtps:// URL, possibly with "user:password@"), taken apart.
//
// Whatever names a server in output (run log, outbox files, vgqueue, --check,
// error texts) goes through SmtpServerDisplayName, so a password written into
// a server URL never leaves the setting it was written in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vigilo {

struct SmtpServerAddress {
  std::string scheme;    // "smtp", "smtps", or "" when the text named none
  std::string host;      // an IPv6 address keeps its brackets
  int port = 0;          // 0: the text named none
  std::string user;      // from "user:password@", percent-decoded
  std::string password;
  bool has_credentials = false;
  std::string path;      // what follows host:port in a URL ("/domain"), or ""
};

// Takes a server text apart. Blanks around it are ignored. Returns nothing
// for an empty text, one holding blanks or control characters, a scheme
// other than smtp and smtps, or a port that is not a number from 1 to 65535.
std::optional<SmtpServerAddress> ParseSmtpServer(std::string_view text);

// The port a connection uses: the one named, else 465 for smtps or implicit
// TLS, else 25.
int EffectiveSmtpPort(const SmtpServerAddress& server, bool implicit_tls);

// "host:port" for output: never the scheme, user or password. A text that
// cannot be taken apart is named "(unreadable server setting)" rather than
// echoed, since it may still hold a password.
std::string SmtpServerDisplayName(std::string_view text, bool implicit_tls = false);

// The text with the "user:password@" of every URL in it removed, for texts
// that come from elsewhere (a plugin's error, an outbox entry written by an
// older version) before they are shown or logged.
std::string WithoutUrlCredentials(std::string_view text);

// Whether the host is this machine (localhost, 127.0.0.0/8, ::1).
bool IsLoopbackHost(std::string_view host);

}  // namespace vigilo
