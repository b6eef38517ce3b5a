#include "platform/mapi/mapi_config.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "common/text.h"
#include "platform/mapi/vgmapi.h"

namespace vigilo::mapi {

namespace {

std::string TrimAll(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string ProgramDirectory() {
  std::string link(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", link.data(), link.size() - 1);
  if (n <= 0) return ".";
  link.resize(static_cast<size_t>(n));
  size_t slash = link.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : link.substr(0, slash));
}

// The same file name in another letter case, when the exact one is absent.
std::string WithExistingCase(const std::string& dir, const std::string& name) {
  std::string exact = dir + "/" + name;
  if (Exists(exact)) return exact;
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
  if (listing == nullptr) return exact;
  while (dirent* entry = ::readdir(listing.get())) {
    if (EqualsNoCase(entry->d_name, name)) return dir + "/" + entry->d_name;
  }
  return exact;
}

using Section = std::vector<std::pair<std::string, std::string>>;

const std::string* Find(const Section& section, std::string_view key) {
  for (const auto& [name, value] : section) {
    if (EqualsNoCase(name, key)) return &value;
  }
  return nullptr;
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
  std::string dir = home != nullptr && *home != '\0' ? home : ProgramDirectory();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return WithExistingCase(dir, "mapi.ini");
}

std::optional<MapiConfig> LoadMapiConfig(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = "cannot read " + path;
    return std::nullopt;
  }
  // Sections of interest; a section name seen twice continues the first one,
  // whose keys still win.
  Section profiles, book, delivery;
  Section* current = nullptr;
  std::string line;
  while (ReadLine(in, line)) {
    std::string text = TrimAll(line);
    if (text.empty() || text[0] == ';') continue;
    if (text[0] == '[') {
      size_t close = text.find(']');
      std::string name = TrimAll(text.substr(1, close == std::string::npos ? std::string::npos
                                                                            : close - 1));
      if (EqualsNoCase(name, "Profiles")) current = &profiles;
      else if (EqualsNoCase(name, "Address Book")) current = &book;
      else if (EqualsNoCase(name, "Delivery")) current = &delivery;
      else current = nullptr;
      continue;
    }
    size_t equals = text.find('=');
    if (current == nullptr || equals == std::string::npos) continue;
    std::string key = TrimAll(text.substr(0, equals));
    if (key.empty()) continue;
    current->emplace_back(key, TrimAll(text.substr(equals + 1)));
  }

  MapiConfig config;
  config.path = path;
  config.profiles = std::move(profiles);
  config.address_book = std::move(book);
  if (const std::string* url = Find(delivery, "SmtpUrl")) config.smtp_url = *url;
  if (const std::string* command = Find(delivery, "Command"); command && !command->empty()) {
    config.command = *command;
  }
  if (const std::string* from = Find(delivery, "From")) config.from = *from;
  return config;
}

}  // namespace vigilo::mapi
