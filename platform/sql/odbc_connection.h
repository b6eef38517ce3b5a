// The ODBC backend of Database on unixODBC: SQLDriverConnect without any
// prompting, direct execution, and forward-only results whose columns are
// read whole as text, however long (memo-sized texts included).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/sql/connection.h"
#include "platform/sql/odbc_handle.h"

namespace vigilo::sql {

class OdbcConnection : public Connection {
 public:
  // Connects; throws DbException with the driver manager's or driver's
  // diagnostics when the connection cannot be made.
  explicit OdbcConnection(const std::string& connection_string);

  long Execute(const std::string& statement) override;
  // Prepared once and executed for each value with the value bound, in one
  // transaction: the server parses the statement once and commits once.
  // When one fails, the transaction is rolled back and the values before
  // it run again, each committed alone, so that they keep their effect as
  // the backends without batches keep it.
  long ExecuteForEach(const std::string& statement, const std::vector<int64_t>& values,
                      size_t* done) override;
  // Autocommit off for the statements, one commit; a rollback and
  // autocommit back on when one fails.
  long ExecuteAsOne(const std::vector<std::string>& statements) override;
  std::unique_ptr<Cursor> Query(const std::string& statement) override;
  bool IsDbase() const override { return false; }
  // SQL_ATTR_CONNECTION_DEAD: the driver's own knowledge, no statement.
  bool IsDead() const override;
  // While a statement executes, a watcher thread asks the check every
  // kStopPollMs milliseconds and cancels the statement (SQLCancel) once it
  // says so; the check is therefore called from that thread. The rows of a
  // result are fetched without a watcher: the caller checks between them.
  void SetStopCheck(std::function<bool()> check) override { stop_check_ = std::move(check); }

 private:
  // Allocates a statement and runs `statement` on it; SQL_NO_DATA (a DELETE
  // or UPDATE that changed no row) counts as success.
  OdbcHandle Run(const std::string& statement, bool* no_data);
  // Makes a server that reads backslashes in literals as escapes read them
  // as plain characters. Throws DbException when the server refuses.
  void ReadLiteralsAsStandard();

  // The handles of the connection, shared with the results opened on it,
  // so that a result outliving its Database stays valid.
  struct Session {
    OdbcHandle env;
    OdbcHandle dbc;
  };
  std::shared_ptr<Session> session_;
  std::function<bool()> stop_check_;
};

}  // namespace vigilo::sql
