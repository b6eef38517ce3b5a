// MailSystems: the mail systems the product's mail settings name, opened for
// one engine: the SMTP transport (its library loaded here), the mail-system
// provider (its functions handed in by the owner, who loaded them), the
// internal mail table, and the recipient directory. Open reads "SMTP Mail",
// then "MAPI Mail", "MS Mail", "CC Mail" of section "Mail" of morvik.ini and
// opens what they name: the SMTP library, and the first profile whose logon
// succeeds.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/server_paths.h"
#include "notify/internal_mail.h"
#include "notify/mail_settings.h"
#include "notify/mapi_transport.h"
#include "notify/recipient_directory.h"
#include "notify/smtp_transport.h"

namespace vigilo {

// The [SMTP] settings of vigtab.ini cannot be used (said once, at start);
// SMTP messages wait in the outbox until the settings are mended.
inline constexpr const char* kSmtpSettingsRefusedLine = "SMTP settings refused : %s \r\n";

class MailSystems {
 public:
  // Loads the SMTP library (by default LoadSmtpPlugin with the program
  // directory).
  using SmtpLoader = std::function<SmtpPlugin(const std::string& program_dir)>;
  // Builds the settings (server directory and paths) afresh.
  using SettingsFactory = std::function<std::unique_ptr<CServerPaths>()>;

  struct Options {
    LogStream* log = nullptr;     // run log for delivery failures; may be null
    MapiFunctions mapi;           // the engine's provider functions
    SmtpLoader smtp_loader;       // default: LoadSmtpPlugin
    SettingsFactory settings;     // default: CServerPaths(program)
    PasswordDecoder decode_password;  // default: DecodePassword (data/login_info.h)
    // The rule manager's in-process server: SMTP readiness ends the mail
    // set-up and does not make mail ready; a logon sets only mail ready.
    bool in_process_server = false;
  };

  // Builds the settings and opens the membership table; the mail systems stay
  // closed (SMTP not set up, no logon) until Open.
  explicit MailSystems(Options options);
  ~MailSystems();
  MailSystems(const MailSystems&) = delete;
  MailSystems& operator=(const MailSystems&) = delete;

  void Open();
  // Ends the provider session when a logon succeeded. Call before the
  // provider library is released; harmless when called twice.
  void Logoff() { mapi_->Logoff(); }

  // In the order their addresses are routed to: internal, SMTP, provider.
  std::vector<Transport*> transports() { return {internal_.get(), smtp_.get(), mapi_.get()}; }
  RecipientDirectory& directory() { return directory_; }
  CServerPaths& settings() { return *settings_; }
  LogStream* log() const { return options_.log; }

  bool mail_ready() const { return mapi_->mail_ready(); }
  bool smtp_ready() const { return smtp_->ready(); }
  bool session_open() const { return mapi_->session_open(); }
  const std::string& smtp_server() const { return smtp_->setting_server(); }
  const std::string& smtp_sender() const { return smtp_->sender(); }
  const MailProfile& profile(int index) const { return profiles_[index]; }

 private:
  static std::unique_ptr<CServerPaths> BuildSettings(const Options& options);
  bool LogonProfile(const char* key, int index);
  // Checks vigtab.ini's [SMTP] settings and hands them to the SMTP library;
  // when they are refused, says why in the run log and the transport keeps
  // every SMTP message waiting.
  void ApplySmtpSecurity();

  Options options_;
  std::unique_ptr<CServerPaths> settings_;
  RecipientDirectory directory_;
  MailProfile profiles_[3];  // "MAPI Mail", "MS Mail", "CC Mail"
  std::unique_ptr<InternalMailTransport> internal_;
  std::unique_ptr<SmtpTransport> smtp_;
  std::unique_ptr<MapiTransport> mapi_;
};

}  // namespace vigilo
