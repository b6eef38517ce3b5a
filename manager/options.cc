#include "manager/options.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/text.h"

namespace vigilo {
namespace {

constexpr const char* kOptionsSection = "OPTIONS";
constexpr const char* kFiringIntervalKey = "FIRING_INTERVAL";
// The stored value is read into a buffer of this many characters.
constexpr size_t kStoredValueLimit = 49;

}  // namespace

std::optional<int> ParseIntegerField(std::string_view text) {
  std::string value = Trimmed(text);
  if (value.empty()) return std::nullopt;
  size_t digits = (value[0] == '-' || value[0] == '+') ? 1 : 0;
  if (digits == value.size()) return std::nullopt;
  for (size_t i = digits; i < value.size(); ++i) {
    if (value[i] < '0' || value[i] > '9') return std::nullopt;
  }
  errno = 0;
  long number = std::strtol(value.c_str(), nullptr, 10);
  if (errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return std::nullopt;
  return static_cast<int>(number);
}

OptionsLogic::OptionsLogic(std::string program_ini_path, Prompts& prompts)
    : program_ini_path_(std::move(program_ini_path)), prompts_(prompts) {}

int OptionsLogic::InitialInterval() const {
  std::string stored = GetProfileString(program_ini_path_, kOptionsSection, kFiringIntervalKey);
  if (stored.size() > kStoredValueLimit) stored.resize(kStoredValueLimit);
  long minutes = LeadingNumber(stored);
  // A negative or oversized value would otherwise sit in the edit only to be
  // refused by OK; below 1 reads as the missing value does.
  if (minutes < kMinimumInterval) return kMinimumInterval;
  if (minutes > INT32_MAX) return INT32_MAX;
  return static_cast<int>(minutes);
}

std::string OptionsLogic::Problem(std::string_view text) const {
  std::optional<int> minutes = ParseIntegerField(text);
  if (!minutes) return kEnterIntegerMessage;
  if (*minutes < kMinimumInterval || *minutes > kMaximumInterval) {
    return Format(kEnterIntegerBetweenMessage, kMinimumInterval, kMaximumInterval);
  }
  return "";
}

bool OptionsLogic::Ok(std::string_view text) {
  if (std::string problem = Problem(text); !problem.empty()) {
    prompts_.Message(problem, PromptIcon::kWarning);
    return false;
  }
  std::optional<int> minutes = ParseIntegerField(text);
  std::string error;
  if (!WriteProfileString(program_ini_path_, kOptionsSection, kFiringIntervalKey,
                          Format("%d", *minutes), &error)) {
    prompts_.Message(Format(kIntervalNotSavedMessage, program_ini_path_.c_str(), error.c_str()),
                     PromptIcon::kWarning);
    return false;
  }
  return true;
}

}  // namespace vigilo
