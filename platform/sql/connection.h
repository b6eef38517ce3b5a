// The backend contract behind Database and Recordset: one Connection per open
// database, one Cursor per open result. The ODBC backend and the embedded
// dBase engine implement it; tests may wrap it to inject failures.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vigilo::sql {

// The rows of one statement, read forward only.
class Cursor {
 public:
  virtual ~Cursor() = default;
  // Moves to the next row (the first one on the first call). Returns false
  // when there is no further row. Throws DbException on a driver error.
  virtual bool Fetch() = 0;
  virtual int ColumnCount() const = 0;
  virtual std::string ColumnName(int index) const = 0;
  // The current row's value; REQUIRES: the last Fetch returned true and
  // 0 <= index < ColumnCount().
  virtual bool IsNull(int index) const = 0;
  virtual std::string Text(int index) const = 0;
  // The largest whole number the column can hold, as far as the backend
  // knows its type; std::nullopt when it does not know or the column holds
  // no numbers.
  virtual std::optional<int64_t> LargestWholeNumber(int /*index*/) const { return std::nullopt; }
};

// One open connection.
class Connection {
 public:
  virtual ~Connection() = default;
  // Runs a statement that returns no rows; returns the rows changed (-1 when
  // unknown). Throws DbException.
  virtual long Execute(const std::string& statement) = 0;
  // Runs a statement holding one parameter marker "?" (outside quotes) once
  // for each value, in order; returns the rows changed in all (-1 when
  // unknown). *done receives how many values ran to completion, also when
  // it throws DbException. This default runs each as its own statement with
  // the value written in; a backend that can prepares it once and writes
  // the whole batch under one lock.
  virtual long ExecuteForEach(const std::string& statement, const std::vector<int64_t>& values,
                              size_t* done);
  // Runs statements that return no rows, in order, as one transaction: when
  // one fails, none keeps its effect and DbException is thrown. Returns the
  // rows changed in all (-1 when unknown). This default runs each through
  // Execute, so those before a failing one keep their effect; only a
  // backend that overrides it with a transaction is all or nothing.
  virtual long ExecuteAsOne(const std::vector<std::string>& statements);
  // Runs a statement and returns its rows, before the first one. Throws
  // DbException.
  virtual std::unique_ptr<Cursor> Query(const std::string& statement) = 0;
  virtual bool IsDbase() const = 0;
  // Whether the driver knows the connection to be gone, asked without a
  // round trip to the server (false when the driver cannot tell).
  virtual bool IsDead() const { return false; }
  // A check the backend makes again and again while a statement runs; once
  // it returns true the running statement stops and throws DbException. It
  // may be called from another thread than the statement's, so it must be
  // safe to call from any thread (an atomic flag). An empty function removes
  // it. A backend that cannot stop a running statement ignores it.
  virtual void SetStopCheck(std::function<bool()> check) { (void)check; }
};

// Opens the backend the connection string names: the embedded dBase engine
// for the dBase driver, ODBC otherwise (or what a factory set below makes).
// Throws DbException.
std::unique_ptr<Connection> OpenConnection(const std::string& connection_string);

// Opens the default backend, ignoring any factory: for factories that wrap it.
std::unique_ptr<Connection> OpenDefaultConnection(const std::string& connection_string);

// Makes every later Database::Open use `factory` (an empty function restores
// the default). For tests that inject faults into code that opens its own
// connections; not thread-safe against concurrent opens.
using ConnectionFactory =
    std::function<std::unique_ptr<Connection>(const std::string& connection_string)>;
void SetConnectionFactory(ConnectionFactory factory);

}  // namespace vigilo::sql
