#include "platform/sql/odbc_connection.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/text.h"
#include "platform/sql/connection_string.h"

namespace vigilo::sql {

namespace {

constexpr int kStopPollMs = 20;

// Cancels one executing statement from a thread of its own once the stop
// check says so; Finish ends the watch before the statement's handle is
// looked at or freed. A cancel that comes as the statement completes closes
// its result instead, which the caller, stopping anyway, sees as an error.
class StatementWatch {
 public:
  StatementWatch(const std::function<bool()>& check, SQLHSTMT stmt) {
    if (!check) return;
    watcher_ = std::thread([this, check, stmt] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!done_) {
        if (check()) {
          SQLCancel(stmt);
          return;
        }
        woken_.wait_for(lock, std::chrono::milliseconds(kStopPollMs));
      }
    });
  }
  ~StatementWatch() { Finish(); }
  StatementWatch(const StatementWatch&) = delete;
  StatementWatch& operator=(const StatementWatch&) = delete;

  void Finish() {
    if (!watcher_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    woken_.notify_one();
    watcher_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  bool done_ = false;
  std::thread watcher_;
};

// Rows of one executed statement; each row's columns are read whole when
// the row is fetched, so that callers may read them in any order.
class OdbcCursor : public Cursor {
 public:
  OdbcCursor(std::shared_ptr<void> session, OdbcHandle stmt)
      : session_(std::move(session)), stmt_(std::move(stmt)) {
    SQLSMALLINT count = 0;
    CheckOdbc(SQLNumResultCols(stmt_.get(), &count), stmt_,
              "Cannot count the result's columns.");
    for (SQLUSMALLINT i = 1; i <= count; ++i) names_.push_back(DescribeName(i));
    values_.resize(names_.size());
    nulls_.resize(names_.size(), true);
  }

  bool Fetch() override {
    if (names_.empty()) return false;
    SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) return false;
    CheckOdbc(rc, stmt_, "Cannot fetch the next row.");
    for (size_t i = 0; i < names_.size(); ++i) ReadColumn(i);
    return true;
  }

  int ColumnCount() const override { return static_cast<int>(names_.size()); }
  std::string ColumnName(int index) const override { return names_[index]; }
  bool IsNull(int index) const override { return nulls_[index]; }
  std::string Text(int index) const override { return values_[index]; }

  std::optional<int64_t> LargestWholeNumber(int index) const override {
    const Shape& shape = shapes_[index];
    switch (shape.type) {
      case SQL_TINYINT: return 127;
      case SQL_SMALLINT: return 32767;
      case SQL_INTEGER: return 2147483647;
      case SQL_BIGINT: return INT64_MAX;
      case SQL_REAL: return int64_t{1} << 24;
      case SQL_FLOAT:
      case SQL_DOUBLE: return int64_t{1} << 53;
      case SQL_NUMERIC:
      case SQL_DECIMAL: {
        if (shape.size == 0 || shape.size <= static_cast<SQLULEN>(shape.digits)) return std::nullopt;
        const SQLULEN whole_digits = shape.size - static_cast<SQLULEN>(shape.digits);
        if (whole_digits >= 19) return INT64_MAX;
        int64_t largest = 1;
        for (SQLULEN i = 0; i < whole_digits; ++i) largest *= 10;
        return largest - 1;
      }
      default: return std::nullopt;
    }
  }

 private:
  std::string DescribeName(SQLUSMALLINT column) {
    std::vector<SQLCHAR> name(256, 0);
    SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    CheckOdbc(SQLDescribeCol(stmt_.get(), column, name.data(),
                             static_cast<SQLSMALLINT>(name.size()), &length, &type,
                             &size, &digits, &nullable),
              stmt_, "Cannot describe a result column.");
    shapes_.push_back(Shape{type, size, digits});
    if (length >= static_cast<SQLSMALLINT>(name.size())) {
      name.assign(static_cast<size_t>(length) + 1, 0);
      CheckOdbc(SQLDescribeCol(stmt_.get(), column, name.data(),
                               static_cast<SQLSMALLINT>(name.size()), &length,
                               &type, &size, &digits, &nullable),
                stmt_, "Cannot describe a result column.");
    }
    return std::string(reinterpret_cast<char*>(name.data()));
  }

  // Reads a column as text in pieces: SQLGetData returns 01004 (data
  // truncated) while more of the value remains.
  void ReadColumn(size_t index) {
    std::string value;
    std::vector<char> buffer(4096);
    bool is_null = false;
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc = SQLGetData(stmt_.get(), static_cast<SQLUSMALLINT>(index + 1),
                                SQL_C_CHAR, buffer.data(),
                                static_cast<SQLLEN>(buffer.size()), &indicator);
      if (rc == SQL_NO_DATA) break;
      CheckOdbc(rc, stmt_, "Cannot read a result column.");
      if (indicator == SQL_NULL_DATA) {
        is_null = true;
        break;
      }
      size_t piece = (indicator == SQL_NO_TOTAL ||
                      indicator >= static_cast<SQLLEN>(buffer.size()))
                         ? buffer.size() - 1
                         : static_cast<size_t>(indicator);
      value.append(buffer.data(), piece);
      if (rc == SQL_SUCCESS) break;
      if (piece < buffer.size() - 1) break;  // info without truncation
    }
    values_[index] = std::move(value);
    nulls_[index] = is_null;
  }

  std::shared_ptr<void> session_;  // freed after stmt_ (declared before it)
  OdbcHandle stmt_;
  // The column's SQL type, size and decimal digits as the driver describes it.
  struct Shape {
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
  };
  std::vector<std::string> names_;
  std::vector<Shape> shapes_;
  std::vector<std::string> values_;
  std::vector<bool> nulls_;
};

}  // namespace

OdbcConnection::OdbcConnection(const std::string& connection_string)
    : session_(std::make_shared<Session>()) {
  session_->env = NewOdbcEnvironment();
  session_->dbc = OdbcHandle(SQL_HANDLE_DBC, session_->env.get());
  OdbcHandle& dbc = session_->dbc;
  std::string text = DriverConnectString(connection_string);
  SQLCHAR out[1024];
  SQLSMALLINT out_length = 0;
  SQLRETURN rc = SQLDriverConnect(
      dbc.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
      static_cast<SQLSMALLINT>(text.size()), out, sizeof out, &out_length,
      SQL_DRIVER_NOPROMPT);
  CheckOdbc(rc, dbc, "Unable to connect to the data source.");
  dbc.MarkConnected();
  ReadLiteralsAsStandard();
}

void OdbcConnection::ReadLiteralsAsStandard() {
  // Statements quote a value by doubling its apostrophes alone. A server
  // that also reads a backslash as an escape would let a value's "\'" end
  // its literal early, so such servers are told, per connection, to read
  // literals as the SQL standard does.
  SQLCHAR name[128] = {0};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(session_->dbc.get(), SQL_DBMS_NAME, name, sizeof name, &length))) {
    return;
  }
  const std::string dbms(reinterpret_cast<const char*>(name));
  if (StartsWithNoCase(dbms, "PostgreSQL")) {
    Execute("SET standard_conforming_strings = on");
  } else if (StartsWithNoCase(dbms, "MySQL") || StartsWithNoCase(dbms, "MariaDB")) {
    Execute("SET SESSION sql_mode = CONCAT(@@SESSION.sql_mode, ',NO_BACKSLASH_ESCAPES')");
  }
}

OdbcHandle OdbcConnection::Run(const std::string& statement, bool* no_data) {
  OdbcHandle stmt(SQL_HANDLE_STMT, session_->dbc.get());
  StatementWatch watch(stop_check_, stmt.get());
  SQLRETURN rc = SQLExecDirect(stmt.get(),
                               reinterpret_cast<SQLCHAR*>(
                                   const_cast<char*>(statement.c_str())),
                               static_cast<SQLINTEGER>(statement.size()));
  watch.Finish();
  *no_data = rc == SQL_NO_DATA;
  if (!*no_data) CheckOdbc(rc, stmt, "The statement failed.");
  return stmt;
}

bool OdbcConnection::IsDead() const {
  SQLUINTEGER dead = SQL_CD_FALSE;
  const SQLRETURN rc =
      SQLGetConnectAttr(session_->dbc.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

long OdbcConnection::Execute(const std::string& statement) {
  bool no_data = false;
  OdbcHandle stmt = Run(statement, &no_data);
  if (no_data) return 0;
  SQLLEN rows = -1;
  if (!SQL_SUCCEEDED(SQLRowCount(stmt.get(), &rows))) rows = -1;
  return static_cast<long>(rows);
}

namespace {

// Starts a transaction on the connection (autocommit off). End() ends it and
// goes back to one transaction per statement whatever happens, ending the
// transaction first, as a driver may refuse the switch inside one.
SQLRETURN BeginTransaction(SQLHDBC dbc) {
  return SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                           reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
}

SQLRETURN EndTransaction(SQLHDBC dbc, SQLSMALLINT completion) {
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc, completion);
  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  return rc;
}

}  // namespace

long OdbcConnection::ExecuteForEach(const std::string& statement,
                                    const std::vector<int64_t>& values, size_t* done) {
  *done = 0;
  if (values.empty()) return 0;
  SQLHDBC dbc = session_->dbc.get();
  OdbcHandle stmt(SQL_HANDLE_STMT, dbc);
  CheckOdbc(SQLPrepare(stmt.get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.c_str())),
                       static_cast<SQLINTEGER>(statement.size())),
            stmt, "The statement failed.");
  SQLBIGINT value = 0;
  CheckOdbc(SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                             &value, 0, nullptr),
            stmt, "The statement failed.");
  CheckOdbc(BeginTransaction(dbc), session_->dbc, "Cannot start a transaction.");
  auto finish = [dbc](SQLSMALLINT completion) { return EndTransaction(dbc, completion); };
  long changed = 0;
  try {
    for (int64_t v : values) {
      value = static_cast<SQLBIGINT>(v);
      StatementWatch watch(stop_check_, stmt.get());
      const SQLRETURN rc = SQLExecute(stmt.get());
      watch.Finish();
      if (rc != SQL_NO_DATA) {
        CheckOdbc(rc, stmt, "The statement failed.");
        SQLLEN rows = -1;
        if (!SQL_SUCCEEDED(SQLRowCount(stmt.get(), &rows))) rows = -1;
        changed = changed < 0 || rows < 0 ? -1 : changed + static_cast<long>(rows);
      }
      SQLFreeStmt(stmt.get(), SQL_CLOSE);
      ++*done;
    }
  } catch (...) {
    SQLFreeStmt(stmt.get(), SQL_CLOSE);
    finish(SQL_ROLLBACK);
    // The values before the failing one keep their effect, as when each
    // ran alone: they run again, each committed alone.
    const size_t failed = *done;
    *done = 0;
    for (size_t i = 0; i < failed; ++i) {
      value = static_cast<SQLBIGINT>(values[i]);
      const SQLRETURN rc = SQLExecute(stmt.get());
      if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) break;
      SQLFreeStmt(stmt.get(), SQL_CLOSE);
      ++*done;
    }
    throw;
  }
  CheckOdbc(finish(SQL_COMMIT), session_->dbc, "Cannot commit the changes.");
  return changed;
}

long OdbcConnection::ExecuteAsOne(const std::vector<std::string>& statements) {
  if (statements.empty()) return 0;
  if (statements.size() == 1) return Execute(statements.front());
  SQLHDBC dbc = session_->dbc.get();
  CheckOdbc(BeginTransaction(dbc), session_->dbc, "Cannot start a transaction.");
  auto finish = [dbc](SQLSMALLINT completion) { return EndTransaction(dbc, completion); };
  long changed = 0;
  try {
    for (const std::string& statement : statements) {
      const long rows = Execute(statement);
      changed = changed < 0 || rows < 0 ? -1 : changed + rows;
    }
  } catch (...) {
    finish(SQL_ROLLBACK);
    throw;
  }
  CheckOdbc(finish(SQL_COMMIT), session_->dbc, "Cannot commit the changes.");
  return changed;
}

std::unique_ptr<Cursor> OdbcConnection::Query(const std::string& statement) {
  bool no_data = false;
  OdbcHandle stmt = Run(statement, &no_data);
  return std::make_unique<OdbcCursor>(session_, std::move(stmt));
}

}  // namespace vigilo::sql
