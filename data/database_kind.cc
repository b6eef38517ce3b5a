#include "data/database_kind.h"

#include "common/format.h"
#include "platform/sql/sql_text.h"

namespace vigilo {

bool IsKnownKind(long kind) { return kind >= 0 && kind <= 3; }

std::string_view LoginSectionName(long kind) {
  switch (kind) {
    case kSqlServerKind: return "Microsoft SQL Server";
    case kOracleKind: return "Oracle";
    case kSybaseKind: return "Sybase";
    default: return "";
  }
}

std::string_view KindDisplayName(long kind) {
  switch (kind) {
    case kDbaseKind: return "ORVIK Database";
    case kSqlServerKind: return "Microsoft SQL Server";
    case kOracleKind: return "Oracle Database";
    case kSybaseKind: return "Sybase Database";
    default: return "";
  }
}

std::string_view KindDisplayNames() {
  return "ORVIK Database,Microsoft SQL Server,Oracle Database,Sybase Database";
}

std::string QualifiedName(long kind, std::string_view project, std::string_view name) {
  std::string p(project), n(name);
  switch (kind) {
    case kDbaseKind: return n;
    case kSqlServerKind:
    case kSybaseKind: return Format("%s..%s", p.c_str(), n.c_str());
    case kOracleKind: return Format("%s.%s", p.c_str(), n.c_str());
    default: return "";
  }
}

std::string ProjectListQuery(long kind) {
  switch (kind) {
    case kSqlServerKind:
    case kSybaseKind: return "select projname from orvik_master..projlist";
    case kOracleKind: return "select projname from orvik_master.projlist";
    default: return "";
  }
}

std::string ProjectDatabaseQuery(long kind, std::string_view project) {
  std::string quoted = QuoteSqlText(project);
  switch (kind) {
    case kSqlServerKind:
    case kSybaseKind:
      return Format("select dbname from orvik_master..projlist where projname = '%s'",
                    quoted.c_str());
    case kOracleKind:
      return Format("select dbname from orvik_master.projlist where projname = '%s'",
                    quoted.c_str());
    default: return "";
  }
}

}  // namespace vigilo
