// libvgsmtp.so: the SMTP mail library behind vgsmtp.h.
//
// One process-wide session holds an SmtpClient (and so its connection) from
// SmtpOpenSession to SmtpCloseSession; calls are serialised by a mutex. The
// record's texts are copied into a composed message before anything is sent,
// so the caller may free them as soon as SmtpSendMail returns.
#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string>

#include "common/smtp_security.h"
#include "common/smtp_server.h"
#include "platform/smtp/mail_message.h"
#include "platform/smtp/smtp_client.h"
#include "platform/smtp/vgsmtp.h"

#define VGSMTP_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using vigilo::mail::SmtpFailure;

struct Session {
  std::unique_ptr<vigilo::mail::SmtpClient> client;
  vigilo::mail::SmtpTimeouts timeouts;
  vigilo::SmtpCredentials login;  // set by SmtpSetSecurity; kept across sessions
};

std::mutex session_mutex;
Session session;
thread_local std::string last_error;
thread_local std::string refused_recipients;  // "CODE address reply" lines
thread_local int32_t last_reply_code = 0;

int32_t Fail(int32_t code, std::string text) {
  last_error = std::move(text);
  return code;
}

int32_t ResultCode(SmtpFailure failure) {
  switch (failure) {
    case SmtpFailure::kNone: return VGSMTP_OK;
    case SmtpFailure::kBadMessage: return VGSMTP_E_BAD_MESSAGE;
    case SmtpFailure::kConnect: return VGSMTP_E_CONNECT;
    case SmtpFailure::kTimeout: return VGSMTP_E_TIMEOUT;
    case SmtpFailure::kRejected: return VGSMTP_E_REJECTED;
    case SmtpFailure::kTransfer: return VGSMTP_E_TRANSFER;
    case SmtpFailure::kInternal: return VGSMTP_E_INTERNAL;
    case SmtpFailure::kSecurity: return VGSMTP_E_SECURITY;
  }
  return VGSMTP_E_INTERNAL;
}

std::string Text(const char* text) { return text != nullptr ? text : ""; }

// libcurl's global state lives as long as the library is loaded.
__attribute__((constructor)) void InitTransport() { curl_global_init(CURL_GLOBAL_DEFAULT); }
__attribute__((destructor)) void EndTransport() {
  {
    std::lock_guard<std::mutex> lock(session_mutex);
    session.client.reset();
  }
  curl_global_cleanup();
}

}  // namespace

VGSMTP_EXPORT int32_t SmtpOpenSession(void) {
  last_error.clear();
  std::lock_guard<std::mutex> lock(session_mutex);
  session.timeouts = vigilo::mail::SmtpTimeouts::FromEnvironment();
  if (session.client != nullptr) return VGSMTP_OK;
  try {
    session.client = std::make_unique<vigilo::mail::SmtpClient>();
  } catch (const std::exception& e) {
    return Fail(VGSMTP_E_INTERNAL, std::string("cannot open the SMTP session: ") + e.what());
  }
  return VGSMTP_OK;
}

VGSMTP_EXPORT int32_t SmtpSendMail(const SmtpMessage* message) {
  last_error.clear();
  refused_recipients.clear();
  last_reply_code = 0;
  if (message == nullptr) return Fail(VGSMTP_E_BAD_MESSAGE, "no message record");
  try {
    if (message->body_format != VGSMTP_BODY_PLAIN_TEXT) {
      return Fail(VGSMTP_E_BAD_MESSAGE,
                  "unsupported body format " + std::to_string(message->body_format));
    }
    const std::string server = Text(message->server);
    vigilo::SmtpCredentials login;
    {
      std::lock_guard<std::mutex> lock(session_mutex);
      login = session.login;
    }
    std::optional<vigilo::SmtpServerAddress> address = vigilo::ParseSmtpServer(server);
    if (login.user.empty() && address && address->has_credentials) {
      // Credentials in the URL still work, under the same rules as User.
      login.user = address->user;
      login.password = address->password;
      login.from_url = true;
    }
    std::optional<vigilo::mail::SmtpConnection> connection =
        vigilo::mail::SmtpConnectionFor(server, login);
    if (!connection) {
      return Fail(VGSMTP_E_BAD_MESSAGE,
                  "bad or empty SMTP server " + vigilo::SmtpServerDisplayName(server));
    }
    std::string sender = Text(message->sender);
    std::string envelope_from = vigilo::mail::EnvelopeAddress(sender);
    if (envelope_from.empty() || !vigilo::mail::IsSafeHeaderText(sender)) {
      return Fail(VGSMTP_E_BAD_MESSAGE, "bad or empty sender \"" + sender + "\"");
    }
    vigilo::mail::OutgoingMail mail;
    mail.from = sender;
    mail.subject = Text(message->subject);
    mail.body = Text(message->body);
    std::vector<std::string> envelope_to;
    for (const std::string& address : vigilo::mail::SplitAddressList(Text(message->recipients))) {
      std::string bare = vigilo::mail::EnvelopeAddress(address);
      if (bare.empty() || !vigilo::mail::IsSafeHeaderText(address)) {
        return Fail(VGSMTP_E_BAD_MESSAGE, "bad recipient \"" + address + "\"");
      }
      mail.to.push_back(address);
      envelope_to.push_back(bare);
    }
    if (envelope_to.empty()) return Fail(VGSMTP_E_BAD_MESSAGE, "no recipient");
    std::string text = vigilo::mail::ComposeMessage(mail);

    std::lock_guard<std::mutex> lock(session_mutex);
    if (session.client == nullptr) {
      return Fail(VGSMTP_E_NO_SESSION, "SmtpSendMail called without an open session");
    }
    vigilo::mail::SmtpOutcome outcome =
        session.client->Send(*connection, envelope_from, envelope_to, text, session.timeouts,
                             /*allow_refused_recipients=*/true);
    last_reply_code = outcome.reply_code;
    for (const vigilo::mail::RefusedRecipient& refused : outcome.refused) {
      refused_recipients += std::to_string(refused.code) + " " + refused.address + " " +
                            refused.reply + "\n";
    }
    if (!outcome.ok()) return Fail(ResultCode(outcome.failure), outcome.text);
    return VGSMTP_OK;
  } catch (const std::exception& e) {
    return Fail(VGSMTP_E_INTERNAL, std::string("SMTP delivery failed: ") + e.what());
  }
}

// Keeps the last error, so that a caller can close first and log after.
VGSMTP_EXPORT int32_t SmtpCloseSession(void) {
  std::lock_guard<std::mutex> lock(session_mutex);
  session.client.reset();
  return VGSMTP_OK;
}

VGSMTP_EXPORT int32_t SmtpSetSecurity(const SmtpSecurity* security) {
  last_error.clear();
  if (security == nullptr) return Fail(VGSMTP_E_BAD_MESSAGE, "no security record");
  vigilo::SmtpCredentials login;
  switch (security->mode) {
    case VGSMTP_SECURITY_STARTTLS: login.mode = vigilo::SmtpSecurityMode::kStartTls; break;
    case VGSMTP_SECURITY_TLS: login.mode = vigilo::SmtpSecurityMode::kTls; break;
    case VGSMTP_SECURITY_NONE: login.mode = vigilo::SmtpSecurityMode::kNone; break;
    default:
      return Fail(VGSMTP_E_BAD_MESSAGE, "unknown security mode " + std::to_string(security->mode));
  }
  try {
    login.user = Text(security->user);
    login.password = Text(security->password);
    login.ca_file = Text(security->ca_file);
    std::lock_guard<std::mutex> lock(session_mutex);
    session.login = std::move(login);
  } catch (const std::exception& e) {
    return Fail(VGSMTP_E_INTERNAL, std::string("cannot set the SMTP security: ") + e.what());
  }
  return VGSMTP_OK;
}

VGSMTP_EXPORT const char* SmtpLastError(void) { return last_error.c_str(); }

VGSMTP_EXPORT const char* SmtpRefusedRecipients(void) { return refused_recipients.c_str(); }

VGSMTP_EXPORT int32_t SmtpLastReplyCode(void) { return last_reply_code; }
