#include "notify/mail_sender.h"

#include <cstdlib>
#include <utility>

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/smtp_security.h"
#include "common/smtp_server.h"
#include "common/text.h"
#include "data/log_stream.h"
#include "data/login_info.h"
#include "platform/host/message_line.h"
#include "platform/sql/database.h"

namespace vigilo {
namespace {

constexpr const char* kMailSection = "Mail";
// Profile keys in the order they are tried.
constexpr const char* kProfileKeys[3] = {"MAPI Mail", "MS Mail", "CC Mail"};

std::string ReadMailKey(const CServerPaths& settings, const char* key) {
  // The settings are read with a 256-character buffer: 255 characters at most.
  return GetProfileString(settings.orvik_ini_path, kMailSection, key, "").substr(0, 255);
}

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

std::unique_ptr<CServerPaths> CMailSender::BuildSettings(const Options& options) {
  if (options.settings) return options.settings();
  return std::make_unique<CServerPaths>(options.in_process_server
                                            ? CServerPaths::Program::kManager
                                            : CServerPaths::Program::kService);
}

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

CMailSender::CMailSender(Options options)
    : options_(std::move(options)),
      settings_(BuildSettings(options_)),
      membership_(MembershipTablePath(settings_->server_dir)),
      outbox_(Outbox::DirectoryOf(settings_->server_dir)) {}

CMailSender::~CMailSender() { CloseSessions(); }

bool CMailSender::InitMailSystems() {
  lifetime_seconds_ = static_cast<std::time_t>(ReadOptionNumber(
                          settings_->program_ini_path, kMailLifetimeKey,
                          kDefaultMailLifetimeMinutes)) * 60;
  first_retry_delay_ = static_cast<std::time_t>(ReadOptionNumber(
      settings_->program_ini_path, kMailRetryDelayKey, kDefaultMailRetryDelaySeconds));
  std::string smtp_value = ReadMailKey(*settings_, "SMTP Mail");
  if (!smtp_value.empty()) {
    SmtpSetting setting = ParseSmtpSetting(smtp_value);
    smtp_server_ = setting.server;
    smtp_sender_ = setting.sender;
    SmtpLoader loader = options_.smtp_loader ? options_.smtp_loader : LoadSmtpPlugin;
    // The library stays loaded even when an entry point is missing.
    smtp_ = std::make_unique<SmtpPlugin>(loader(settings_->program_dir));
    // A setting that names no server or no sender leaves SMTP off.
    smtp_ready_ = smtp_->load.ok() && smtp_->open_session && smtp_->send_mail &&
                          smtp_->close_session && !smtp_server_.empty() &&
                          !smtp_sender_.empty()
                      ? 1
                      : 0;
    if (smtp_ready_) ApplySmtpSecurity();
    if (smtp_ready_) {
      if (options_.in_process_server) return true;
      mail_ready_ = true;
    }
  }
  for (int index = 0; index < 3; ++index) {
    if (LogonProfile(kProfileKeys[index], index)) break;
  }
  return true;
}

void CMailSender::ApplySmtpSecurity() {
  const SmtpSecuritySettings settings =
      ReadSmtpSecuritySettings(settings_->program_ini_path, kSmtpSettingsSection);
  std::string error;
  std::optional<SmtpCredentials> login = ResolveSmtpCredentials(settings, smtp_server_, &error);
  if (login && smtp_->set_security != nullptr) {
    SmtpSecurity record{};
    record.mode = login->mode == SmtpSecurityMode::kTls    ? VGSMTP_SECURITY_TLS
                  : login->mode == SmtpSecurityMode::kNone ? VGSMTP_SECURITY_NONE
                                                           : VGSMTP_SECURITY_STARTTLS;
    // Credentials of the server URL stay with the URL: the library takes them
    // from there under the same rules.
    record.user = login->from_url ? "" : login->user.c_str();
    record.password = login->from_url ? "" : login->password.c_str();
    record.ca_file = login->ca_file.c_str();
    if (smtp_->set_security(&record) != VGSMTP_OK) {
      error = WithoutUrlCredentials(smtp_->last_error ? smtp_->last_error()
                                                      : "the SMTP library refused them");
      login.reset();
    }
  } else if (login && (!settings.user.empty() || !settings.ca_file.empty() ||
                       settings.mode != SmtpSecurityMode::kStartTls)) {
    error = "the SMTP library cannot take the [SMTP] settings";
    login.reset();
  }
  if (login) return;
  smtp_settings_error_ = host::OneLine(error);
  LogLine(Format(kSmtpSettingsRefusedLine, smtp_settings_error_.c_str()));
}

bool CMailSender::LogonProfile(const char* key, int index) {
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
  if (options_.mapi.logon == nullptr) return false;
  MapiSessionHandle session = 0;
  uint32_t result = options_.mapi.logon(0, profiles_[index].profile.c_str(),
                                        profiles_[index].password.c_str(),
                                        VGMAPI_LOGON_NEW_SESSION, 0, &session);
  if (result != VGMAPI_OK) return false;
  session_ = session;
  mail_ready_ = true;
  if (!options_.in_process_server) session_flag_ = 1;
  return true;
}

void CMailSender::LogoffMapi() {
  if (session_flag_ && options_.mapi.logoff != nullptr) options_.mapi.logoff(session_, 0, 0, 0);
  session_flag_ = 0;
}

}  // namespace vigilo
