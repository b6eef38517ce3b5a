// The one database interface of the system: a connection opened with a
// connection string, direct execution of statements, forward-only result
// sets, and one exception type for every database error.
//
// Two backends stand behind it, chosen by the connection string when the
// connection opens: a connection string that names the dBase driver
// ("Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=DIR;...") goes to the
// embedded dBase SQL engine over the .dbf files of DIR; every other
// connection string goes to ODBC (unixODBC, SQLDriverConnect, no prompting).
//
// Thread-safety: a Database and the Recordsets opened on it belong to one
// thread at a time. Different Database objects may be used on different
// threads at once.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vigilo {

// One diagnostic record of a failed ODBC call.
struct DbDiagnostic {
  std::string sql_state;  // five characters, e.g. "42P01"
  long native_error = 0;
  std::string text;       // the driver's text as given
};

// The one database error. Message() is the driver's text ending in "\n" (the
// system removes that last character when it logs it). For ODBC it holds
// every diagnostic record of the failed call, one per line, each with its
// SQLSTATE and native code; for the embedded engine the engine's message.
class DbException : public std::exception {
 public:
  // A missing final "\n" is added.
  explicit DbException(std::string message, std::string sql_state = {},
                       long native_error = 0);
  DbException(std::string message, std::vector<DbDiagnostic> diagnostics);

  const std::string& Message() const { return message_; }
  // SQLSTATE of the first diagnostic record. The embedded engine gives
  // "HY000", "23000" for a primary-key violation and "42S02" for a table
  // without file; errors of this interface itself (no current row, no such
  // column, database not open) give "".
  const std::string& SqlState() const { return sql_state_; }
  long NativeError() const { return native_error_; }
  // Every diagnostic record of a failed ODBC call, in order (empty for the
  // embedded engine), for callers that show one message per record.
  const std::vector<DbDiagnostic>& Diagnostics() const { return diagnostics_; }
  // Whether the error says the connection itself is gone: SQLSTATE class 08
  // (connection exception, 08S01 communication link failure among them),
  // HYT01 (connection timeout), or the server's own shutdown states 57P01 to
  // 57P03, in any diagnostic record.
  bool IsConnectionLost() const;
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  std::string sql_state_;
  long native_error_;
  std::vector<DbDiagnostic> diagnostics_;
};

namespace sql {
class Connection;  // backend of a Database (platform/sql/connection.h)
class Cursor;      // backend of a Recordset
}  // namespace sql

// A database connection. Not copyable; movable.
class Database {
 public:
  // Open option: never show a driver dialog (the only behaviour here; the
  // value is kept so that callers pass what the system passes).
  static constexpr int kNoOdbcDialog = 8;

  Database();
  ~Database();  // closes
  Database(Database&&) noexcept;
  Database& operator=(Database&&) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Connects with the connection string (ODBC syntax "KEY=value;..."; a
  // leading "ODBC;" is ignored). An open connection is closed first.
  // Returns true when connected. Every failure (driver missing, data source
  // unknown, login refused, DefaultDir missing) throws DbException; false is
  // never returned, as no dialog can be cancelled.
  bool Open(const std::string& connection_string, int options = 0);
  bool IsOpen() const;
  // Closes the connection; harmless when not open. Recordsets opened on it
  // must be closed or destroyed first.
  void Close();

  // Executes a statement that returns no rows. Returns the number of rows
  // changed (0 when none, -1 when the driver does not say). A statement that
  // changes no row is not an error. REQUIRES: IsOpen(). Throws DbException;
  // one that says the connection is gone also closes it (ConnectionLost).
  long ExecuteSQL(const std::string& statement);
  // Executes a statement holding one parameter marker "?" once for each of
  // the values (record numbers), as a batch: prepared once where the backend
  // can. Returns the rows changed in all (-1 when unknown). *done (when
  // given) receives how many values ran to completion, also when it throws;
  // the statement of value (*done) is the one that failed. Throws as
  // ExecuteSQL.
  long ExecuteForEach(const std::string& statement, const std::vector<int64_t>& values,
                      size_t* done = nullptr);

  // Executes statements that return no rows as one transaction where the
  // backend has them (ODBC): when one fails, none keeps its effect. The
  // embedded engine runs them one by one. Returns the rows changed in all
  // (-1 when unknown). Throws as ExecuteSQL.
  long ExecuteAsOne(const std::vector<std::string>& statements);

  // Whether the driver knows the open connection to be gone, asked without
  // a statement (false when not open or when the driver cannot tell).
  bool IsConnectionDead() const;
  // True after a statement failed because the connection is gone
  // (DbException::IsConnectionLost, or the driver says so after the error):
  // the connection was then closed, so that the next Open makes a new one.
  // Cleared by Open.
  bool ConnectionLost() const { return connection_lost_; }
  // The driver's message of that failure (ending in "\n").
  const std::string& LostMessage() const { return lost_message_; }

  // The connection string given to Open ("" when not open).
  const std::string& ConnectionString() const { return connection_string_; }

  // True when the connection runs on the embedded dBase engine.
  bool IsDbase() const;

  // Lets the open connection's backend stop a running statement once check
  // returns true (Connection::SetStopCheck): the statement then throws
  // DbException. The check may be called from any thread. A later Open
  // drops it; nothing happens when not open.
  void SetStopCheck(std::function<bool()> check);

  // The backend; for Recordset and tests.
  sql::Connection& connection();
  // Puts a backend of the caller's behind this Database (closing an open
  // one), for tests that wrap a real backend to make a statement fail.
  void Adopt(std::unique_ptr<sql::Connection> connection,
             std::string connection_string);

 private:
  friend class Recordset;
  // Closes a connection that a failed statement showed to be gone.
  void NoteFailure(const DbException& error);

  std::unique_ptr<sql::Connection> connection_;
  std::string connection_string_;
  bool connection_lost_ = false;
  std::string lost_message_;
};

// A forward-only result set of one statement. Not copyable.
//
// Columns are read as text or as a 32-bit number, by position (0-based) or
// by name (without regard to letter case; the first column of that name).
// A NULL reads as "" and 0. On the embedded dBase engine, character fields
// are read with trailing blanks removed (a blank field is ""); through ODBC
// the text is what the driver gives (CHAR values may be blank-padded).
class Recordset {
 public:
  Recordset();
  ~Recordset();  // closes
  Recordset(Recordset&&) noexcept;
  Recordset& operator=(Recordset&&) noexcept;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Runs the statement and positions on the first row (IsEOF() when there
  // is none). An open result is closed first. REQUIRES: db.IsOpen().
  // Throws DbException.
  void Open(Database& db, const std::string& statement);
  bool IsOpen() const;
  // True when there is no current row. REQUIRES: IsOpen().
  bool IsEOF() const;
  // Moves to the next row. Throws DbException on a driver error or when
  // already at the end.
  void MoveNext();
  void Close();

  int ColumnCount() const;
  // Column name as the backend reports it (psqlODBC reports lower case).
  std::string ColumnName(int index) const;
  // Position of a column by name, or -1.
  int FindColumn(std::string_view name) const;

  // The current row's value of a column. Throw DbException when there is no
  // current row or no such column.
  std::string GetText(int index) const;
  std::string GetText(std::string_view name) const;
  // The leading decimal number of the value (as atol; "12.00" gives 12;
  // non-numeric text gives 0), cut to 32 bits.
  int32_t GetLong(int index) const;
  int32_t GetLong(std::string_view name) const;
  // The leading decimal number of the value, whole (record numbers pass 2^31).
  int64_t GetInt64(int index) const;
  // The largest whole number the column can hold; std::nullopt when the
  // backend does not know (the embedded engine never does).
  std::optional<int64_t> LargestWholeNumber(int index) const;
  bool IsNull(int index) const;

 private:
  int ColumnIndex(std::string_view name) const;  // throws when missing
  void CheckRow(int index) const;                // throws without a value
  std::unique_ptr<sql::Cursor> cursor_;
  bool eof_ = true;
};

// Names of the data sources of odbc.ini (user and system), in the order
// SQLDataSources gives them. Empty when there are none or ODBC fails.
std::vector<std::string> ListDataSources();

// Value of a key of a data source's section of odbc.ini
// (SQLGetPrivateProfileString; section and key compare without regard to
// case). std::nullopt when the data source or key does not exist or the
// value is empty.
std::optional<std::string> ReadDataSourceKey(const std::string& dsn,
                                             const std::string& key);

}  // namespace vigilo
