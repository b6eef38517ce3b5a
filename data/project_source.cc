#include "data/project_source.h"

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "data/login_info.h"
#include "platform/sql/database.h"

namespace vigilo {

std::string ProjectKey(long kind, std::string_view dsn, std::string_view project) {
  return Format("%ld\\%s\\%s", kind, std::string(dsn).c_str(), std::string(project).c_str());
}

std::string ConnectionValue(std::string_view value) {
  bool braces = value.find_first_of(";{}") != std::string_view::npos ||
                (!value.empty() && value.front() == ' ');
  if (!braces) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

std::string DbaseProjectDirectory(const CServerPaths& paths, std::string_view project) {
  std::string value = GetProfileString(paths.orvik_ini_path, "Orvik Dsn", project, "");
  return value.empty() ? value : NormalizePath(value);
}

std::optional<std::string> GetDsnServerName(std::string_view dsn) {
  std::string name(dsn);
  if (std::optional<std::string> server = ReadDataSourceKey(name, "SERVER")) return server;
  return ReadDataSourceKey(name, "ServerName");
}

ProjectSource ResolveProjectSource(const CServerPaths& paths, long kind, std::string_view dsn,
                                   std::string_view project) {
  ProjectSource source;
  source.key = ProjectKey(kind, dsn, project);
  if (kind != 0) {
    size_t separator = LastSeparator(paths.orvik_ini_path);
    if (separator != std::string::npos && separator > 0) {
      source.directory = paths.orvik_ini_path.substr(0, separator);
    }
    std::optional<std::string> server = GetDsnServerName(dsn);
    if (std::optional<LoginInfo> login = GetLoginInfo(paths, kind, server)) {
      source.connection_string =
          Format("DSN=%s;UID=%s;PWD=%s;", ConnectionValue(dsn).c_str(),
                 ConnectionValue(login->user).c_str(), ConnectionValue(login->password).c_str());
    }
  } else {
    source.directory = DbaseProjectDirectory(paths, project);
    source.connection_string = Format(
        "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
        ConnectionValue(source.directory).c_str());
  }
  source.ini_path = ResolveFileCase(JoinPath(source.directory, std::string(project) + ".INI"));
  return source;
}

std::optional<std::string> ManagerConnectionString(const CServerPaths& paths, long kind,
                                                   std::string_view dsn, std::string* message) {
  std::optional<std::string> server = GetDsnServerName(dsn);
  std::optional<LoginInfo> login = GetLoginInfo(paths, kind, server);
  if (!login) {
    if (message) {
      *message = Format(
          "%s server login information does not exists in %s!\n\nSetup the DBMS Login "
          "information through Orvik.",
          server.value_or("").c_str(), paths.orvik_ini_path.c_str());
    }
    return std::nullopt;
  }
  return Format("ODBC;DSN=%s;UID=%s;PWD=%s;", ConnectionValue(dsn).c_str(),
                ConnectionValue(login->user).c_str(), ConnectionValue(login->password).c_str());
}

}  // namespace vigilo
