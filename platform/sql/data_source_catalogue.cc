// The data-source catalogue of odbc.ini: enumeration with SQLDataSources and
// key look-up with SQLGetPrivateProfileString (declared in database.h).
#include <odbcinst.h>

#include <vector>

#include "platform/sql/database.h"
#include "platform/sql/odbc_handle.h"

namespace vigilo {

std::vector<std::string> ListDataSources() {
  std::vector<std::string> names;
  try {
    sql::OdbcHandle env = sql::NewOdbcEnvironment();
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
      SQLCHAR name[256] = {0};  // unixODBC names may pass SQL_MAX_DSN_LENGTH
      SQLCHAR description[512] = {0};
      SQLSMALLINT name_length = 0, description_length = 0;
      SQLRETURN rc = SQLDataSources(env.get(), direction, name, sizeof name,
                                    &name_length, description, sizeof description,
                                    &description_length);
      if (!SQL_SUCCEEDED(rc)) break;
      names.emplace_back(reinterpret_cast<char*>(name));
      direction = SQL_FETCH_NEXT;
    }
  } catch (const DbException&) {
    // No environment means no data sources to list.
  }
  return names;
}

std::optional<std::string> ReadDataSourceKey(const std::string& dsn,
                                             const std::string& key) {
  if (dsn.empty() || key.empty()) return std::nullopt;
  std::vector<char> buffer(256);
  for (;;) {
    int length = SQLGetPrivateProfileString(dsn.c_str(), key.c_str(), "",
                                            buffer.data(),
                                            static_cast<int>(buffer.size()),
                                            "odbc.ini");
    if (length <= 0) return std::nullopt;
    // A value that fills the buffer may have been cut: read it again larger.
    if (static_cast<size_t>(length) < buffer.size() - 1 || buffer.size() >= 65536) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    buffer.resize(buffer.size() * 4);
  }
}

}  // namespace vigilo
