// RAII ownership of ODBC handles and the one translator of ODBC diagnostics
// into DbException, shared by the ODBC backend and the data-source catalogue.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string_view>

#include "platform/sql/database.h"

namespace vigilo::sql {

// One ODBC handle (environment, connection or statement), freed on
// destruction. A connection handle that was connected is disconnected first.
class OdbcHandle {
 public:
  OdbcHandle() = default;
  // Allocates a handle of `type` under `parent` (SQL_NULL_HANDLE for an
  // environment). Throws DbException when the driver manager refuses.
  OdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
  ~OdbcHandle();
  OdbcHandle(OdbcHandle&& other) noexcept;
  OdbcHandle& operator=(OdbcHandle&& other) noexcept;
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  void MarkConnected() { connected_ = true; }

 private:
  void Reset();
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
  bool connected_ = false;
};

// The exception for a failed call on `handle`: every diagnostic record, one
// per line, "TEXT (SQLSTATE XXXXX, native error N)"; `context` stands in
// when the driver left no record.
DbException OdbcError(const OdbcHandle& handle, std::string_view context);

// Throws OdbcError unless rc is SQL_SUCCESS or SQL_SUCCESS_WITH_INFO.
void CheckOdbc(SQLRETURN rc, const OdbcHandle& handle, std::string_view context);

// A new environment handle set to ODBC 3 behaviour.
OdbcHandle NewOdbcEnvironment();

}  // namespace vigilo::sql
