#include "service/project_source.h"

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "service/project.h"
#include "service/server_paths.h"

namespace vigilo {
namespace {

// A project's source as far as the service needs it to reach a dBase-file
// project: its directory from morvik.ini and the dBase driver's connection
// string. Client-server projects get the server directory and no connection
// string here (no login information is read), so they are listed but never
// opened.
ProjectSource ResolveBasicProjectSource(int32_t db_type, const std::string& dsn,
                                        const std::string& project_name,
                                        const CServerPaths& settings) {
  (void)dsn;
  ProjectSource source;
  if (db_type == 0) {
    source.project_dir = NormalizePath(
        GetProfileString(settings.orvik_ini_path, "Orvik Dsn", project_name));
    source.connection_string =
        Format("Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
               source.project_dir.c_str());
  } else {
    source.project_dir = DirectoryPart(settings.orvik_ini_path);
  }
  source.project_ini_path = JoinPath(source.project_dir, project_name + ".INI");
  return source;
}

// A table's directory and INI file; the table is found in its project's
// directory.
TableSource ResolveBasicTableSource(const std::string& table_name, const CProject& project) {
  TableSource source;
  source.table_dir = project.source().project_dir;
  source.ini_path = JoinPath(source.table_dir, table_name + ".INI");
  return source;
}

}  // namespace

SourceResolvers DefaultSourceResolvers() {
  return SourceResolvers{ResolveBasicProjectSource, ResolveBasicTableSource};
}

}  // namespace vigilo
