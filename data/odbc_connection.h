// COdbcConnection: the rule manager's connection for catalogue queries on a
// client-server installation (the project list of the master catalogue and
// the database name of a project), and the opening of a project database for
// the rule manager's engine copy.
//
// Connections go through the system's one database interface; login
// information comes from morvik.ini (data/login_info.h). Every failure is
// reported as one message through the Reporter (a message box with the
// program title, or a run-log line while the in-process server runs) and
// returned as false or an empty result.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/server_paths.h"
#include "data/translation_context.h"
#include "platform/sql/database.h"

namespace vigilo {

class COdbcConnection {
 public:
  COdbcConnection(const CServerPaths& paths, Reporter report);
  ~COdbcConnection();
  COdbcConnection(const COdbcConnection&) = delete;
  COdbcConnection& operator=(const COdbcConnection&) = delete;

  // Nothing to allocate with the database interface; kept so callers follow
  // the connection's steps. Always true.
  bool AllocHandles();

  // Connects to a data source of kind 1 to 3 with the login information of
  // its server. Reports "Cannot find %s in %s" (server, morvik.ini path) when
  // there is none, and "Unable to connect to '%s' data source!\n\nDatabase is
  // not running or incorrect login information." when the connection fails;
  // returns false in both cases.
  bool Connect(long kind, std::string_view dsn);

  // Reports a database error as "SQL Error State:%s, Native Error Code: %lX,
  // ODBC Error: %s", one message per diagnostic line.
  void ReportError(const DbException& error);

  // Runs a query and returns the first column of every row; reports a
  // database error and returns std::nullopt. REQUIRES: connected.
  std::optional<std::vector<std::string>> QueryColumn(const std::string& statement);

  // Closes the connection; harmless when not connected. Always true.
  bool Close();

  bool IsConnected() const { return database_.IsOpen(); }
  Database& database() { return database_; }
  const std::string& message() const { return message_; }

 private:
  void Report(const std::string& message);

  const CServerPaths& paths_;
  Reporter report_;
  Database database_;
  std::string message_;  // the last message reported
};

// The project names of the master catalogue ("select projname from
// orvik_master..projlist", one dot for kind 2), trailing blanks removed.
// Connects, queries and closes; empty on any failure (reported).
std::vector<std::string> ListCatalogueProjects(const CServerPaths& paths, Reporter report,
                                               long kind, std::string_view dsn);

// The database name of a project in the master catalogue, or std::nullopt.
std::optional<std::string> CatalogueDatabaseName(const CServerPaths& paths, Reporter report,
                                                 long kind, std::string_view dsn,
                                                 std::string_view project);

// Opens the rule manager engine copy's project database of kind 1 to 3 with
// "ODBC;DSN=%s;UID=%s;PWD=%s;", without driver dialogs while the in-process
// server runs. Reports the missing login information or the driver's message
// (at most 1024 characters) and returns false on failure.
bool OpenProjectDatabase(Database& database, const CServerPaths& paths, const Reporter& report,
                         long kind, std::string_view dsn, bool in_process_server);

}  // namespace vigilo
