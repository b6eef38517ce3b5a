#include "common/ini_profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "common/format.h"
#include "common/ini_document.h"
#include "common/paths.h"

namespace vigilo {
namespace {

// Closes a file descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string ErrnoText(const std::string& what, const std::string& path) {
  return Format("%s %s: %s", what.c_str(), path.c_str(), std::strerror(errno));
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

IniDocument ReadDocument(std::string_view file) {
  std::ifstream in(ResolveFileCase(file), std::ios::binary);
  if (!in) return IniDocument();
  std::ostringstream text;
  text << in.rdbuf();
  return IniDocument(text.str());
}

bool ReadAll(int fd, std::string& out) {
  out.clear();
  char chunk[65536];
  while (true) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(chunk, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The file a write goes to: the case-resolved name, and the target of a
// symbolic link rather than the link, so the link survives the rename.
std::string WriteTarget(std::string_view file) {
  std::string path = ResolveFileCase(file);
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                     &std::free);
    if (real) path = real.get();
  }
  return path;
}

// Writes text over path through a temporary file in the same directory and a
// rename, giving the new file the mode and owner of the old one. When the
// directory does not allow a new file, the locked old file is rewritten in
// place instead, as the file itself is writable.
bool ReplaceFile(const std::string& path, int locked_fd, const struct stat& old,
                 std::string_view text, std::string* error) {
  static std::atomic<unsigned> counter{0};
  std::string dir = DirectoryPart(path);
  if (dir.empty()) dir = path.front() == '/' ? "/" : ".";
  std::string temp = JoinPath(dir, Format(".%s.%ld.%u.tmp", NamePart(path).c_str(),
                                     static_cast<long>(::getpid()), counter++));
  FileDescriptor out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            old.st_mode & 07777));
  if (out.get() < 0) {
    if (errno != EACCES && errno != EPERM && errno != EROFS) {
      return Fail(error, ErrnoText("cannot create a temporary file for", path));
    }
    if (::ftruncate(locked_fd, 0) != 0 || !WriteAll(locked_fd, text) ||
        ::fdatasync(locked_fd) != 0) {
      return Fail(error, ErrnoText("cannot write", path));
    }
    return true;
  }
  // The umask may have narrowed the mode given to open().
  (void)::fchmod(out.get(), old.st_mode & 07777);
  if (::geteuid() == 0) (void)::fchown(out.get(), old.st_uid, old.st_gid);
  if (!WriteAll(out.get(), text) || ::fdatasync(out.get()) != 0 || !out.Close()) {
    std::string why = ErrnoText("cannot write", temp);
    ::unlink(temp.c_str());
    return Fail(error, why);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    std::string why = ErrnoText("cannot replace", path);
    ::unlink(temp.c_str());
    return Fail(error, why);
  }
  return true;
}

// Reads the file under an exclusive advisory lock, lets edit change the
// document, and writes it back when edit returns true. The lock lives on the
// file being replaced; a writer that waited for it and then finds the name
// pointing at a newer file starts over on that one.
bool EditFile(std::string_view file, const std::function<bool(IniDocument&)>& edit,
              std::string* error) {
  std::string path = WriteTarget(file);
  if (path.empty()) return Fail(error, "no file name given");
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct stat before;
    bool existed = ::stat(path.c_str(), &before) == 0;
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) return Fail(error, ErrnoText("cannot open", path));
    int lock;
    do {
      lock = ::flock(fd.get(), LOCK_EX);
    } while (lock != 0 && errno == EINTR);
    if (lock != 0) return Fail(error, ErrnoText("cannot lock", path));
    struct stat held;
    struct stat named;
    if (::fstat(fd.get(), &held) != 0) return Fail(error, ErrnoText("cannot examine", path));
    if (::stat(path.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
        named.st_dev != held.st_dev) {
      continue;  // replaced by another writer meanwhile
    }
    std::string text;
    if (!ReadAll(fd.get(), text)) return Fail(error, ErrnoText("cannot read", path));
    IniDocument document(text);
    if (!edit(document)) {
      // Nothing to change; a file this call created is removed again.
      if (!existed && held.st_size == 0) ::unlink(path.c_str());
      return true;
    }
    if (ReplaceFile(path, fd.get(), held, document.Text(), error)) return true;
    if (!existed && held.st_size == 0) ::unlink(path.c_str());
    return false;
  }
  return Fail(error, Format("cannot lock %s: it keeps being replaced", path.c_str()));
}

}  // namespace

std::string GetProfileString(std::string_view file, std::string_view section,
                             std::string_view key, std::string_view default_value) {
  std::optional<std::string> value = ReadDocument(file).Value(section, key);
  return value ? *value : std::string(default_value);
}

bool WriteProfileString(std::string_view file, std::string_view section,
                        std::string_view key, std::string_view value, std::string* error) {
  std::string bad = IniDocument::CheckNames(section, key, value);
  if (!bad.empty()) {
    return Fail(error, Format("cannot write key \"%.*s\" of section \"%.*s\" in %.*s: %s",
                              static_cast<int>(key.size()), key.data(),
                              static_cast<int>(section.size()), section.data(),
                              static_cast<int>(file.size()), file.data(), bad.c_str()));
  }
  return EditFile(file, [&](IniDocument& document) {
    document.Set(section, key, value);
    return true;
  }, error);
}

bool DeleteProfileKey(std::string_view file, std::string_view section, std::string_view key,
                      std::string* error) {
  if (ReadDocument(file).Value(section, key) == std::nullopt) return true;
  return EditFile(file, [&](IniDocument& document) { return document.Remove(section, key); },
                  error);
}

std::vector<std::string> GetProfileKeys(std::string_view file, std::string_view section) {
  std::vector<std::string> keys;
  IniDocument document = ReadDocument(file);
  std::optional<size_t> header = document.FindSection(section);
  if (!header) return keys;
  size_t end = document.SectionEnd(*header);
  for (size_t i = *header + 1; i < end; ++i) {
    const IniDocument::Line& line = document.lines()[i];
    if (line.kind == IniDocument::LineKind::kKey && document.FindKey(*header, line.name) == i) {
      keys.push_back(line.name);
    }
  }
  return keys;
}

std::vector<ProfileEntry> GetProfileEntries(std::string_view file, std::string_view section) {
  std::vector<ProfileEntry> entries;
  IniDocument document = ReadDocument(file);
  std::optional<size_t> header = document.FindSection(section);
  if (!header) return entries;
  size_t end = document.SectionEnd(*header);
  for (size_t i = *header + 1; i < end; ++i) {
    const IniDocument::Line& line = document.lines()[i];
    if (line.kind == IniDocument::LineKind::kKey) {
      entries.push_back({line.name, IniDocument::StripQuotes(line.value)});
    }
  }
  return entries;
}

std::vector<std::string> GetProfileSectionLines(std::string_view file,
                                                std::string_view section) {
  std::vector<std::string> lines;
  IniDocument document = ReadDocument(file);
  std::optional<size_t> header = document.FindSection(section);
  if (!header) return lines;
  size_t end = document.SectionEnd(*header);
  for (size_t i = *header + 1; i < end; ++i) lines.push_back(document.lines()[i].text);
  return lines;
}

std::vector<std::string> GetProfileSectionNames(std::string_view file) {
  std::vector<std::string> names;
  IniDocument document = ReadDocument(file);
  for (const IniDocument::Line& line : document.lines()) {
    if (line.kind == IniDocument::LineKind::kSection) names.push_back(line.name);
  }
  return names;
}

}  // namespace vigilo
