// The flag table of a watched table: the (FormID, RuleID) pairs of records on
// which a rule has acted and that still meet its condition.
#include <string>

#include "common/format.h"
#include "platform/sql/database.h"
#include "service/project.h"
#include "service/project_table.h"

namespace vigilo {

int CProjectTable::EnsureFlagTable() {
  Database& database = project_->database();
  const std::string& from_flag = names_.from_flag;
  try {
    database.ExecuteSQL(Format("SELECT FormID FROM %s", from_flag.c_str()));
    return 1;
  } catch (const DbException&) {
    // Missing: created below.
  }
  std::string target = from_flag;
  const size_t as = from_flag.find(" AS ");
  if (project_->db_type() == 0 && as != std::string::npos && as > 0) {
    target = from_flag.substr(0, as);  // the quoted file name
  }
  const std::string& qualified = names_.qualified_flag;
  const size_t dot = qualified.rfind('.');
  const std::string suffix = dot == std::string::npos ? qualified : qualified.substr(dot + 1);
  const std::string statement = Format(
      "CREATE TABLE %s (FormID INT, RuleID INT, CONSTRAINT pk_%s%s PRIMARY KEY (FormID, "
      "RuleID))",
      target.c_str(), project_->name().c_str(), suffix.c_str());
  try {
    database.ExecuteSQL(statement);
    return 1;
  } catch (const DbException& error) {
    LogDbError(&error, "While Creating Flag Table", statement);
    return 0;
  }
}

}  // namespace vigilo
