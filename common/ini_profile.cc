#include "common/ini_profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>

#include "common/file_system.h"
#include "common/format.h"
#include "common/ini_document.h"
#include "common/paths.h"

namespace vigilo {
namespace {

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

IniDocument ReadDocument(std::string_view file) {
  std::string text;
  if (!ReadFile(ResolveFileCase(file), text)) return IniDocument();
  return IniDocument(text);
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
  switch (ReplaceFileAtomically(path, text, old.st_mode & 07777, error, &old)) {
    case ReplaceResult::kDone:
      return true;
    case ReplaceResult::kFailed:
      return false;
    case ReplaceResult::kNoTemporaryFile:
      break;
  }
  if (Files().Truncate(locked_fd, 0) != 0 || !WriteAll(locked_fd, text) ||
      Files().Sync(locked_fd) != 0) {
    return Fail(error, FileErrorText(path, "cannot write", errno));
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
    UniqueFd fd(Files().Open(path, O_RDWR | O_CREAT, 0666));
    if (!fd.valid()) return Fail(error, FileErrorText(path, "cannot open", errno));
    int lock;
    do {
      lock = Files().Flock(fd.get(), LOCK_EX);
    } while (lock != 0 && errno == EINTR);
    if (lock != 0) return Fail(error, FileErrorText(path, "cannot lock", errno));
    struct stat held;
    struct stat named;
    if (Files().Stat(fd.get(), &held) != 0) {
      return Fail(error, FileErrorText(path, "cannot examine", errno));
    }
    if (::stat(path.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
        named.st_dev != held.st_dev) {
      continue;  // replaced by another writer meanwhile
    }
    std::string text;
    if (!ReadAll(fd.get(), text)) return Fail(error, FileErrorText(path, "cannot read", errno));
    IniDocument document(text);
    if (!edit(document)) {
      // Nothing to change; a file this call created is removed again.
      if (!existed && held.st_size == 0) Files().Unlink(path);
      return true;
    }
    if (ReplaceFile(path, fd.get(), held, document.Text(), error)) return true;
    if (!existed && held.st_size == 0) Files().Unlink(path);
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
