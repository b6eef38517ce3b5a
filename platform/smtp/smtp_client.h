// Delivery of one composed message to an SMTP server with libcurl.
//
// Shared by the SMTP library and the mail-system provider. An SmtpClient owns
// one libcurl handle, so consecutive deliveries to the same server reuse the
// connection; it is used by one thread at a time. Every libcurl result is
// turned into an SmtpOutcome by TranslateCurlCode, the one place where
// libcurl's codes meet ours.
#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/smtp_security.h"

namespace vigilo::mail {

enum class SmtpFailure {
  kNone,
  kBadMessage,  // nothing to send to, unusable server or address text
  kConnect,     // name unknown, connection refused
  kTimeout,     // connect or whole-delivery time-out reached
  kRejected,    // the server refused sender, a recipient or the data
  kTransfer,    // connection broke, other transport failure
  kInternal,    // out of memory, libcurl could not be set up
  kSecurity,    // no TLS where it is required, certificate refused, AUTH refused
};

// A recipient the server refused at RCPT TO.
struct RefusedRecipient {
  int code = 0;         // the server's three-digit reply code
  std::string address;  // as given to RCPT TO, without the angle brackets
  std::string reply;    // the server's reply line
};

struct SmtpOutcome {
  SmtpFailure failure = SmtpFailure::kNone;
  std::string text;  // what failed and why; empty on success
  // The server's last reply code (0 when the server never answered): tells a
  // temporary refusal (4xx) from a permanent one (5xx).
  int reply_code = 0;
  // Recipients refused while others were accepted (only when the send allowed
  // recipient failures), or all of them when every one was refused.
  std::vector<RefusedRecipient> refused;
  bool ok() const { return failure == SmtpFailure::kNone; }
};

// Bounds on one delivery, in seconds.
struct SmtpTimeouts {
  long connect_seconds = 5;
  long total_seconds = 30;
  // Defaults overridden by VIGILO_SMTP_CONNECT_TIMEOUT and VIGILO_SMTP_TIMEOUT
  // (positive whole seconds; anything else keeps the default).
  static SmtpTimeouts FromEnvironment();
};

// The libcurl URL for a server text, without any credentials it holds:
// "host" and "host:port" (also "[v6]:port") become smtp://host:port with port
// 25 by default (smtps://host:465 with implicit_tls); a URL keeps its scheme
// (smtps with implicit_tls), host, port and path. Returns "" for an empty or
// unsafe text.
std::string SmtpUrlForServer(std::string_view server, bool implicit_tls = false);

// How one delivery reaches its server.
struct SmtpConnection {
  std::string url;      // without credentials
  std::string display;  // "host:port", the server's name in every text
  SmtpCredentials login;
};

// The connection for a server text and checked credentials
// (ResolveSmtpCredentials). Nothing for an unusable server text.
std::optional<SmtpConnection> SmtpConnectionFor(std::string_view server,
                                                const SmtpCredentials& login);

// The one translator from a libcurl result to ours. detail is libcurl's error
// buffer (may be empty); the text names the server as display (host:port).
SmtpOutcome TranslateCurlCode(CURLcode code, std::string_view detail,
                              std::string_view display);

class SmtpClient {
 public:
  SmtpClient();
  ~SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // Sends message (complete text, "\r\n" line ends) from envelope_from to
  // every recipient. libcurl dot-stuffs lines that begin with ".". With
  // allow_refused_recipients the message still goes to the recipients the
  // server accepted and the refused ones are listed in the outcome; the send
  // fails only when every recipient was refused. Without it one refusal
  // fails the whole message.
  //
  // The session is encrypted as connection.login says: implicit TLS, or
  // STARTTLS when the server offers it and required when there is a user.
  // Peer and host are always verified. AUTH uses whatever mechanism libcurl
  // and the server agree on.
  SmtpOutcome Send(const SmtpConnection& connection, const std::string& envelope_from,
                   const std::vector<std::string>& recipients,
                   const std::string& message, const SmtpTimeouts& timeouts,
                   bool allow_refused_recipients = false);
  // The same for a server text (host, host:port or URL) with the default
  // security: STARTTLS when offered, credentials of a URL only over TLS.
  SmtpOutcome Send(const std::string& server, const std::string& envelope_from,
                   const std::vector<std::string>& recipients,
                   const std::string& message, const SmtpTimeouts& timeouts,
                   bool allow_refused_recipients = false);

 private:
  CURL* curl_;
};

}  // namespace vigilo::mail
