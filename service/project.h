// CProject: one watched project (one database), keyed by kind, data source and
// project name, with the tables its rules watch.
//
// Built at rule loading from the project's resolved source (key, directory,
// project INI file, connection string). Owns its database connection and its
// CProjectTable objects; the connection is opened when needed and closed
// after each tick when the firing interval is longer than 90 seconds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sql/database.h"
#include "data/project_source.h"
#include "service/source_resolvers.h"
#include "service/project_table.h"

namespace vigilo {

class CMailSender;
class CServerPaths;
class LogStream;

class CProject {
 public:
  // Sets the key "%ld\%s\%s" (kind, data source, project) and the pointers;
  // the source comes resolved (its key is not relied on).
  CProject(int32_t db_type, std::string dsn, std::string project_name,
           ProjectSource source, CServerPaths* settings, CMailSender* mail_sender,
           LogStream* log);
  virtual ~CProject();  // closes the database, then deletes the tables
  CProject(const CProject&) = delete;
  CProject& operator=(const CProject&) = delete;

  // Returns 1 when the database is open afterwards, 0 when the connection
  // string is empty or the open failed. The driver's error is logged once
  // per outage: the failures that follow it, tick after tick, are not.
  int OpenProject();
  // Closes the database if it is open; returns 1.
  int CloseProject();
  // Runs every table's update and notification rules and writes its last
  // poll time; returns 1.
  int ProcessProject();

  // One firing tick of the project: a kept connection that the driver knows
  // to be gone is closed; the project is opened (skipped when it cannot
  // be); rules waiting for the database are prepared; every table runs. A
  // connection lost during the tick is closed and the project opened and run
  // once more at once (the server is often back already; flags keep rules
  // that ran from acting twice). The loss is logged once per outage. Closes
  // the connection afterwards unless keep_connection.
  void FireTick(bool keep_connection);

  // Finds or creates the table the rule names and gives it the rule. A new
  // table whose flag table cannot be made ready is dropped with the rule.
  void AddRuleToProject(const CRule& record);

  // Keeps a rule whose project could not be opened at load: it is prepared
  // (AddRuleToProject) at the first tick at which the project opens.
  void AddWaitingRule(const CRule& record) { waiting_rules_.push_back(record); }
  // RuleIds of the rules still waiting, in rule-table order.
  std::vector<int32_t> WaitingRuleIds() const;

  int32_t db_type() const { return db_type_; }
  const std::string& key() const { return key_; }
  const std::string& name() const { return name_; }
  const std::string& dsn() const { return dsn_; }
  const ProjectSource& source() const { return source_; }
  Database& database() { return database_; }
  const std::vector<std::unique_ptr<CProjectTable>>& tables() const { return tables_; }

  CMailSender* mail_sender() const { return mail_sender_; }
  CServerPaths* settings() const { return settings_; }
  LogStream* log() const { return log_; }

  // How a table's names are resolved; set by the worker before rules load.
  void SetTableResolver(TableNamesResolver resolver) { table_resolver_ = std::move(resolver); }
  // False for a preview that must change nothing: a missing flag table is
  // then noted on the table (has_flag_table) instead of being created.
  void SetCreatesFlagTables(bool creates) { creates_flag_tables_ = creates; }

 private:
  int32_t db_type_;
  std::string key_;
  std::string name_;
  std::string dsn_;
  ProjectSource source_;
  Database database_;
  CMailSender* mail_sender_;
  CServerPaths* settings_;
  LogStream* log_;
  std::vector<std::unique_ptr<CProjectTable>> tables_;
  std::vector<CRule> waiting_rules_;
  // Between the first failure to reach the database and the next open that
  // works: nothing more is logged about it.
  bool outage_ = false;

  void NoteConnectionLost();
  void PrepareWaitingRules();
  TableNamesResolver table_resolver_ = ResolveTableNames;
  bool creates_flag_tables_ = true;
};

// Project name of a DbTable value: the text before its last backslash (the
// whole text when it has no backslash after the first character); table name:
// the text after the last backslash (the whole text when it has none).
std::string ProjectNameOf(const std::string& db_table);
std::string TableNameOf(const std::string& db_table);

}  // namespace vigilo
