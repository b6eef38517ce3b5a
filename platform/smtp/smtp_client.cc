#include "platform/smtp/smtp_client.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/format.h"
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

std::string SmtpUrlForServer(std::string_view server) {
  std::string text(server);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  if (text.empty() || !IsSafeHeaderText(text) ||
      text.find_first_of(" \t") != std::string::npos) {
    return "";
  }
  if (text.find("://") != std::string::npos) return text;
  bool has_port;
  if (text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return "";
    has_port = close + 1 < text.size() && text[close + 1] == ':';
  } else {
    size_t colon = text.find(':');
    // More than one colon without brackets is a bare IPv6 address.
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
      text = "[" + text + "]";
      has_port = false;
    } else {
      has_port = colon != std::string::npos;
    }
  }
  return "smtp://" + text + (has_port ? "" : ":25");
}

SmtpOutcome TranslateCurlCode(CURLcode code, std::string_view detail,
                              std::string_view url) {
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
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_SEND_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_USE_SSL_FAILED:
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
  outcome.text = Format("SMTP delivery to %.*s failed: %s", static_cast<int>(url.size()),
                        url.data(), why.c_str());
  return outcome;
}

SmtpClient::SmtpClient() : curl_(curl_easy_init()) {}

SmtpClient::~SmtpClient() {
  if (curl_ != nullptr) curl_easy_cleanup(curl_);
}

SmtpOutcome SmtpClient::Send(const std::string& url, const std::string& envelope_from,
                             const std::vector<std::string>& recipients,
                             const std::string& message, const SmtpTimeouts& timeouts,
                             bool allow_refused_recipients) {
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

  std::string error_buffer(CURL_ERROR_SIZE + 1, '\0');
  UploadSource source{&message};
  std::string from = "<" + envelope_from + ">";
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
  ReplyWatch watch;
  curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, WatchReplies);
  curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, &watch);
  curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
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
  SmtpOutcome outcome = TranslateCurlCode(code, error_buffer, url);
  long reply_code = 0;
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply_code);
  outcome.reply_code = static_cast<int>(reply_code);
  outcome.refused = std::move(watch.refused);
  return outcome;
}

}  // namespace vigilo::mail
