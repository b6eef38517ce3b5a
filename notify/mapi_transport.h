// MapiTransport: the mail-system provider, whose functions the engine loads
// and hands over. Bare names are resolved by the provider and sent together
// (at most kMapiRecipientLimit recipients a message); other prefixed
// addresses ("CCMAIL:") go out one message each, as they stand. Nothing is
// sent before mail is ready (a logon succeeded, or SMTP is set up).
#pragma once

#include <string>
#include <vector>

#include "notify/mail_settings.h"
#include "notify/transport.h"
#include "platform/loader/mail_plugins.h"

namespace vigilo {

// One resolved message to the provider holds at most this many recipients;
// longer lists go out as several messages.
inline constexpr size_t kMapiRecipientLimit = 100;
// A recipient piece of a message is at most this long.
inline constexpr size_t kRecipientLimit = 255;

// The provider's functions as the transport calls them. All null: no
// provider (nothing is sent through it).
struct MapiFunctions {
  MapiLogonFn logon = nullptr;
  MapiResolveNameFn resolve_name = nullptr;
  MapiSendMailFn send_mail = nullptr;
  MapiFreeBufferFn free_buffer = nullptr;
  MapiLogoffFn logoff = nullptr;
  MapiLastErrorFn last_error = nullptr;
};
MapiFunctions MapiFunctionsOf(const MapiPlugin& plugin);

class MapiTransport : public Transport {
 public:
  MapiTransport(MapiFunctions functions, LogStream* log) : mapi_(functions), log_(log) {}

  const char* name() const override { return "MAPI"; }
  bool Serves(AddressKind kind) const override {
    return kind == AddressKind::kDirect || kind == AddressKind::kName;
  }
  void Send(const OutgoingMail& mail, const std::vector<std::string>& addresses,
            DeliveryReport& report) override;

  // Opens a session with the profile. A session opened for the rule
  // manager's in-process server is not ended by Logoff. False when the logon
  // failed (or there is no provider).
  bool Logon(const MailProfile& profile, bool in_process_server);
  // Ends the session when a logon succeeded; harmless when called twice.
  void Logoff();
  void set_mail_ready(bool ready) { mail_ready_ = ready; }
  bool mail_ready() const { return mail_ready_; }
  bool session_open() const { return session_flag_; }

 private:
  enum class Outcome { kDelivered, kRetry, kRefused, kNoProvider };
  // Sends one provider message; a failure becomes one run-log line.
  Outcome SendMessage(const std::vector<MapiRecipDesc>& recipients, const OutgoingMail& mail);
  void SendDirect(const OutgoingMail& mail, const std::string& address, DeliveryReport& report);
  void ResolveAndSend(const OutgoingMail& mail, const std::vector<std::string>& names,
                      DeliveryReport& report);

  MapiFunctions mapi_;
  LogStream* log_;
  MapiSessionHandle session_ = 0;
  bool session_flag_ = false;
  bool mail_ready_ = false;
};

}  // namespace vigilo
