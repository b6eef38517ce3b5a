// Where the embedded dBase engine finds the file of a table: a plain name is
// NAME.dbf in the connection's DefaultDir; a quoted file name ("dir\FILE.DBF")
// is that file, relative names taken from DefaultDir. Backslashes count as
// separators, and a name that does not exist with its letter case is matched
// against the directory without regard to case (Vigtab.dbf finds VIGTAB.DBF).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vigilo::sql {

// The path a table name stands for, before any letter-case matching.
std::string TablePath(const std::string& default_dir, std::string_view name);

// The existing file a path names, matching each component without regard to
// letter case when the exact one is missing; nullopt when there is none.
std::optional<std::string> ResolveFileCase(const std::string& path);

// The path for a new file: the directory resolved as above (it must exist),
// the file name kept. nullopt when the directory does not exist.
std::optional<std::string> ResolveNewFile(const std::string& path);

}  // namespace vigilo::sql
