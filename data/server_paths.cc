#include "data/server_paths.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/text.h"
#include "data/short_date.h"

namespace vigilo {
namespace {

constexpr char kDefaultDatePattern[] = "MM/DD/YY";
constexpr uint32_t kDefaultIntervalSeconds = 300;
// A zero, negative or unreadable interval would make the firing loop spin.
constexpr uint32_t kMinimumIntervalSeconds = 60;

std::mutex& DirectoryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::string>& ChosenDirectory() {
  static std::optional<std::string> dir;
  return dir;
}

// An absolute, clean form of a directory named by the user.
std::string CleanDirectory(std::string_view dir) {
  std::string path = NormalizePath(dir);
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (!ec) path = absolute.lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ExecutableDirectory() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path()) return exe.parent_path().string();
  std::filesystem::path cwd = std::filesystem::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

}  // namespace

void SetProgramDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> lock(DirectoryMutex());
  if (dir.empty()) {
    ChosenDirectory().reset();
  } else {
    ChosenDirectory() = CleanDirectory(dir);
  }
}

void UseHomeDirectory(const std::string& dir) {
  SetProgramDirectory(dir);
  setenv("VIGILO_HOME", dir.c_str(), 1);
}

std::string ProgramDirectory() {
  {
    std::lock_guard<std::mutex> lock(DirectoryMutex());
    if (ChosenDirectory()) return *ChosenDirectory();
  }
  if (const char* home = std::getenv("VIGILO_HOME"); home && *home) return CleanDirectory(home);
  return ExecutableDirectory();
}

namespace {
std::atomic<bool> defaults_written_back{true};
}  // namespace

void SetDefaultsWrittenBack(bool written_back) { defaults_written_back = written_back; }
bool DefaultsWrittenBack() { return defaults_written_back.load(); }

CServerPaths::CServerPaths(Program program) {
  program_dir = ProgramDirectory();
  program_ini_path = JoinPath(program_dir, "vigtab.ini");

  std::string configured = GetProfileString(program_ini_path, title, "SERVERDIR", "");
  if (!configured.empty()) {
    // A relative directory is taken to be below the program directory, not
    // below whatever directory the process happens to run in.
    server_dir = NormalizePath(configured);
    if (server_dir.front() != '/') server_dir = JoinPath(program_dir, server_dir);
  } else {
    server_dir = program_dir;
    if (DefaultsWrittenBack()) WriteProfileString(program_ini_path, title, "SERVERDIR", server_dir);
  }

  orvik_ini_path = ResolveFileCase(JoinPath(server_dir, "morvik.ini"));
  rule_table_path = ResolveFileCase(JoinPath(JoinPath(server_dir, "orvhome"), "Vigtab.dbf"));
  help_path = JoinPath(program_dir,
                       program == Program::kManager ? "vigilo.hlp" : "vigtab.hlp");

  date_default = program == Program::kManager ? kDefaultDatePattern : "";
  std::string system_pattern = SystemShortDatePattern();
  if (system_pattern.empty()) system_pattern = date_default;
  std::optional<ShortDateFormat> format =
      system_pattern.empty() ? std::nullopt : NormalizeShortDate(system_pattern);
  if (!format) format = NormalizeShortDate(kDefaultDatePattern);
  date_separator = format->separator;
  for (int i = 0; i < 3; ++i) date_order[i] = format->order[i];
  date_picture = format->picture;
}

uint32_t GetFiringInterval() {
  CServerPaths paths;
  uint32_t seconds = kDefaultIntervalSeconds;
  std::string value = GetProfileString(paths.program_ini_path, "OPTIONS", "FIRING_INTERVAL", "");
  if (!value.empty()) {
    long minutes = LeadingNumber(value);
    constexpr long kMaxMinutes = static_cast<long>(UINT32_MAX / 60);
    if (minutes <= 0) {
      seconds = kMinimumIntervalSeconds;
    } else {
      seconds = static_cast<uint32_t>(std::min(minutes, kMaxMinutes) * 60);
    }
  } else if (DefaultsWrittenBack()) {
    WriteProfileString(paths.program_ini_path, "OPTIONS", "FIRING_INTERVAL", "5");
  }
  // For tests and benchmarks only: a firing interval in seconds.
  if (const char* test = std::getenv("VIGILO_TEST_INTERVAL_SECONDS"); test && *test) {
    long override_seconds = LeadingNumber(test);
    if (override_seconds > 0) {
      seconds = static_cast<uint32_t>(std::min(override_seconds, static_cast<long>(UINT32_MAX)));
    }
  }
  return seconds;
}

uint64_t GetRunLogMaxSize() {
  constexpr uint64_t kDefault = 10 * 1024 * 1024;
  CServerPaths paths;
  const std::string value = Trimmed(GetProfileString(paths.program_ini_path, "OPTIONS",
                                                     "LOG_MAX_SIZE", ""));
  if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
      value.size() > 18) {
    return kDefault;
  }
  return std::stoull(value);
}

int GetRunLogKeep() {
  constexpr int kDefault = 3;
  CServerPaths paths;
  const std::string value =
      Trimmed(GetProfileString(paths.program_ini_path, "OPTIONS", "LOG_KEEP", ""));
  if (value.empty() || value.size() > 2 || value.find_first_not_of("0123456789") != std::string::npos) {
    return kDefault;
  }
  return std::stoi(value);
}

bool WriteLastPollTimeKey(const std::string& table_ini_path, int32_t seconds) {
  return WriteProfileString(table_ini_path, "VIGTAB", "LAST_POLL_TIME",
                            Format("%ld", static_cast<long>(seconds)));
}

}  // namespace vigilo
