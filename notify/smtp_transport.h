// SmtpTransport: "SMTP:" addresses through the SMTP library. All messages of
// a tick share one session; a server that cannot be reached is not tried
// again before the next tick, so a dead server costs one time-out per tick.
// Recipients the server refuses with a 5xx reply are refused for good,
// those it refuses for now (4xx, connection trouble) are failed for now.
// A session the TLS or AUTH settings make fail counts as a server that is
// down; settings refused at start keep every message waiting in the outbox.
#pragma once

#include <memory>
#include <string>
#include <utility>
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
  SmtpPlugin& plugin() { return plugin_; }
  // The [SMTP] settings could not be used: every message fails for now with
  // the reason (said once, by whoever refused them). implicit_tls names the
  // server's default port for output.
  void RefuseSettings(std::string reason) { settings_error_ = std::move(reason); }
  void set_implicit_tls(bool on) { implicit_tls_ = on; }

 private:
  SmtpPlugin plugin_;
  std::string server_;
  std::string sender_;
  LogStream* log_;
  bool ready_ = false;
  bool session_open_ = false;
  std::string down_error_;  // set when the server could not be reached this tick
  std::string settings_error_;  // set when the [SMTP] settings were refused at start
  bool implicit_tls_ = false;
};

}  // namespace vigilo
