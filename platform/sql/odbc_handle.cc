#include "platform/sql/odbc_handle.h"

#include <string>
#include <vector>

#include "common/format.h"

namespace vigilo::sql {

OdbcHandle::OdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
  SQLRETURN rc = SQLAllocHandle(type, parent, &handle_);
  if (!SQL_SUCCEEDED(rc)) {
    handle_ = SQL_NULL_HANDLE;
    throw DbException("SQL allocation error: the ODBC driver manager refused a handle.",
                      "HY001");
  }
}

OdbcHandle::~OdbcHandle() { Reset(); }

OdbcHandle::OdbcHandle(OdbcHandle&& other) noexcept
    : type_(other.type_), handle_(other.handle_), connected_(other.connected_) {
  other.handle_ = SQL_NULL_HANDLE;
  other.connected_ = false;
}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept {
  if (this != &other) {
    Reset();
    type_ = other.type_;
    handle_ = other.handle_;
    connected_ = other.connected_;
    other.handle_ = SQL_NULL_HANDLE;
    other.connected_ = false;
  }
  return *this;
}

void OdbcHandle::Reset() {
  if (handle_ == SQL_NULL_HANDLE) return;
  if (type_ == SQL_HANDLE_DBC && connected_) SQLDisconnect(handle_);
  SQLFreeHandle(type_, handle_);
  handle_ = SQL_NULL_HANDLE;
  connected_ = false;
}

DbException OdbcError(const OdbcHandle& handle, std::string_view context) {
  std::string message;
  std::vector<DbDiagnostic> records;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    // Ask for the length first, so that texts of any length come whole.
    SQLRETURN rc = SQLGetDiagRec(handle.type(), handle.get(), record, state,
                                 &native, nullptr, 0, &length);
    if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(rc)) break;
    std::vector<SQLCHAR> text(static_cast<size_t>(length) + 1, 0);
    rc = SQLGetDiagRec(handle.type(), handle.get(), record, state, &native,
                       text.data(), static_cast<SQLSMALLINT>(text.size()), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    DbDiagnostic diagnostic{reinterpret_cast<char*>(state), static_cast<long>(native),
                            reinterpret_cast<char*>(text.data())};
    message += Format("%s (SQLSTATE %s, native error %ld)\n", diagnostic.text.c_str(),
                      diagnostic.sql_state.c_str(), diagnostic.native_error);
    records.push_back(std::move(diagnostic));
  }
  if (message.empty()) message = std::string(context) + "\n";
  return DbException(std::move(message), std::move(records));
}

void CheckOdbc(SQLRETURN rc, const OdbcHandle& handle, std::string_view context) {
  if (!SQL_SUCCEEDED(rc)) throw OdbcError(handle, context);
}

OdbcHandle NewOdbcEnvironment() {
  OdbcHandle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  CheckOdbc(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                          reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
            env, "Cannot select ODBC version 3.");
  return env;
}

}  // namespace vigilo::sql
