#include "notify/mail_systems.h"

#include <utility>

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/smtp_security.h"
#include "common/smtp_server.h"
#include "data/log_stream.h"
#include "data/login_info.h"
#include "platform/host/message_line.h"

namespace vigilo {
namespace {

constexpr const char* kMailSection = "Mail";
// Profile keys in the order they are tried.
constexpr const char* kProfileKeys[3] = {"MAPI Mail", "MS Mail", "CC Mail"};

std::string ReadMailKey(const CServerPaths& settings, const char* key) {
  // The settings are read with a 256-character buffer: 255 characters at most.
  return GetProfileString(settings.orvik_ini_path, kMailSection, key, "").substr(0, 255);
}

}  // namespace

std::unique_ptr<CServerPaths> MailSystems::BuildSettings(const Options& options) {
  if (options.settings) return options.settings();
  return std::make_unique<CServerPaths>(options.in_process_server
                                            ? CServerPaths::Program::kManager
                                            : CServerPaths::Program::kService);
}

MailSystems::MailSystems(Options options)
    : options_(std::move(options)),
      settings_(BuildSettings(options_)),
      directory_(settings_->server_dir, options_.log),
      // The server directory may have been changed since the start.
      internal_(std::make_unique<InternalMailTransport>(
          [this] { return BuildSettings(options_)->server_dir; }, options_.in_process_server,
          options_.log)),
      smtp_(std::make_unique<SmtpTransport>(SmtpPlugin{}, "", "", options_.log)),
      mapi_(std::make_unique<MapiTransport>(options_.mapi, options_.log)) {}

MailSystems::~MailSystems() = default;

void MailSystems::Open() {
  std::string smtp_value = ReadMailKey(*settings_, "SMTP Mail");
  if (!smtp_value.empty()) {
    SmtpSetting setting = ParseSmtpSetting(smtp_value);
    SmtpLoader loader = options_.smtp_loader ? options_.smtp_loader : LoadSmtpPlugin;
    // The library stays loaded even when an entry point is missing; a
    // setting that names no server or no sender leaves SMTP off.
    smtp_ = std::make_unique<SmtpTransport>(loader(settings_->program_dir), setting.server,
                                            setting.sender, options_.log);
    if (smtp_->ready()) ApplySmtpSecurity();
    if (smtp_->ready()) {
      if (options_.in_process_server) return;
      mapi_->set_mail_ready(true);
    }
  }
  for (int index = 0; index < 3; ++index) {
    if (LogonProfile(kProfileKeys[index], index)) break;
  }
}

void MailSystems::ApplySmtpSecurity() {
  const SmtpSecuritySettings settings =
      ReadSmtpSecuritySettings(settings_->program_ini_path, kSmtpSettingsSection);
  std::string error;
  std::optional<SmtpCredentials> login =
      ResolveSmtpCredentials(settings, smtp_->setting_server(), &error);
  SmtpPlugin& plugin = smtp_->plugin();
  if (login && plugin.set_security != nullptr) {
    SmtpSecurity record{};
    record.mode = login->mode == SmtpSecurityMode::kTls    ? VGSMTP_SECURITY_TLS
                  : login->mode == SmtpSecurityMode::kNone ? VGSMTP_SECURITY_NONE
                                                           : VGSMTP_SECURITY_STARTTLS;
    // Credentials of the server URL stay with the URL: the library takes them
    // from there under the same rules.
    record.user = login->from_url ? "" : login->user.c_str();
    record.password = login->from_url ? "" : login->password.c_str();
    record.ca_file = login->ca_file.c_str();
    if (plugin.set_security(&record) != VGSMTP_OK) {
      error = WithoutUrlCredentials(plugin.last_error ? plugin.last_error()
                                                      : "the SMTP library refused them");
      login.reset();
    }
  } else if (login && (!settings.user.empty() || !settings.ca_file.empty() ||
                       settings.mode != SmtpSecurityMode::kStartTls)) {
    // A library without the entry point would send in the clear.
    error = "the SMTP library cannot take the [SMTP] settings";
    login.reset();
  }
  if (login) {
    smtp_->set_implicit_tls(login->mode == SmtpSecurityMode::kTls);
    return;
  }
  const std::string reason = host::OneLine(error);
  smtp_->RefuseSettings(reason);
  if (options_.log != nullptr) options_.log->Write(Format(kSmtpSettingsRefusedLine, reason.c_str()));
}

bool MailSystems::LogonProfile(const char* key, int index) {
  std::string value = ReadMailKey(*settings_, key);
  if (value.empty()) return false;
  PasswordDecoder decode = options_.decode_password;
  if (!decode) {
    // A password that does not decode is tried as it is stored.
    decode = [](std::string_view stored) {
      return DecodePassword(stored).value_or(std::string(stored));
    };
  }
  profiles_[index] = ParseMailProfile(value, decode);
  return mapi_->Logon(profiles_[index], options_.in_process_server);
}

}  // namespace vigilo
