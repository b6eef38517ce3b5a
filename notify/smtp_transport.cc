#include "notify/smtp_transport.h"

#include <utility>

#include "common/format.h"
#include "common/smtp_server.h"
#include "common/text.h"
#include "data/log_stream.h"
#include "platform/host/message_line.h"

namespace vigilo {
namespace {

struct Refusal {
  int code = 0;
  std::string address;
  std::string reply;
};

// SmtpRefusedRecipients' "CODE address reply" lines.
std::vector<Refusal> ParseRefusals(const char* text) {
  std::vector<Refusal> refusals;
  if (text == nullptr) return refusals;
  for (const std::string& line : SplitText(text, '\n')) {
    if (line.empty()) continue;
    Refusal refusal;
    refusal.code = static_cast<int>(LeadingNumber(line));
    size_t first = line.find(' ');
    if (first == std::string::npos) continue;
    size_t second = line.find(' ', first + 1);
    refusal.address = line.substr(first + 1, second == std::string::npos ? std::string::npos
                                                                          : second - first - 1);
    if (second != std::string::npos) refusal.reply = line.substr(second + 1);
    refusals.push_back(std::move(refusal));
  }
  return refusals;
}

}  // namespace

SmtpTransport::SmtpTransport(SmtpPlugin plugin, std::string server, std::string sender,
                             LogStream* log)
    : plugin_(std::move(plugin)), server_(std::move(server)), sender_(std::move(sender)),
      log_(log) {
  ready_ = plugin_.load.ok() && plugin_.open_session && plugin_.send_mail &&
           plugin_.close_session && !server_.empty() && !sender_.empty();
}

SmtpTransport::~SmtpTransport() { EndSession(); }

std::string SmtpTransport::server() const {
  return SmtpServerDisplayName(server_, implicit_tls_);
}

void SmtpTransport::EndSession() {
  if (session_open_ && plugin_.close_session) plugin_.close_session();
  session_open_ = false;
  down_error_.clear();
}

void SmtpTransport::Send(const OutgoingMail& mail, const std::vector<std::string>& addresses,
                         DeliveryReport& report) {
  if (!ready_) {
    // The mail sender says it once a message, with every transport's part.
    for (const std::string& address : addresses) {
      report.Add(address, RecipientOutcome::kUnserved, name(), "SMTP is not set up");
    }
    return;
  }
  std::string to;
  std::vector<std::pair<std::string, std::string>> bare;  // address as given, without prefix
  for (const std::string& address : addresses) {
    size_t colon = address.find(':');
    if (colon == std::string::npos) continue;
    bare.emplace_back(address, Trimmed(address.substr(colon + 1)));
    if (!to.empty()) to += ',';
    to += bare.back().second;
  }
  if (bare.empty()) return;
  auto all_failed = [&](const std::string& error) {
    for (const auto& [address, unused] : bare) {
      report.Add(address, RecipientOutcome::kRetry, name(), error);
    }
  };
  if (!settings_error_.empty()) {
    all_failed(settings_error_);
    return;
  }
  // A server that failed in this tick is not tried again for each message:
  // the message waits untouched for the next tick.
  if (!down_error_.empty()) {
    for (const auto& [address, unused] : bare) report.Defer(address, name(), down_error_);
    return;
  }
  SmtpMessage message{};
  message.server = server_.c_str();
  message.sender = sender_.c_str();
  message.recipients = to.c_str();
  message.subject = mail.subject.c_str();
  message.body = mail.body.c_str();
  message.body_format = VGSMTP_BODY_PLAIN_TEXT;
  int32_t result = VGSMTP_OK;
  if (!session_open_) {
    result = plugin_.open_session();
    session_open_ = result == VGSMTP_OK;
  }
  if (result == VGSMTP_OK) result = plugin_.send_mail(&message);
  const char* refused = plugin_.refused_recipients ? plugin_.refused_recipients() : nullptr;
  if (result == VGSMTP_OK && (refused == nullptr || *refused == '\0')) {
    // Every recipient took it: there is no error text to look at.
    report.DeliveredUnlessReported(addresses, name());
    return;
  }
  // The library's text may name the server by a URL with its credentials.
  std::string error = WithoutUrlCredentials(plugin_.last_error ? plugin_.last_error() : "");
  if (error.empty()) error = Format("error %d", result);
  error = host::OneLine(error);
  const int reply = plugin_.last_reply_code ? plugin_.last_reply_code() : 0;
  std::vector<Refusal> refusals = ParseRefusals(refused);

  // Recipients the server refused; those it refused for now are tried again.
  for (const Refusal& refusal : refusals) {
    for (const auto& [address, bare_name] : bare) {
      if (bare_name != refusal.address) continue;
      if (refusal.code >= 500) {
        LogRecipientRefused(log_, name(), address, mail, refusal.reply);
        report.Add(address, RecipientOutcome::kRefused, name(), host::OneLine(refusal.reply));
      } else {
        LogDeliveryFailure(log_, name(),
                           Format("%s (to %s)", refusal.reply.c_str(), bare_name.c_str()));
        report.Add(address, RecipientOutcome::kRetry, name(), refusal.reply);
      }
    }
  }
  if (result == VGSMTP_OK || (result == VGSMTP_E_REJECTED && !refusals.empty())) {
    // Each refused recipient is said above; the others took the message.
    report.DeliveredUnlessReported(addresses, name());
    return;
  }
  if (result == VGSMTP_E_BAD_MESSAGE || (result == VGSMTP_E_REJECTED && reply >= 500)) {
    LogRecipientRefused(log_, name(), to, mail, error);
    for (const auto& [address, unused] : bare) {
      report.Add(address, RecipientOutcome::kRefused, name(), error);
    }
    return;
  }
  LogDeliveryFailure(log_, name(), Format("%s (to %s)", error.c_str(), to.c_str()));
  all_failed(error);
  // Settings the server's TLS or AUTH do not accept fail every message alike.
  if (result == VGSMTP_E_CONNECT || result == VGSMTP_E_TIMEOUT || result == VGSMTP_E_SECURITY) {
    down_error_ = error;
    // A session whose connection hangs is of no use for the next message.
    plugin_.close_session();
    session_open_ = false;
  }
}

}  // namespace vigilo
