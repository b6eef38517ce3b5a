#include "platform/sql/dbf_file_names.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

#include "common/text.h"
#include "platform/sql/dbase_sql_rewriter.h"

namespace vigilo::sql {

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// The entry of dir equal to name without regard to case, or "".
std::string FindNoCase(const std::string& dir, const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.empty() ? "/" : dir.c_str()),
                                        closedir);
  if (!d) return "";
  while (dirent* e = readdir(d.get())) {
    if (EqualsNoCase(e->d_name, name)) return e->d_name;
  }
  return "";
}

}  // namespace

std::string TablePath(const std::string& default_dir, std::string_view name) {
  std::string path(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (!IsDbfFileName(path)) path += ".dbf";
  if (path.empty() || path[0] != '/') {
    std::string dir = default_dir;
    for (char& c : dir) {
      if (c == '\\') c = '/';
    }
    if (!dir.empty() && dir.back() != '/') dir += '/';
    path = dir + path;
  }
  return path;
}

std::optional<std::string> ResolveFileCase(const std::string& path) {
  if (Exists(path)) return path;
  std::string resolved;
  for (const std::string& part : SplitNonEmpty(path, '/')) {
    std::string candidate = resolved + "/" + part;
    if (!Exists(candidate)) {
      std::string match = FindNoCase(resolved, part);
      if (match.empty()) return std::nullopt;
      candidate = resolved + "/" + match;
    }
    resolved = candidate;
  }
  if (path.empty() || path[0] != '/') return std::nullopt;
  return resolved;
}

std::optional<std::string> ResolveNewFile(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  auto resolved = ResolveFileCase(dir);
  if (!resolved) return std::nullopt;
  std::string base = *resolved == "/" ? "" : *resolved;
  return base + path.substr(slash);
}

}  // namespace vigilo::sql
