#include "notify/transport.h"

#include <algorithm>
#include <utility>

#include "common/format.h"
#include "data/log_stream.h"
#include "platform/host/message_line.h"

namespace vigilo {

AddressKind AddressKindOf(std::string_view address) {
  if (address.find("ORVIK:") != std::string_view::npos) return AddressKind::kInternal;
  if (address.find("SMTP:") != std::string_view::npos) return AddressKind::kSmtp;
  if (address.find(':') != std::string_view::npos) return AddressKind::kDirect;
  return AddressKind::kName;
}

void DeliveryReport::Add(std::string address, RecipientOutcome outcome, std::string transport,
                         std::string error) {
  results_.push_back({std::move(address), outcome, std::move(transport), std::move(error)});
}

void DeliveryReport::Defer(std::string address, std::string transport, std::string error) {
  results_.push_back(
      {std::move(address), RecipientOutcome::kRetry, std::move(transport), std::move(error), true});
}

void DeliveryReport::DeliveredUnlessReported(const std::vector<std::string>& addresses,
                                             const char* transport) {
  const size_t reported = results_.size();
  for (const std::string& address : addresses) {
    bool found = false;
    for (size_t i = 0; i < reported && !found; ++i) found = results_[i].address == address;
    if (!found) Add(address, RecipientOutcome::kDelivered, transport);
  }
}

void LogDeliveryFailure(LogStream* log, const char* transport, const std::string& error) {
  if (log != nullptr) log->Write(Format(kDeliveryFailedLine, transport, host::OneLine(error).c_str()));
}

void LogRecipientRefused(LogStream* log, const char* transport, const std::string& recipient,
                         const OutgoingMail& mail, const std::string& reply) {
  if (log == nullptr) return;
  log->Write(Format(kRecipientRefusedLine, transport, recipient.c_str(),
                    static_cast<long>(mail.rule_id), mail.record, reply.c_str()));
}

}  // namespace vigilo
