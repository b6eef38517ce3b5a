// Stand-ins for the mail-system provider and the SMTP library that record
// every call in one event list, so tests see what was sent and in which order;
// and a transport that takes every address and keeps each message.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "notify/mail_sender.h"
#include "notify/transport.h"

namespace vigilo::testing {

struct FakeMail {
  std::vector<std::string> events;     // "mapi <names>", "smtp <server>|<sender>|<to>|<subject>"
  std::vector<size_t> mapi_counts;     // recipients per provider message
  std::string good_profile = "Vigilo";
  std::string good_password = "secret";
  std::set<std::string> unknown_names;
  uint32_t mapi_result = VGMAPI_OK;
  int32_t smtp_result = VGSMTP_OK;
  int resolved = 0, freed = 0, logoffs = 0;
  std::deque<std::string> texts;       // names handed out by resolve
  std::string last_body;

  static FakeMail& Get() {
    static FakeMail fake;
    return fake;
  }
  static void Reset() { Get() = FakeMail(); }
};

inline uint32_t FakeLogon(uintptr_t, const char* profile, const char* password, uint32_t,
                          uint32_t, MapiSessionHandle* session) {
  FakeMail& fake = FakeMail::Get();
  fake.events.push_back(std::string("logon ") + profile);
  if (profile != fake.good_profile || password != fake.good_password) {
    return VGMAPI_E_LOGON_FAILURE;
  }
  *session = 42;
  return VGMAPI_OK;
}

inline uint32_t FakeResolve(MapiSessionHandle, uintptr_t, const char* name, uint32_t, uint32_t,
                            MapiRecipDesc** recipient) {
  FakeMail& fake = FakeMail::Get();
  if (fake.unknown_names.count(name)) return VGMAPI_E_UNKNOWN_RECIPIENT;
  fake.texts.push_back(std::string("resolved-") + name);
  auto* desc = new MapiRecipDesc{};
  desc->recip_class = MAPI_TO;
  desc->name = fake.texts.back().c_str();
  desc->address = desc->name;
  ++fake.resolved;
  *recipient = desc;
  return VGMAPI_OK;
}

inline uint32_t FakeSend(MapiSessionHandle session, uintptr_t, const MapiMessage* message,
                         uint32_t, uint32_t) {
  FakeMail& fake = FakeMail::Get();
  std::string names;
  for (uint32_t i = 0; i < message->recip_count; ++i) {
    if (i) names += ',';
    names += message->recips[i].name;
    if (message->recips[i].recip_class != MAPI_TO) names += "(not TO)";
  }
  fake.events.push_back("mapi " + names + (session == 42 ? "" : " (no session)"));
  fake.mapi_counts.push_back(message->recip_count);
  fake.last_body = message->note_text;
  return fake.mapi_result;
}

inline uint32_t FakeFree(void* buffer) {
  delete static_cast<MapiRecipDesc*>(buffer);
  ++FakeMail::Get().freed;
  return VGMAPI_OK;
}

inline uint32_t FakeLogoff(MapiSessionHandle, uintptr_t, uint32_t, uint32_t) {
  ++FakeMail::Get().logoffs;
  return VGMAPI_OK;
}

inline const char* FakeMapiError() { return "provider down"; }

inline int32_t FakeSmtpOpen() { return VGSMTP_OK; }
inline int32_t FakeSmtpClose() { return VGSMTP_OK; }
inline int32_t FakeSmtpSend(const SmtpMessage* message) {
  FakeMail& fake = FakeMail::Get();
  fake.events.push_back(std::string("smtp ") + message->server + "|" + message->sender + "|" +
                        message->recipients + "|" + message->subject);
  fake.last_body = message->body;
  return fake.smtp_result;
}
inline const char* FakeSmtpError() { return "relay refused"; }

inline MapiFunctions FakeMapi() {
  return {FakeLogon, FakeResolve, FakeSend, FakeFree, FakeLogoff, FakeMapiError};
}

inline SmtpPlugin FakeSmtpPlugin(const std::string&) {
  SmtpPlugin plugin;
  plugin.load.status = PluginLoad::Status::kLoaded;
  plugin.open_session = FakeSmtpOpen;
  plugin.send_mail = FakeSmtpSend;
  plugin.close_session = FakeSmtpClose;
  plugin.last_error = FakeSmtpError;
  return plugin;
}

inline SmtpPlugin MissingSmtpPlugin(const std::string&) { return SmtpPlugin{}; }

// A transport for every kind of address that keeps each message it is handed
// (the sends of one message in one entry, its addresses in the order sent)
// and reports each recipient with the outcome the test asks for.
class RecordingTransport : public Transport {
 public:
  struct Sent {
    int32_t rule_id = 0;
    long long record = 0;
    std::string subject, body, database_name, recipients;
  };
  struct State {
    std::vector<Sent> sent;
    std::map<std::string, RecipientOutcome> outcomes;  // by address; others delivered
    int sessions_ended = 0;
  };

  explicit RecordingTransport(std::shared_ptr<State> state) : state_(std::move(state)) {}
  const char* name() const override { return "FAKE"; }
  std::string server() const override { return "fake.example:25"; }
  bool Serves(AddressKind) const override { return true; }
  void Send(const OutgoingMail& mail, const std::vector<std::string>& addresses,
            DeliveryReport& report) override {
    std::vector<Sent>& sent = state_->sent;
    if (sent.empty() || sent.back().rule_id != mail.rule_id ||
        sent.back().record != mail.record || sent.back().subject != mail.subject) {
      sent.push_back({mail.rule_id, mail.record, mail.subject, mail.body, mail.database_name, ""});
    }
    for (const std::string& address : addresses) {
      std::string& recipients = sent.back().recipients;
      recipients += (recipients.empty() ? "" : ",") + address;
      auto outcome = state_->outcomes.find(address);
      RecipientOutcome result =
          outcome == state_->outcomes.end() ? RecipientOutcome::kDelivered : outcome->second;
      report.Add(address, result, name(),
                 result == RecipientOutcome::kDelivered ? "" : "fake failure");
    }
  }
  void EndSession() override { ++state_->sessions_ended; }

 private:
  std::shared_ptr<State> state_;
};

// The transports of a sender that sends only through a recording transport.
inline std::vector<std::unique_ptr<Transport>> RecordingTransports(
    std::shared_ptr<RecordingTransport::State> state) {
  std::vector<std::unique_ptr<Transport>> transports;
  transports.push_back(std::make_unique<RecordingTransport>(std::move(state)));
  return transports;
}

}  // namespace vigilo::testing
