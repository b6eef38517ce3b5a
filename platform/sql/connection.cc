#include "platform/sql/connection.h"

#include "platform/sql/connection_string.h"
#include "platform/sql/dbase_connection.h"
#include "platform/sql/odbc_connection.h"

namespace vigilo::sql {

std::unique_ptr<Connection> OpenConnection(const std::string& connection_string) {
  if (NamesDbaseDriver(connection_string)) {
    return std::make_unique<DbaseConnection>(connection_string);
  }
  return std::make_unique<OdbcConnection>(connection_string);
}

}  // namespace vigilo::sql
