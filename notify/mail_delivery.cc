// Delivery of one message by the prefix of each recipient: internal mail
// rows, SMTP, and the mail-system provider. Each transport tells a failure
// that may pass (tried again from the outbox) from a refusal for good.
#include <algorithm>
#include <utility>

#include "common/format.h"
#include "common/smtp_server.h"
#include "common/text.h"
#include "data/log_stream.h"
#include "notify/mail_sender.h"
#include "platform/host/message_line.h"
#include "platform/sql/database.h"

namespace vigilo {
namespace {

// The provider's results that another attempt may cure.
bool IsPassingMapiFailure(uint32_t result) {
  return result == VGMAPI_E_DELIVERY_FAILURE || result == VGMAPI_E_FAILURE ||
         result == VGMAPI_E_INVALID_SESSION || result == VGMAPI_E_NO_CONFIG;
}

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

void CMailSender::Dispatch(const std::string& body, const std::string& recipients,
                           const std::string& subject,
                           const std::vector<std::string>* record_list,
                           const std::string& database_name) {
  Attempt attempt;
  DeliverRecipients(body, recipients, subject, record_list, database_name, attempt);
  if (!in_tick_) CloseSessions();
}

void CMailSender::DeliverRecipients(const std::string& body, const std::string& recipients,
                                    const std::string& subject,
                                    const std::vector<std::string>* record_list,
                                    const std::string& database_name, Attempt& attempt) {
  std::vector<std::string> internal, smtp, mapi;
  for (std::string piece : SplitText(recipients, ',')) {
    if (piece.size() > kRecipientLimit) piece.resize(kRecipientLimit);
    if (piece.find("ORVIK:") != std::string::npos) {
      internal.push_back(std::move(piece));
    } else if (piece.find("SMTP:") != std::string::npos) {
      smtp.push_back(std::move(piece));
    } else if (piece.find(':') != std::string::npos) {
      MapiRecipDesc recipient{};
      recipient.recip_class = MAPI_TO;
      recipient.name = piece.c_str();
      recipient.address = piece.c_str();
      if (mail_ready_ && SendMapiMessage({recipient}, subject, body) == Outcome::kRetry) {
        attempt.Failed(piece, "MAPI", "the provider could not deliver to " + piece);
      }
    } else if (!piece.empty()) {
      // An empty piece could never be resolved; it is dropped here.
      mapi.push_back(std::move(piece));
    }
  }
  if (!internal.empty() && record_list != nullptr) {
    std::string name = database_name;
    if (options_.in_process_server && name.find('.') == std::string::npos) name += ".dbf";
    for (const std::string& address : internal) {
      size_t colon = address.find(':');
      std::string recipient = colon == std::string::npos ? address : address.substr(colon + 1);
      bool written = true;
      for (const std::string& record : *record_list) {
        written = WriteInternalMailRow(recipient, LeadingNumber(record), 1, name, "") && written;
      }
      if (!written) attempt.Failed(address, "ORVIK", "the internal mail row was not written");
    }
  }
  if (!smtp.empty()) {
    if (smtp_ready_) {
      TrySmtp(smtp, subject, body, attempt);
    } else if (current_rule_ != 0 || current_record_ != 0) {
      // Said once per message, so an administrator sees why mail is missing.
      std::string to;
      for (const std::string& address : smtp) to += (to.empty() ? "" : ",") + address;
      LogLine(Format(kSmtpOffLine, static_cast<long>(current_rule_), current_record_,
                     to.c_str()));
    }
  }
  if (!mapi.empty()) {
    std::vector<std::string> resolved, unresolved;
    ResolveAndSend(mapi, subject, body, resolved, unresolved, &attempt);
  }
}

bool CMailSender::SendMapiResolved(const std::vector<std::string>& names,
                                   const std::string& subject, const std::string& body,
                                   std::vector<std::string>& resolved,
                                   std::vector<std::string>& unresolved) {
  ResolveAndSend(names, subject, body, resolved, unresolved, nullptr);
  return true;
}

void CMailSender::ResolveAndSend(const std::vector<std::string>& names,
                                 const std::string& subject, const std::string& body,
                                 std::vector<std::string>& resolved,
                                 std::vector<std::string>& unresolved, Attempt* attempt) {
  if (options_.mapi.resolve_name == nullptr) {
    unresolved.insert(unresolved.end(), names.begin(), names.end());
    return;
  }
  std::vector<MapiRecipDesc*> returned;
  std::vector<MapiRecipDesc> descriptors;
  for (const std::string& name : names) {
    std::string cut = name.substr(0, kRecipientLimit);
    MapiRecipDesc* recipient = nullptr;
    if (options_.mapi.resolve_name(0, 0, cut.c_str(), 0, 0, &recipient) == VGMAPI_OK &&
        recipient != nullptr) {
      returned.push_back(recipient);
      MapiRecipDesc descriptor = *recipient;
      descriptor.recip_class = MAPI_TO;
      descriptors.push_back(descriptor);
      resolved.push_back(name);
    } else {
      unresolved.push_back(name);
    }
  }
  // A message without recipients cannot be delivered and is not handed over.
  if (mail_ready_) {
    for (size_t first = 0; first < descriptors.size(); first += kMapiRecipientLimit) {
      size_t count = std::min(kMapiRecipientLimit, descriptors.size() - first);
      Outcome outcome = SendMapiMessage(
          {descriptors.begin() + first, descriptors.begin() + first + count}, subject, body);
      if (outcome == Outcome::kRetry && attempt != nullptr) {
        for (size_t i = first; i < first + count; ++i) {
          attempt->Failed(resolved[i], "MAPI", "the provider could not deliver");
        }
      }
    }
  }
  if (options_.mapi.free_buffer != nullptr) {
    for (MapiRecipDesc* recipient : returned) options_.mapi.free_buffer(recipient);
  }
}

bool CMailSender::SendMapiDirect(const std::string& address, const std::string& subject,
                                 const std::string& body) {
  MapiRecipDesc recipient{};
  recipient.recip_class = MAPI_TO;
  recipient.name = address.c_str();
  recipient.address = address.c_str();
  if (mail_ready_) SendMapiMessage({recipient}, subject, body);
  return true;
}

CMailSender::Outcome CMailSender::SendMapiMessage(const std::vector<MapiRecipDesc>& recipients,
                                                  const std::string& subject,
                                                  const std::string& body) {
  if (options_.mapi.send_mail == nullptr) return Outcome::kDelivered;
  MapiMessage message{};
  message.subject = subject.c_str();
  message.note_text = body.c_str();
  message.recip_count = static_cast<uint32_t>(recipients.size());
  message.recips = recipients.empty() ? nullptr : recipients.data();
  uint32_t result = options_.mapi.send_mail(session_, 0, &message, 0, 0);
  if (result == VGMAPI_OK) return Outcome::kDelivered;
  // A provider's text may name its server by a URL with credentials.
  std::string error =
      WithoutUrlCredentials(options_.mapi.last_error ? options_.mapi.last_error() : "");
  if (error.empty()) error = Format("error %u", result);
  std::string names;
  for (const MapiRecipDesc& recipient : recipients) {
    if (!names.empty()) names += ',';
    names += recipient.name ? recipient.name : "";
  }
  if (IsPassingMapiFailure(result)) {
    LogDeliveryFailure("MAPI", Format("%s (to %s)", error.c_str(), names.c_str()));
    return Outcome::kRetry;
  }
  LogLine(Format(kRecipientRefusedLine, "MAPI", names.c_str(), static_cast<long>(current_rule_),
                 current_record_, host::OneLine(error).c_str()));
  return Outcome::kRefused;
}

bool CMailSender::SendSmtp(const std::vector<std::string>& addresses, const std::string& subject,
                           const std::string& body) {
  if (!smtp_ || !smtp_ready_) return true;
  Attempt attempt;
  TrySmtp(addresses, subject, body, attempt);
  if (!in_tick_) CloseSessions();
  return true;
}

void CMailSender::TrySmtp(const std::vector<std::string>& addresses, const std::string& subject,
                          const std::string& body, Attempt& attempt) {
  std::string to;
  std::vector<std::pair<std::string, std::string>> bare;  // address as given, without prefix
  for (const std::string& address : addresses) {
    size_t colon = address.find(':');
    if (colon == std::string::npos) continue;
    bare.emplace_back(address, Trimmed(address.substr(colon + 1)));
    if (!to.empty()) to += ',';
    to += bare.back().second;
  }
  if (!smtp_ || !smtp_ready_ || bare.empty()) return;
  auto all_failed = [&](const std::string& error) {
    for (const auto& [address, name] : bare) attempt.Failed(address, "SMTP", error);
  };
  if (!smtp_settings_error_.empty()) {
    // Said once at start; the messages wait until the settings are mended.
    all_failed(smtp_settings_error_);
    return;
  }
  if (!smtp_down_error_.empty()) {
    // The server could not be reached a moment ago: not tried again before
    // the next tick, so a dead server costs one time-out per tick.
    all_failed(smtp_down_error_);
    return;
  }
  SmtpMessage message{};
  message.server = smtp_server_.c_str();
  message.sender = smtp_sender_.c_str();
  message.recipients = to.c_str();
  message.subject = subject.c_str();
  message.body = body.c_str();
  message.body_format = VGSMTP_BODY_PLAIN_TEXT;
  int32_t result = VGSMTP_OK;
  if (!smtp_session_open_) {
    result = smtp_->open_session();
    smtp_session_open_ = result == VGSMTP_OK;
  }
  if (result == VGSMTP_OK) result = smtp_->send_mail(&message);
  std::string error = WithoutUrlCredentials(smtp_->last_error ? smtp_->last_error() : "");
  if (error.empty()) error = Format("error %d", result);
  error = host::OneLine(error);
  const int reply = smtp_->last_reply_code ? smtp_->last_reply_code() : 0;
  std::vector<Refusal> refusals =
      ParseRefusals(smtp_->refused_recipients ? smtp_->refused_recipients() : nullptr);

  auto refuse_for_good = [&](const std::string& address, const std::string& why) {
    LogLine(Format(kRecipientRefusedLine, "SMTP", address.c_str(),
                   static_cast<long>(current_rule_), current_record_, why.c_str()));
  };
  // Recipients the server refused; those it refused for now are tried again.
  for (const Refusal& refusal : refusals) {
    for (const auto& [address, name] : bare) {
      if (name != refusal.address) continue;
      if (refusal.code >= 500) {
        refuse_for_good(address, refusal.reply);
      } else {
        LogDeliveryFailure("SMTP", Format("%s (to %s)", refusal.reply.c_str(), name.c_str()));
        attempt.Failed(address, "SMTP", refusal.reply);
      }
    }
  }
  if (result == VGSMTP_OK) return;
  if (result == VGSMTP_E_REJECTED && !refusals.empty()) return;  // each recipient said above
  if (result == VGSMTP_E_BAD_MESSAGE || (result == VGSMTP_E_REJECTED && reply >= 500)) {
    refuse_for_good(to, error);
    return;
  }
  LogDeliveryFailure("SMTP", Format("%s (to %s)", error.c_str(), to.c_str()));
  all_failed(error);
  if (result == VGSMTP_E_CONNECT || result == VGSMTP_E_TIMEOUT || result == VGSMTP_E_SECURITY) {
    smtp_down_error_ = error;
    // A session whose connection hangs is of no use for the next message.
    smtp_->close_session();
    smtp_session_open_ = false;
  }
}

void CMailSender::CloseSessions() {
  if (smtp_session_open_ && smtp_ && smtp_->close_session) smtp_->close_session();
  smtp_session_open_ = false;
  smtp_down_error_.clear();
  internal_mail_db_.reset();
}

void CMailSender::LogDeliveryFailure(const char* transport, const std::string& error) {
  LogLine(Format(kDeliveryFailedLine, transport, host::OneLine(error).c_str()));
}

void CMailSender::LogLine(const std::string& line) {
  if (options_.log != nullptr) options_.log->Write(line);
}

}  // namespace vigilo
