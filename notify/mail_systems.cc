#include "notify/mail_systems.h"

#include <utility>

#include "common/ini_profile.h"
#include "data/login_info.h"

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
    if (smtp_->ready()) {
      if (options_.in_process_server) return;
      mapi_->set_mail_ready(true);
    }
  }
  for (int index = 0; index < 3; ++index) {
    if (LogonProfile(kProfileKeys[index], index)) break;
  }
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
