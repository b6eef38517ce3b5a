// Rule loading of the worker: the rule table read through the dBase driver
// and turned into projects, tables and rules in rule-table order.
#include <string>

#include "common/format.h"
#include "common/paths.h"
#include "data/log_stream.h"
#include "data/rule_table.h"
#include "data/server_paths.h"
#include "platform/sql/database.h"
#include "service/read_thread.h"

namespace vigilo {

int CReadThread::LoadRules(const std::string& rule_table_path) {
  if (!projects) projects.emplace();
  Database database;
  try {
    if (!database.Open(RuleTableConnection(rule_table_path), Database::kNoOdbcDialog)) {
      return 0;
    }
  } catch (const DbException&) {
    return 0;  // a rule table that cannot be opened is reported by the caller
  }

  const std::string query = LoadableRulesQuery(rule_table_path, RuleOrder::kByKind);
  int loaded = 0;
  try {
    Recordset rows;
    rows.Open(database, query);
    if (rows.IsEOF()) {
      startup_message = "No rules are defined. Please create the rules and then start the server";
      return 0;
    }
    loaded = 1;
    for (; !rows.IsEOF(); rows.MoveNext()) {
      AddRule(CRule(RuleRecordOfRow(rows)));
    }
    rows.Close();
    database.Close();
    return 1;
  } catch (const DbException& error) {
    const std::string message = DriverMessage(error);
    error_detail = Format("ODBC Reported Error (While Loading Rules) : %s\r\n%s",
                          message.c_str(), query.c_str());
    LogMessage(log, error_detail, /*quiet=*/true);
    startup_message = Format("ODBC Reported Error (While Loading Rules) : %s", message.c_str());
    return loaded;
  }
}

void CReadThread::AddRule(const CRule& record) {
  CProject* project =
      FindOrCreateProject(record.db_type, record.dsn, ProjectNameOf(record.db_table));
  if (project == nullptr) return;
  // A project that cannot be opened now keeps its place (it is listed and
  // tried at every tick) and its rules wait for the first tick it opens at.
  if (project->OpenProject()) {
    project->AddRuleToProject(record);
  } else {
    project->AddWaitingRule(record);
  }
}

CProject* CReadThread::FindOrCreateProject(int32_t db_type, const std::string& dsn,
                                           const std::string& project_name) {
  if (!projects) return nullptr;
  const std::string key = ProjectKey(db_type, dsn, project_name);
  for (const auto& project : *projects) {
    if (project->key() == key) return project.get();
  }
  if (!settings) settings = std::make_unique<CServerPaths>();
  ProjectSource source = resolvers.project
                             ? resolvers.project(*settings, db_type, dsn, project_name)
                             : ProjectSource();
  auto project = std::make_unique<CProject>(db_type, dsn, project_name, std::move(source),
                                            settings.get(), mail_sender, log);
  project->SetTableResolver(resolvers.table);
  project->SetCreatesFlagTables(creates_flag_tables);
  projects->push_back(std::move(project));
  return projects->back().get();
}

}  // namespace vigilo
