// File paths of the installation: joining, splitting and letter-case matching.
//
// Paths are joined with "/". Path values read from INI files may hold "\" or "/";
// both count as separators. The installation's files are named by the system in
// one letter case ("VIGTAB.INI", "Vigtab.dbf") while the disk may hold another,
// so names are matched without regard to case when the exact name is missing.
#pragma once

#include <string>
#include <string_view>

namespace vigilo {

// dir + "/" + name, without doubling a separator that dir already ends with
// ("/" or "\"). An empty dir gives name unchanged.
std::string JoinPath(std::string_view dir, std::string_view name);

// Position of the last "\" or "/" in path, or npos.
size_t LastSeparator(std::string_view path);

// The part before / after the last separator. A path without a separator has an
// empty directory part and is all name.
std::string DirectoryPart(std::string_view path);
std::string NamePart(std::string_view path);

// Turns every "\" into "/" and removes trailing separators (a lone "/" stays).
// For path values read from INI files; never apply it to texts that are data,
// such as project keys.
std::string NormalizePath(std::string_view path);

// Returns path with each component that does not exist in the exact letter case
// replaced by the entry of that directory whose name differs only in case (the
// first such entry in name order, so the choice is repeatable). Components
// without any match stay as given, so the result names a file to create when
// nothing matches. An existing path comes back unchanged, without reading any
// directory.
std::string ResolveFileCase(std::string_view path);

}  // namespace vigilo
