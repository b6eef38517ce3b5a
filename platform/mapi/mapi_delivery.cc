#include "platform/mapi/mapi_delivery.h"

#include <unistd.h>

#include <vector>

#include "common/smtp_server.h"
#include "common/text.h"
#include "platform/mapi/delivery_command.h"
#include "platform/smtp/mail_message.h"
#include "platform/smtp/smtp_client.h"

namespace vigilo::mapi {

namespace {

std::string StripAddressPrefix(std::string_view text) {
  std::string trimmed = Trimmed(text);
  for (std::string_view prefix : {std::string_view("CCMAIL:"), std::string_view("SMTP:")}) {
    if (StartsWithNoCase(trimmed, prefix)) return Trimmed(trimmed.substr(prefix.size()));
  }
  return trimmed;
}

std::string DefaultSender() {
  std::string host(256, '\0');
  if (::gethostname(host.data(), host.size() - 1) != 0) host = "localhost";
  host.resize(host.find('\0'));
  return "vigilo@" + (host.empty() ? std::string("localhost") : host);
}

std::string Text(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

std::optional<std::string> AddressFor(const MapiConfig& config, std::string_view text) {
  std::string stripped = StripAddressPrefix(text);
  if (stripped.empty()) return std::nullopt;
  if (stripped.find('@') != std::string::npos) return stripped;
  std::optional<std::string> entry = config.Lookup(stripped);
  if (!entry) return std::nullopt;
  std::string address = StripAddressPrefix(*entry);
  if (address.find('@') == std::string::npos) return std::nullopt;
  return address;
}

DeliveryOutcome DeliverMessage(const MapiConfig& config, const MapiMessage& message) {
  if (message.file_count != 0 || message.files != nullptr) {
    return {VGMAPI_E_ATTACHMENTS, "attachments are not supported"};
  }
  if (message.recip_count > 0 && message.recips == nullptr) {
    return {VGMAPI_E_BAD_ARGUMENT, "recipient count without recipients"};
  }

  mail::OutgoingMail mail;
  std::vector<std::string> envelope_to;
  for (uint32_t i = 0; i < message.recip_count; ++i) {
    const MapiRecipDesc& recipient = message.recips[i];
    if (recipient.recip_class == MAPI_ORIG) continue;
    if (recipient.recip_class > MAPI_BCC) {
      return {VGMAPI_E_BAD_ARGUMENT,
              "unknown recipient class " + std::to_string(recipient.recip_class)};
    }
    std::string text = Text(recipient.address);
    if (Trimmed(text).empty()) text = Text(recipient.name);
    std::optional<std::string> address = AddressFor(config, text);
    if (!address || !mail::IsSafeHeaderText(*address)) {
      return {VGMAPI_E_UNKNOWN_RECIPIENT, "unknown recipient \"" + text + "\""};
    }
    if (recipient.recip_class == MAPI_TO) mail.to.push_back(*address);
    if (recipient.recip_class == MAPI_CC) mail.cc.push_back(*address);
    envelope_to.push_back(*address);
  }
  if (envelope_to.empty()) return {VGMAPI_E_NO_RECIPIENTS, "the message has no recipient"};

  mail.from = config.from.empty() ? DefaultSender() : config.from;
  if (message.originator != nullptr) {
    std::string originator = mail::EnvelopeAddress(Text(message.originator->address));
    if (originator.find('@') != std::string::npos) mail.from = originator;
  }
  if (!mail::IsSafeHeaderText(mail.from)) {
    return {VGMAPI_E_BAD_ARGUMENT, "bad sender \"" + mail.from + "\""};
  }
  mail.subject = Text(message.subject);
  mail.body = Text(message.note_text);
  std::string text = mail::ComposeMessage(mail);
  mail::SmtpTimeouts timeouts = mail::SmtpTimeouts::FromEnvironment();

  if (!config.smtp_url.empty()) {
    std::string error;
    std::optional<SmtpCredentials> login =
        ResolveSmtpCredentials(config.smtp_security, config.smtp_url, &error);
    std::optional<mail::SmtpConnection> connection;
    if (login) connection = mail::SmtpConnectionFor(config.smtp_url, *login);
    if (!connection) {
      if (error.empty()) error = "bad SmtpUrl " + SmtpServerDisplayName(config.smtp_url);
      return {VGMAPI_E_DELIVERY_FAILURE, error};
    }
    mail::SmtpClient client;
    mail::SmtpOutcome outcome = client.Send(*connection, mail::EnvelopeAddress(mail.from),
                                            envelope_to, text, timeouts);
    if (!outcome.ok()) return {VGMAPI_E_DELIVERY_FAILURE, outcome.text};
    return {};
  }

  // Blind copies travel in a Bcc header that "-t" commands read and remove.
  if (envelope_to.size() > mail.to.size() + mail.cc.size()) {
    std::string bcc;
    for (uint32_t i = 0; i < message.recip_count; ++i) {
      if (message.recips[i].recip_class != MAPI_BCC) continue;
      std::string recipient_text = Text(message.recips[i].address);
      if (Trimmed(recipient_text).empty()) recipient_text = Text(message.recips[i].name);
      bcc += (bcc.empty() ? "Bcc: " : ", ") + *AddressFor(config, recipient_text);
    }
    text = bcc + "\r\n" + text;
  }
  CommandOutcome outcome =
      RunDeliveryCommand(config.command, mail::ToUnixLineEnds(text), timeouts.total_seconds);
  if (!outcome.ok) return {VGMAPI_E_DELIVERY_FAILURE, outcome.text};
  return {};
}

}  // namespace vigilo::mapi
