#include "platform/smtp/smtp_client.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/format.h"
#include "common/smtp_server.h"
#include "platform/smtp/mail_message.h"

namespace vigilo::mail {

namespace {

long SecondsFromEnvironment(const char* name, long fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return fallback;
  char* end = nullptr;
  long seconds = std::strtol(value, &end, 10);
  if (*end != '\0' || seconds <= 0) return fallback;
  return seconds;
}

struct UploadSource {
  const std::string* data;
  size_t offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* source = static_cast<UploadSource*>(user);
  size_t room = size * count;
  size_t left = source->data->size() - source->offset;
  size_t n = left < room ? left : room;
  std::memcpy(buffer, source->data->data() + source->offset, n);
  source->offset += n;
  return n;
}

// Pairs each RCPT TO the client sends with the server's final reply line, so
// a refusal can be told per recipient (libcurl itself reports only whether
// every recipient failed).
struct ReplyWatch {
  std::string pending_rcpt;  // address of the RCPT TO awaiting its reply
  bool awaiting = false;
  std::vector<RefusedRecipient> refused;
};

int WatchReplies(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* watch = static_cast<ReplyWatch*>(user);
  std::string_view text(data, size);
  if (type == CURLINFO_HEADER_OUT) {
    watch->awaiting = text.substr(0, 8) == "RCPT TO:";
    if (watch->awaiting) {
      std::string_view address = text.substr(8);
      while (!address.empty() && (address.back() == '\n' || address.back() == '\r')) {
        address.remove_suffix(1);
      }
      if (address.size() >= 2 && address.front() == '<' && address.back() == '>') {
        address = address.substr(1, address.size() - 2);
      }
      watch->pending_rcpt = std::string(address);
    }
    return 0;
  }
  if (type != CURLINFO_HEADER_IN || !watch->awaiting) return 0;
  // Only the last line of a reply ("250 ..." not "250-...") ends it.
  if (text.size() < 4 || text[3] == '-') return 0;
  watch->awaiting = false;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    code = code * 10 + (text[i] - '0');
  }
  if (code / 100 == 2) return 0;
  std::string reply(text);
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
  watch->refused.push_back({code, watch->pending_rcpt, reply});
  return 0;
}

SmtpOutcome Failure(SmtpFailure failure, std::string text) {
  SmtpOutcome outcome;
  outcome.failure = failure;
  outcome.text = std::move(text);
  return outcome;
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

SmtpTimeouts SmtpTimeouts::FromEnvironment() {
  SmtpTimeouts timeouts;
  timeouts.connect_seconds =
      SecondsFromEnvironment("VIGILO_SMTP_CONNECT_TIMEOUT", timeouts.connect_seconds);
  timeouts.total_seconds =
      SecondsFromEnvironment("VIGILO_SMTP_TIMEOUT", timeouts.total_seconds);
  return timeouts;
}

std::string SmtpUrlForServer(std::string_view server, bool implicit_tls) {
  if (!IsSafeHeaderText(server)) return "";
  std::optional<SmtpServerAddress> address = ParseSmtpServer(server);
  if (!address) return "";
  if (address->scheme.empty()) {
    return (implicit_tls ? "smtps://" : "smtp://") + address->host + ":" +
           std::to_string(EffectiveSmtpPort(*address, implicit_tls));
  }
  std::string scheme = implicit_tls ? "smtps" : address->scheme;
  return scheme + "://" + address->host +
         (address->port != 0 ? ":" + std::to_string(address->port) : "") + address->path;
}

std::optional<SmtpConnection> SmtpConnectionFor(std::string_view server,
                                                const SmtpCredentials& login) {
  const bool implicit_tls = login.mode == SmtpSecurityMode::kTls;
  SmtpConnection connection;
  connection.url = SmtpUrlForServer(server, implicit_tls);
  if (connection.url.empty()) return std::nullopt;
  connection.display = SmtpServerDisplayName(server, implicit_tls);
  connection.login = login;
  if (connection.url.compare(0, 8, "smtps://") == 0) {
    connection.login.mode = SmtpSecurityMode::kTls;
  }
  return connection;
}

SmtpOutcome TranslateCurlCode(CURLcode code, std::string_view detail,
                              std::string_view display) {
  SmtpOutcome outcome;
  switch (code) {
    case CURLE_OK:
      return outcome;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      outcome.failure = SmtpFailure::kBadMessage;
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      outcome.failure = SmtpFailure::kConnect;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      outcome.failure = SmtpFailure::kTimeout;
      break;
    case CURLE_LOGIN_DENIED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      // A server that cannot be reached safely, or that refuses our login:
      // a fault of the set-up, not of the message, so the message waits.
      outcome.failure = SmtpFailure::kSecurity;
      break;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_SEND_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FILESIZE_EXCEEDED:
      // libcurl reports refusals of MAIL FROM, RCPT TO and DATA as send
      // errors or odd replies; its detail text carries the server's code.
      outcome.failure = SmtpFailure::kRejected;
      break;
    case CURLE_OUT_OF_MEMORY:
    case CURLE_FAILED_INIT:
      outcome.failure = SmtpFailure::kInternal;
      break;
    default:
      outcome.failure = SmtpFailure::kTransfer;
      break;
  }
  std::string why = detail.empty() ? curl_easy_strerror(code) : std::string(detail);
  if (code == CURLE_USE_SSL_FAILED) {
    why = "the server offers no STARTTLS, and a password is never sent unencrypted";
  } else if (code == CURLE_LOGIN_DENIED) {
    why = "the server refused the login (" + why + ")";
  }
  outcome.text = Format("SMTP delivery to %.*s failed: %s", static_cast<int>(display.size()),
                        display.data(), why.c_str());
  return outcome;
}

SmtpClient::SmtpClient() : curl_(curl_easy_init()) {}

SmtpClient::~SmtpClient() {
  if (curl_ != nullptr) curl_easy_cleanup(curl_);
}

SmtpOutcome SmtpClient::Send(const std::string& server, const std::string& envelope_from,
                             const std::vector<std::string>& recipients,
                             const std::string& message, const SmtpTimeouts& timeouts,
                             bool allow_refused_recipients) {
  std::string error;
  std::optional<SmtpCredentials> login =
      ResolveSmtpCredentials(SmtpSecuritySettings{}, server, &error);
  std::optional<SmtpConnection> connection;
  if (login) connection = SmtpConnectionFor(server, *login);
  if (!connection) {
    return Failure(SmtpFailure::kBadMessage, "SMTP delivery failed: bad or empty SMTP server " +
                                                 SmtpServerDisplayName(server));
  }
  return Send(*connection, envelope_from, recipients, message, timeouts, allow_refused_recipients);
}

SmtpOutcome SmtpClient::Send(const SmtpConnection& connection, const std::string& envelope_from,
                             const std::vector<std::string>& recipients,
                             const std::string& message, const SmtpTimeouts& timeouts,
                             bool allow_refused_recipients) {
  const std::string& url = connection.url;
  const SmtpCredentials& login = connection.login;
  if (curl_ == nullptr) {
    return Failure(SmtpFailure::kInternal, "SMTP delivery failed: libcurl could not be set up");
  }
  if (url.empty()) return Failure(SmtpFailure::kBadMessage, "SMTP delivery failed: no server");
  if (recipients.empty()) {
    return Failure(SmtpFailure::kBadMessage, "SMTP delivery failed: no recipient");
  }
  std::unique_ptr<curl_slist, SlistDeleter> rcpt;
  for (const std::string& address : recipients) {
    if (!IsSafeHeaderText(address)) {
      return Failure(SmtpFailure::kBadMessage, "SMTP delivery failed: bad recipient address");
    }
    curl_slist* grown = curl_slist_append(rcpt.get(), ("<" + address + ">").c_str());
    if (grown == nullptr) return Failure(SmtpFailure::kInternal, "SMTP delivery failed: out of memory");
    rcpt.release();
    rcpt.reset(grown);
  }
  if (!IsSafeHeaderText(envelope_from)) {
    return Failure(SmtpFailure::kBadMessage, "SMTP delivery failed: bad sender address");
  }

  const bool has_user = !login.user.empty();
  if (has_user && login.mode == SmtpSecurityMode::kNone) {
    std::optional<SmtpServerAddress> address = ParseSmtpServer(url);
    if (!address || !IsLoopbackHost(address->host)) {
      return Failure(SmtpFailure::kSecurity,
                     "SMTP delivery to " + connection.display +
                         " failed: a password is never sent unencrypted to another machine");
    }
  }
  std::string from = "<" + envelope_from + ">";
  // Telling each recipient's refusal needs libcurl's tracing, which costs
  // every message about as much as composing it. A message for one
  // recipient goes without it; only when the server refused that recipient
  // (so nothing of the message went) is the envelope sent again with the
  // watch on, for the server's own words.
  bool watch_replies = recipients.size() > 1;
  while (true) {
    std::string error_buffer(CURL_ERROR_SIZE + 1, '\0');
    UploadSource source{&message};
    curl_easy_reset(curl_);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl_, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl_, CURLOPT_READDATA, &source);
    curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE,
                     static_cast<curl_off_t>(message.size()));
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, timeouts.connect_seconds);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT, timeouts.total_seconds);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error_buffer.data());
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!login.ca_file.empty()) curl_easy_setopt(curl_, CURLOPT_CAINFO, login.ca_file.c_str());
    if (login.mode == SmtpSecurityMode::kStartTls) {
      // With a user, no STARTTLS means no delivery: the password never goes
      // over an unencrypted session.
      curl_easy_setopt(curl_, CURLOPT_USE_SSL,
                       static_cast<long>(has_user ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    } else if (login.mode == SmtpSecurityMode::kTls) {
      curl_easy_setopt(curl_, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    }
    if (has_user) {
      curl_easy_setopt(curl_, CURLOPT_USERNAME, login.user.c_str());
      curl_easy_setopt(curl_, CURLOPT_PASSWORD, login.password.c_str());
    }
    ReplyWatch watch;
    if (watch_replies) {
      curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, WatchReplies);
      curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, &watch);
      curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
    }
    if (allow_refused_recipients) {
#if LIBCURL_VERSION_NUM >= 0x080200
      curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT_ALLOWFAILS, 1L);
#else
      // The option's name before libcurl 8.2 (available since 7.69).
      curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
#endif
    }
    CURLcode code = curl_easy_perform(curl_);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, nullptr);
    error_buffer.resize(std::strlen(error_buffer.c_str()));
    // libcurl's words when the server refused every RCPT TO, before DATA.
    if (!watch_replies && code != CURLE_OK && error_buffer.rfind("RCPT failed", 0) == 0) {
      watch_replies = true;
      continue;
    }
    SmtpOutcome outcome = TranslateCurlCode(code, error_buffer, connection.display);
    long reply_code = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply_code);
    outcome.reply_code = static_cast<int>(reply_code);
    outcome.refused = std::move(watch.refused);
    return outcome;
  }
}

}  // namespace vigilo::mail
