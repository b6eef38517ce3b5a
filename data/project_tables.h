// The tables a project INI lists: the keys of section "Morvane Orvik" whose
// names hold " Datafile", other than the project's link file and the change
// history, each naming the data file of one table of the project.
//
// This is the one reader of that list; Setup Rules' Project Table and the SQL
// Query's Select Tables both show it. Key names compare without regard to
// case, a data file may be written with "\" or "/" separators, and a table is
// named by its data file's name without the directory and the extension, so a
// dot in a directory name never cuts the name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vigilo {

// The section of the defect-management product's INI files (project and
// table INIs) that names their data files and forms.
inline constexpr const char* kOrvikIniSection = "Morvane Orvik";
// The key naming the project's link file; a project INI without it names no
// project.
inline constexpr const char* kLinkInfoDatafileKey = "LinkInfo Datafile";

struct ProjectIniTable {
  std::string key;        // the INI key, e.g. "Defects Datafile"
  std::string value;      // the data file without its extension, directory kept
  std::string directory;  // the directory part of value; empty when it names none
  std::string table;      // the table name: value without its directory part
};

// The listed tables in file order. A value is read up to 255 characters; a
// directory counts only when its last separator is past the first character
// (a lone leading separator stays part of the name). Entries with an empty
// value are left out. Empty when the file or section cannot be read.
std::vector<ProjectIniTable> ReadProjectIniTables(const std::string& ini_path);

// A data file name without its extension: cut at the last dot of the file
// name when that dot is past the name's first character.
std::string WithoutExtension(std::string_view datafile);

}  // namespace vigilo
