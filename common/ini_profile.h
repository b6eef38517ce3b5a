// INI profile functions: the keyed settings files of the installation
// (vigtab.ini, morvik.ini, project, table and report INI files).
//
// They behave as the private-profile functions the files were made for: section
// and key names compare without regard to case, the first matching section and
// the first matching key in it win, names and values are trimmed of white space,
// a value enclosed in matching quotes loses them, and lines starting with ";"
// are comments. Lines without "=" inside a section are not keys. Files of any
// line length and with "\r\n" or "\n" line ends are read; a file name whose
// letter case differs from the one on disk finds the file (see ResolveFileCase).
//
// A write changes or adds one line and keeps every other line byte for byte and
// in order; a missing file or section is created. The file is replaced
// atomically (a temporary file in the same directory, then rename) with its
// permissions kept, and concurrent writers of one file take turns through an
// advisory lock, so a reader never sees a half-written file and no write is
// lost. Every function reads the file anew; nothing is cached.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vigilo {

// The value of key in section, or default_value when the file, the section or
// the key is missing or the file cannot be read. Only the first matching
// section is searched.
std::string GetProfileString(std::string_view file, std::string_view section,
                             std::string_view key, std::string_view default_value = "");

// Sets key in section to value. Returns false, with the reason in *error when
// given, when the file cannot be read or written or when a name or the value
// would break the file's line structure (a line break, "=" in a key, "]" in a
// section name, an empty section or key name). On failure the file is unchanged.
bool WriteProfileString(std::string_view file, std::string_view section,
                        std::string_view key, std::string_view value,
                        std::string* error = nullptr);

// Removes the first matching key line of the first matching section. Removing a
// key that is not there succeeds without writing the file.
bool DeleteProfileKey(std::string_view file, std::string_view section,
                      std::string_view key, std::string* error = nullptr);

// Key names of the first matching section in file order, each name once (in
// the spelling of its first line), as the section's reads see them.
std::vector<std::string> GetProfileKeys(std::string_view file, std::string_view section);

// Key and value of every key line of the first matching section in file order,
// trimmed as GetProfileString trims them (duplicates included).
struct ProfileEntry {
  std::string key;
  std::string value;
};
std::vector<ProfileEntry> GetProfileEntries(std::string_view file, std::string_view section);

// Every line of the first matching section after its header, up to the next
// section header, without line ends and untouched (comments and blank lines
// included). Empty when the section is missing.
std::vector<std::string> GetProfileSectionLines(std::string_view file,
                                                std::string_view section);

// Names of all sections in file order.
std::vector<std::string> GetProfileSectionNames(std::string_view file);

}  // namespace vigilo
