#include "notify/mail_sender.h"

#include <cstdlib>
#include <utility>

#include "common/ini_profile.h"
#include "common/text.h"
#include "data/log_stream.h"

namespace vigilo {
namespace {

// A whole number of vigtab.ini's OPTIONS section; absent, negative or not a
// number gives the default.
long ReadOptionNumber(const std::string& ini_path, const char* key, long fallback) {
  std::string value = Trimmed(GetProfileString(ini_path, "OPTIONS", key, ""));
  if (value.empty()) return fallback;
  char* end = nullptr;
  long number = std::strtol(value.c_str(), &end, 10);
  if (*end != '\0' || number < 0) return fallback;
  return number;
}

}  // namespace

CMailSender::CMailSender(Options options, std::vector<std::unique_ptr<Transport>> transports)
    : systems_(std::move(options)),
      substitutes_(std::move(transports)),
      outbox_(Outbox::DirectoryOf(systems_.settings().server_dir)) {}

CMailSender::~CMailSender() { CloseSessions(); }

void CMailSender::InitMailSystems() {
  const CServerPaths& settings = systems_.settings();
  lifetime_seconds_ = static_cast<std::time_t>(ReadOptionNumber(
                          settings.program_ini_path, kMailLifetimeKey,
                          kDefaultMailLifetimeMinutes)) * 60;
  first_retry_delay_ = static_cast<std::time_t>(ReadOptionNumber(
      settings.program_ini_path, kMailRetryDelayKey, kDefaultMailRetryDelaySeconds));
  tick_limit_ = ReadOptionNumber(settings.program_ini_path, kMailTickLimitKey,
                                 kDefaultMailTickLimit);
  if (tick_limit_ < 1) tick_limit_ = kDefaultMailTickLimit;
  systems_.Open();
}

std::vector<Transport*> CMailSender::Transports() {
  if (substitutes_.empty()) return systems_.transports();
  std::vector<Transport*> transports;
  for (const auto& transport : substitutes_) transports.push_back(transport.get());
  return transports;
}

void CMailSender::Dispatch(const std::string& body, const std::string& recipients,
                           const std::string& subject,
                           const std::vector<std::string>* record_list,
                           const std::string& database_name) {
  OutgoingMail mail;
  mail.subject = subject;
  mail.body = body;
  mail.database_name = database_name;
  mail.record_list = record_list;
  DeliveryReport report;
  Deliver(mail, recipients, report);
  if (!in_tick_) CloseSessions();
}

void CMailSender::Deliver(const OutgoingMail& mail, const std::string& recipients,
                          DeliveryReport& report) {
  // Directly addressed provider messages go out first, in the order written;
  // then internal rows, SMTP, and the names to resolve.
  constexpr AddressKind kOrder[] = {AddressKind::kDirect, AddressKind::kInternal,
                                    AddressKind::kSmtp, AddressKind::kName};
  std::vector<std::string> groups[4];
  for (std::string piece : SplitText(recipients, ',')) {
    if (piece.size() > kRecipientLimit) piece.resize(kRecipientLimit);
    // An empty piece could never be resolved; it is dropped here.
    if (piece.empty()) continue;
    const AddressKind kind = AddressKindOf(piece);
    for (int i = 0; i < 4; ++i) {
      if (kOrder[i] == kind) groups[i].push_back(std::move(piece));
    }
  }
  const std::vector<Transport*> transports = Transports();
  for (int i = 0; i < 4; ++i) {
    if (groups[i].empty()) continue;
    Transport* serving = nullptr;
    for (Transport* transport : transports) {
      if (transport->Serves(kOrder[i])) {
        serving = transport;
        break;
      }
    }
    if (serving != nullptr) {
      serving->Send(mail, groups[i], report);
    } else {
      for (const std::string& address : groups[i]) {
        report.Add(address, RecipientOutcome::kUnserved, "", "no transport serves it");
      }
    }
  }
}

void CMailSender::CloseSessions() {
  for (Transport* transport : Transports()) transport->EndSession();
}

void CMailSender::LogLine(const std::string& line) {
  if (systems_.log() != nullptr) systems_.log()->Write(line);
}

}  // namespace vigilo
