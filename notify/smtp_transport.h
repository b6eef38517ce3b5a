// SmtpTransport: "SMTP:" addresses through the SMTP library. All messages of
// a tick share one session; a server that cannot be reached is not tried
// again before the next tick, so a dead server costs one time-out per tick.
// Recipients the server refuses with a 5xx reply are refused for good,
// those it refuses for now (4xx, connection trouble) are failed for now.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "notify/transport.h"
#include "platform/loader/mail_plugins.h"

namespace vigilo {

class SmtpTransport : public Transport {
 public:
  // server and sender as the "SMTP Mail" setting names them. The transport is
  // ready when the library has its entry points and both are named.
  SmtpTransport(SmtpPlugin plugin, std::string server, std::string sender, LogStream* log);
  ~SmtpTransport() override;

  const char* name() const override { return "SMTP"; }
  std::string server() const override;
  bool Serves(AddressKind kind) const override { return kind == AddressKind::kSmtp; }
  void Send(const OutgoingMail& mail, const std::vector<std::string>& addresses,
            DeliveryReport& report) override;
  void EndSession() override;

  bool ready() const { return ready_; }
  const std::string& setting_server() const { return server_; }
  const std::string& sender() const { return sender_; }

 private:
  SmtpPlugin plugin_;
  std::string server_;
  std::string sender_;
  LogStream* log_;
  bool ready_ = false;
  bool session_open_ = false;
  std::string down_error_;  // set when the server could not be reached this tick
};

// The server of an "SMTP Mail" setting as "host:port" (port 25 when none is
// named; a URL's scheme and path are left out).
std::string SmtpHostPort(const std::string& server);

}  // namespace vigilo
