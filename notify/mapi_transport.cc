#include "notify/mapi_transport.h"

#include <algorithm>

#include "common/format.h"
#include "common/smtp_server.h"
#include "platform/host/message_line.h"

namespace vigilo {
namespace {

// The provider's results that another attempt may cure.
bool IsPassingMapiFailure(uint32_t result) {
  return result == VGMAPI_E_DELIVERY_FAILURE || result == VGMAPI_E_FAILURE ||
         result == VGMAPI_E_INVALID_SESSION || result == VGMAPI_E_NO_CONFIG;
}

}  // namespace

MapiFunctions MapiFunctionsOf(const MapiPlugin& plugin) {
  MapiFunctions functions;
  functions.logon = plugin.logon;
  functions.resolve_name = plugin.resolve_name;
  functions.send_mail = plugin.send_mail;
  functions.free_buffer = plugin.free_buffer;
  functions.logoff = plugin.logoff;
  functions.last_error = plugin.last_error;
  return functions;
}

bool MapiTransport::Logon(const MailProfile& profile, bool in_process_server) {
  if (mapi_.logon == nullptr) return false;
  MapiSessionHandle session = 0;
  uint32_t result = mapi_.logon(0, profile.profile.c_str(), profile.password.c_str(),
                                VGMAPI_LOGON_NEW_SESSION, 0, &session);
  if (result != VGMAPI_OK) return false;
  session_ = session;
  mail_ready_ = true;
  if (!in_process_server) session_flag_ = true;
  return true;
}

void MapiTransport::Logoff() {
  if (session_flag_ && mapi_.logoff != nullptr) mapi_.logoff(session_, 0, 0, 0);
  session_flag_ = false;
}

void MapiTransport::Send(const OutgoingMail& mail, const std::vector<std::string>& addresses,
                         DeliveryReport& report) {
  std::vector<std::string> names;
  for (const std::string& address : addresses) {
    if (AddressKindOf(address) == AddressKind::kName) {
      names.push_back(address);
    } else {
      SendDirect(mail, address, report);
    }
  }
  if (!names.empty()) ResolveAndSend(mail, names, report);
}

void MapiTransport::SendDirect(const OutgoingMail& mail, const std::string& address,
                               DeliveryReport& report) {
  if (!mail_ready_) {
    report.Add(address, RecipientOutcome::kUnserved, name(), "mail is not ready");
    return;
  }
  MapiRecipDesc recipient{};
  recipient.recip_class = MAPI_TO;
  recipient.name = address.c_str();
  recipient.address = address.c_str();
  switch (SendMessage({recipient}, mail)) {
    case Outcome::kDelivered:
      report.Add(address, RecipientOutcome::kDelivered, name());
      break;
    case Outcome::kRetry:
      report.Add(address, RecipientOutcome::kRetry, name(),
                 "the provider could not deliver to " + address);
      break;
    case Outcome::kRefused:
      report.Add(address, RecipientOutcome::kRefused, name(), "refused by the provider");
      break;
    case Outcome::kNoProvider:
      report.Add(address, RecipientOutcome::kUnserved, name(), "no provider sends mail");
      break;
  }
}

void MapiTransport::ResolveAndSend(const OutgoingMail& mail, const std::vector<std::string>& names,
                                   DeliveryReport& report) {
  if (mapi_.resolve_name == nullptr) {
    for (const std::string& name_text : names) {
      report.Add(name_text, RecipientOutcome::kUnserved, name(), "no provider resolves names");
    }
    return;
  }
  std::vector<MapiRecipDesc*> returned;
  std::vector<MapiRecipDesc> descriptors;
  std::vector<std::string> resolved;
  for (const std::string& name_text : names) {
    std::string cut = name_text.substr(0, kRecipientLimit);
    MapiRecipDesc* recipient = nullptr;
    if (mapi_.resolve_name(0, 0, cut.c_str(), 0, 0, &recipient) == VGMAPI_OK &&
        recipient != nullptr) {
      returned.push_back(recipient);
      MapiRecipDesc descriptor = *recipient;
      descriptor.recip_class = MAPI_TO;
      descriptors.push_back(descriptor);
      resolved.push_back(name_text);
    } else {
      // A name the provider does not know is dropped, without a line.
      report.Add(name_text, RecipientOutcome::kRefused, name(), "the name is not resolved");
    }
  }
  // A message without recipients cannot be delivered and is not handed over.
  for (size_t first = 0; first < descriptors.size(); first += kMapiRecipientLimit) {
    size_t count = std::min(kMapiRecipientLimit, descriptors.size() - first);
    if (!mail_ready_) {
      for (size_t i = first; i < first + count; ++i) {
        report.Add(resolved[i], RecipientOutcome::kUnserved, name(), "mail is not ready");
      }
      continue;
    }
    Outcome outcome = SendMessage(
        {descriptors.begin() + first, descriptors.begin() + first + count}, mail);
    for (size_t i = first; i < first + count; ++i) {
      if (outcome == Outcome::kRetry) {
        report.Add(resolved[i], RecipientOutcome::kRetry, name(), "the provider could not deliver");
      } else if (outcome == Outcome::kRefused) {
        report.Add(resolved[i], RecipientOutcome::kRefused, name(), "refused by the provider");
      } else if (outcome == Outcome::kNoProvider) {
        report.Add(resolved[i], RecipientOutcome::kUnserved, name(), "no provider sends mail");
      } else {
        report.Add(resolved[i], RecipientOutcome::kDelivered, name());
      }
    }
  }
  if (mapi_.free_buffer != nullptr) {
    for (MapiRecipDesc* recipient : returned) mapi_.free_buffer(recipient);
  }
}

MapiTransport::Outcome MapiTransport::SendMessage(const std::vector<MapiRecipDesc>& recipients,
                                                  const OutgoingMail& mail) {
  // Mail may be ready through SMTP alone: without the provider's send
  // function nothing went out, which is no delivery.
  if (mapi_.send_mail == nullptr) return Outcome::kNoProvider;
  MapiMessage message{};
  message.subject = mail.subject.c_str();
  message.note_text = mail.body.c_str();
  message.recip_count = static_cast<uint32_t>(recipients.size());
  message.recips = recipients.empty() ? nullptr : recipients.data();
  uint32_t result = mapi_.send_mail(session_, 0, &message, 0, 0);
  if (result == VGMAPI_OK) return Outcome::kDelivered;
  // A provider's text may name its server by a URL with credentials.
  std::string error = WithoutUrlCredentials(mapi_.last_error ? mapi_.last_error() : "");
  if (error.empty()) error = Format("error %u", result);
  std::string names;
  for (const MapiRecipDesc& recipient : recipients) {
    if (!names.empty()) names += ',';
    names += recipient.name ? recipient.name : "";
  }
  if (IsPassingMapiFailure(result)) {
    LogDeliveryFailure(log_, name(), Format("%s (to %s)", error.c_str(), names.c_str()));
    return Outcome::kRetry;
  }
  LogRecipientRefused(log_, name(), names, mail, host::OneLine(error));
  return Outcome::kRefused;
}

}  // namespace vigilo
