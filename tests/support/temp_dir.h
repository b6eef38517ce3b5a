// TempDir: the one scratch directory of the tests and benchmarks, made fresh
// under $TMPDIR (or /tmp, or a base the caller names) and removed with all it
// holds when the object goes. WriteText and ReadText read and write whole
// files for building and checking what a test works on.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vigilo::testing {

class TempDir {
 public:
  TempDir() : TempDir(DefaultBase()) {}
  // A directory under base, for callers that want a particular file system
  // (the memory one for thousands of tiny files). Throws when it cannot be
  // made: an empty path would send every File() to the root directory.
  explicit TempDir(const std::string& base) {
    std::string pattern = base + "/vigilo-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make a directory under " + base + ": " +
                               std::strerror(errno));
    }
    path_ = pattern;
  }
  ~TempDir() {
    if (keep_) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Leaves the directory and what it holds in place, for looking at what a
  // run wrote.
  void Keep() { keep_ = true; }
  // A directory below this one (parents included), made when missing.
  std::string Dir(const std::string& name) const {
    std::filesystem::create_directories(File(name));
    return File(name);
  }

 private:
  static std::string DefaultBase() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
  }

  std::string path_;
  bool keep_ = false;
};

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace vigilo::testing
