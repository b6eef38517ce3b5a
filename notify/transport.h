// Transport: one way a notification leaves the engine (SMTP, the mail-system
// provider, the internal mail table). The mail sender's outbox loop hands a
// transport the addresses of one message that it serves; the transport sends
// them over the session of the current tick (opened on first use, ended by
// EndSession) and reports, recipient by recipient, whether the message was
// delivered, refused for good, or failed for now. A transport writes its own
// run-log lines, since only it knows how its failures read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vigilo {

class LogStream;

// One run-log line per failed delivery: transport ("SMTP", "MAPI", "ORVIK")
// and the transport's error text.
inline constexpr const char* kDeliveryFailedLine = "Mail delivery failed (%s) : %s \r\n";
// A recipient refused for good (not tried again): transport, recipient, rule,
// record and the server's reply.
inline constexpr const char* kRecipientRefusedLine =
    "Mail refused (%s) : %s , Rule ID : %ld , Record# %lld : %s \r\n";
// A message of the outbox with recipients no configured transport can serve
// (the provider's logon failed, SMTP is not set up): transport, recipients,
// why, rule and record. Written once a delivery attempt; the message stays.
inline constexpr const char* kUnservedLine =
    "Mail delivery failed (%s) : no mail system serves %s (%s) , Rule ID : %ld , Record# %lld "
    ", kept in the outbox \r\n";

// How an address is delivered, told by its prefix: "ORVIK:" into the internal
// mail table, "SMTP:" by SMTP, another prefix ("CCMAIL:") directly through the
// provider, a bare name after name resolution by the provider.
enum class AddressKind { kInternal, kSmtp, kDirect, kName };
AddressKind AddressKindOf(std::string_view address);

// One message as a transport sends it.
struct OutgoingMail {
  int32_t rule_id = 0;  // 0 with record 0: not from the outbox (no rule in log lines)
  long long record = 0;
  std::string subject;
  std::string body;
  std::string database_name;                           // DBNAME of internal mail rows
  const std::vector<std::string>* record_list = nullptr;  // internal mail rows; null: none
};

// What became of each recipient a transport was handed.
enum class RecipientOutcome {
  kDelivered,
  kRefused,    // refused for good: not tried again
  kRetry,      // failed for now: stays in the outbox
  kUnserved,   // the transport is not set up for it; kept for when it is
};

struct RecipientResult {
  std::string address;  // as the message holds it, prefix included
  RecipientOutcome outcome = RecipientOutcome::kDelivered;
  std::string transport;  // name of the transport that reported it
  std::string error;      // one line; empty when delivered
  // Not tried: its server failed earlier in this tick (kRetry only).
  bool deferred = false;
};

class DeliveryReport {
 public:
  void Add(std::string address, RecipientOutcome outcome, std::string transport,
           std::string error = {});
  // A recipient not tried, as its server failed earlier in this tick.
  void Defer(std::string address, std::string transport, std::string error);
  // Every address of the list that has no result yet counts as delivered.
  void DeliveredUnlessReported(const std::vector<std::string>& addresses, const char* transport);
  const std::vector<RecipientResult>& results() const { return results_; }

 private:
  std::vector<RecipientResult> results_;
};

class Transport {
 public:
  virtual ~Transport() = default;
  // "SMTP", "MAPI" or "ORVIK": the name in run-log lines and the outbox.
  virtual const char* name() const = 0;
  // The server as "host:port" for messages; empty when it has none.
  virtual std::string server() const { return {}; }
  // Whether the transport takes addresses of that kind.
  virtual bool Serves(AddressKind kind) const = 0;
  // Sends the message to the addresses (all of a kind it serves) and adds one
  // result per address to the report.
  virtual void Send(const OutgoingMail& mail, const std::vector<std::string>& addresses,
                    DeliveryReport& report) = 0;
  // Ends the session the sends of this tick shared.
  virtual void EndSession() {}
};

// Shared run-log writing of the transports; log may be null.
void LogDeliveryFailure(LogStream* log, const char* transport, const std::string& error);
void LogRecipientRefused(LogStream* log, const char* transport, const std::string& recipient,
                         const OutgoingMail& mail, const std::string& reply);

}  // namespace vigilo
