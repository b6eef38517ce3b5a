// Where a watched project's data lives: its key, its directory, its project
// INI file and the connection string the project's database is opened with.
//
// A dBase project (kind 0) lives in the directory that morvik.ini names for it
// in section "Orvik Dsn" and is opened through the dBase driver; a
// client-server project (kinds 1 to 3) keeps its INI files in the server
// directory and is opened through its ODBC data source with the login
// information of the data source's server. CProject is built from these.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "data/server_paths.h"

namespace vigilo {

struct ProjectSource {
  std::string key;                // "%ld\\%s\\%s" of kind, data source, project
  std::string directory;          // project directory ("/"-joined)
  std::string ini_path;           // <directory>/<project>.INI, letter case resolved
  std::string connection_string;  // empty when no login information was found
};

// The project key, e.g. "1\BUGS\Proj". Compared exactly (letter case counts).
std::string ProjectKey(long kind, std::string_view dsn, std::string_view project);

// Resolves a project's data source (the rule service's way):
//  - kinds other than 0: directory = directory of morvik.ini; connection
//    string "DSN=%s;UID=%s;PWD=%s;" when the login information of the data
//    source's server is found, else empty;
//  - kind 0: directory = "Orvik Dsn" value of the project in morvik.ini;
//    connection string
//    "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;".
// Values holding ";", "{" or "}" are written in braces so they stay one value.
ProjectSource ResolveProjectSource(const CServerPaths& paths, long kind, std::string_view dsn,
                                   std::string_view project);

// The connection string of the rule manager's engine copy for kinds 1 to 3:
// "ODBC;DSN=%s;UID=%s;PWD=%s;". On failure std::nullopt and *message holds
// "%s server login information does not exists in %s!\n\nSetup the DBMS Login
// information through Orvik." (server name, morvik.ini path).
std::optional<std::string> ManagerConnectionString(const CServerPaths& paths, long kind,
                                                   std::string_view dsn, std::string* message);

// The server name of an ODBC data source: its SERVER key in odbc.ini, else its
// ServerName key; std::nullopt when neither is set.
std::optional<std::string> GetDsnServerName(std::string_view dsn);

// The directory of a dBase project: its "Orvik Dsn" value in morvik.ini with
// separators made "/" (empty when absent).
std::string DbaseProjectDirectory(const CServerPaths& paths, std::string_view project);

// A value for an ODBC connection string: as it is, or in braces (with "}"
// doubled) when it holds ";", "{" or "}" or begins with a blank.
std::string ConnectionValue(std::string_view value);

}  // namespace vigilo
