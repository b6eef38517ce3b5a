#include "platform/mapi/mapi_config.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/text.h"
#include "platform/mapi/vgmapi.h"

namespace vigilo::mapi {

namespace {

std::string ProgramDirectory() {
  std::string link(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", link.data(), link.size() - 1);
  if (n <= 0) return ".";
  link.resize(static_cast<size_t>(n));
  std::string dir = DirectoryPart(link);
  return dir.empty() ? "/" : dir;
}

using Section = std::vector<std::pair<std::string, std::string>>;

const std::string* Find(const Section& section, std::string_view key) {
  for (const auto& [name, value] : section) {
    if (EqualsNoCase(name, key)) return &value;
  }
  return nullptr;
}

Section ReadSection(const std::string& path, std::string_view name) {
  Section section;
  for (ProfileEntry& entry : GetProfileEntries(path, name)) {
    section.emplace_back(std::move(entry.key), std::move(entry.value));
  }
  return section;
}

}  // namespace

std::optional<std::string> MapiConfig::Password(std::string_view profile) const {
  const std::string* value = Find(profiles, profile);
  if (value == nullptr) return std::nullopt;
  return *value;
}

std::optional<std::string> MapiConfig::Lookup(std::string_view name) const {
  const std::string* value = Find(address_book, name);
  if (value == nullptr) return std::nullopt;
  return *value;
}

std::string MapiIniPath() {
  const char* explicit_path = std::getenv(VGMAPI_INI_ENV);
  if (explicit_path != nullptr && *explicit_path != '\0') return explicit_path;
  const char* home = std::getenv("VIGILO_HOME");
  std::string dir = home != nullptr && *home != '\0' ? NormalizePath(home) : ProgramDirectory();
  return ResolveFileCase(JoinPath(dir, "mapi.ini"));
}

std::optional<MapiConfig> LoadMapiConfig(const std::string& path, std::string* error) {
  if (::access(path.c_str(), R_OK) != 0) {
    if (error != nullptr) *error = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  MapiConfig config;
  config.path = path;
  config.profiles = ReadSection(path, "Profiles");
  config.address_book = ReadSection(path, "Address Book");
  config.smtp_url = GetProfileString(path, "Delivery", "SmtpUrl");
  config.smtp_security = ReadSmtpSecuritySettings(path, kDeliverySettingsSection);
  std::string command = GetProfileString(path, "Delivery", "Command");
  if (!command.empty()) config.command = command;
  config.from = GetProfileString(path, "Delivery", "From");
  return config;
}

}  // namespace vigilo::mapi
