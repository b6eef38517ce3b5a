#include "common/paths.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <system_error>

#include "common/text.h"

namespace vigilo {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

// The entry of dir whose name equals name without regard to case; the
// smallest such name when several differ only in case.
std::optional<std::string> FindNoCase(const std::string& dir, const std::string& name) {
  std::error_code ec;
  std::filesystem::directory_iterator it(dir.empty() ? "." : dir, ec);
  if (ec) return std::nullopt;
  std::optional<std::string> best;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string entry = it->path().filename().string();
    if (EqualsNoCase(entry, name) && (!best || entry < *best)) best = entry;
  }
  return best;
}

}  // namespace

std::string JoinPath(std::string_view dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  std::string out(dir);
  if (!IsSeparator(out.back())) out += '/';
  out += name;
  return out;
}

size_t LastSeparator(std::string_view path) { return path.find_last_of("/\\"); }

std::string DirectoryPart(std::string_view path) {
  size_t pos = LastSeparator(path);
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos));
}

std::string NamePart(std::string_view path) {
  size_t pos = LastSeparator(path);
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string NormalizePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string ResolveFileCase(std::string_view path) {
  std::string given(path);
  if (given.empty() || Exists(given)) return given;
  std::string slashed = given;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  if (Exists(slashed)) return slashed;

  std::string resolved = slashed.front() == '/' ? "/" : "";
  bool searching = true;  // false once a directory is missing in every case
  for (const std::string& component : SplitNonEmpty(slashed, '/')) {
    std::string candidate = JoinPath(resolved, component);
    if (searching && !Exists(candidate) && component != "." && component != "..") {
      if (std::optional<std::string> match = FindNoCase(resolved, component)) {
        candidate = JoinPath(resolved, *match);
      } else {
        searching = false;
      }
    }
    resolved = std::move(candidate);
  }
  if (slashed.size() > 1 && slashed.back() == '/') resolved += '/';
  return resolved;
}

}  // namespace vigilo
