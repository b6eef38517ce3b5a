#include "common/smtp_security.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/file_system.h"
#include "common/ini_profile.h"
#include "common/smtp_server.h"
#include "common/text.h"

namespace vigilo {

SmtpSecuritySettings ReadSmtpSecuritySettings(const std::string& ini_path,
                                              std::string_view section) {
  SmtpSecuritySettings settings;
  const std::string mode = Trimmed(GetProfileString(ini_path, section, "Security", ""));
  if (mode.empty() || EqualsNoCase(mode, "starttls")) {
    settings.mode = SmtpSecurityMode::kStartTls;
  } else if (EqualsNoCase(mode, "tls")) {
    settings.mode = SmtpSecurityMode::kTls;
  } else if (EqualsNoCase(mode, "none")) {
    settings.mode = SmtpSecurityMode::kNone;
  } else {
    settings.problem = ini_path + ": [" + std::string(section) + "] Security=" + mode +
                       " is none of starttls, tls, none";
  }
  settings.user = Trimmed(GetProfileString(ini_path, section, "User", ""));
  settings.password_file = Trimmed(GetProfileString(ini_path, section, "PasswordFile", ""));
  settings.ca_file = Trimmed(GetProfileString(ini_path, section, "CAFile", ""));
  return settings;
}

std::optional<std::string> ReadPasswordFile(const std::string& path, std::string* error) {
  UniqueFd fd(Files().Open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat st {};
  if (!fd.valid() || Files().Stat(fd.get(), &st) != 0) {
    *error = FileErrorText(path, "cannot read the password file", errno);
    return std::nullopt;
  }
  if ((st.st_mode & (S_IROTH | S_IWOTH)) != 0) {
    *error = path + ": the password file may be read or written by others than its owner "
                    "and group; make it private (chmod 640 or 600)";
    return std::nullopt;
  }
  std::string text;
  if (!ReadAll(fd.get(), text)) {
    *error = FileErrorText(path, "cannot read the password file", errno);
    return std::nullopt;
  }
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (text.empty()) {
    *error = path + ": the password file is empty";
    return std::nullopt;
  }
  return text;
}

std::optional<SmtpCredentials> ResolveSmtpCredentials(const SmtpSecuritySettings& settings,
                                                      std::string_view server,
                                                      std::string* error) {
  if (!settings.problem.empty()) {
    *error = settings.problem;
    return std::nullopt;
  }
  std::optional<SmtpServerAddress> address = ParseSmtpServer(server);
  if (!address) {
    *error = "the mail server setting cannot be read";
    return std::nullopt;
  }
  const bool implicit_tls = settings.mode == SmtpSecurityMode::kTls || address->scheme == "smtps";
  const std::string name =
      address->host + ":" + std::to_string(EffectiveSmtpPort(*address, implicit_tls));
  SmtpCredentials credentials;
  credentials.mode = address->scheme == "smtps" ? SmtpSecurityMode::kTls : settings.mode;
  credentials.ca_file = settings.ca_file;
  if (!settings.user.empty()) {
    credentials.user = settings.user;
    if (settings.password_file.empty()) {
      *error = "SMTP user " + settings.user + " for " + name + " has no PasswordFile";
      return std::nullopt;
    }
    std::optional<std::string> password = ReadPasswordFile(settings.password_file, error);
    if (!password) return std::nullopt;
    credentials.password = std::move(*password);
  } else if (!settings.password_file.empty()) {
    *error = "PasswordFile is set for " + name + " but User is not";
    return std::nullopt;
  } else if (address->has_credentials) {
    credentials.user = address->user;
    credentials.password = address->password;
    credentials.from_url = true;
  }
  if (!credentials.ca_file.empty() && Files().Access(credentials.ca_file, R_OK) != 0) {
    *error = FileErrorText(credentials.ca_file, "cannot read the CAFile", errno);
    return std::nullopt;
  }
  if (!credentials.user.empty() && credentials.mode == SmtpSecurityMode::kNone &&
      !IsLoopbackHost(address->host)) {
    *error = "Security=none with an SMTP user is refused for " + name +
             ": the password would cross the network unencrypted";
    return std::nullopt;
  }
  return credentials;
}

}  // namespace vigilo
