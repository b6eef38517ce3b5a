#include "data/project_tables.h"

#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/text.h"

namespace vigilo {
namespace {

constexpr std::string_view kDatafileMark = " datafile";  // compared in lower case
constexpr const char* kChangeHistoryDatafileKey = "ChngHist Datafile";
constexpr size_t kDatafileValueLimit = 255;

bool IsTableKey(std::string_view key) {
  if (ToLower(key).find(kDatafileMark) == std::string::npos) return false;
  return !EqualsNoCase(key, kLinkInfoDatafileKey) && !EqualsNoCase(key, kChangeHistoryDatafileKey);
}

}  // namespace

std::string WithoutExtension(std::string_view datafile) {
  size_t separator = LastSeparator(datafile);
  size_t name_start = separator == std::string_view::npos ? 0 : separator + 1;
  size_t dot = datafile.rfind('.');
  if (dot == std::string_view::npos || dot <= name_start) return std::string(datafile);
  return std::string(datafile.substr(0, dot));
}

std::vector<ProjectIniTable> ReadProjectIniTables(const std::string& ini_path) {
  std::vector<ProjectIniTable> tables;
  for (const ProfileEntry& entry : GetProfileEntries(ini_path, kOrvikIniSection)) {
    if (!IsTableKey(entry.key)) continue;
    ProjectIniTable table;
    table.key = entry.key;
    table.value = WithoutExtension(std::string_view(entry.value).substr(0, kDatafileValueLimit));
    if (table.value.empty()) continue;
    size_t separator = LastSeparator(table.value);
    if (separator != std::string::npos && separator > 0) {
      table.directory = table.value.substr(0, separator);
      table.table = table.value.substr(separator + 1);
    } else {
      table.table = table.value;
    }
    if (table.table.empty()) continue;
    tables.push_back(std::move(table));
  }
  return tables;
}

}  // namespace vigilo
