#include "platform/sql/connection.h"

#include "platform/sql/connection_string.h"
#include "platform/sql/dbase_connection.h"
#include "platform/sql/odbc_connection.h"

namespace vigilo::sql {

namespace {
ConnectionFactory& Factory() {
  static ConnectionFactory factory;
  return factory;
}
}  // namespace

void SetConnectionFactory(ConnectionFactory factory) { Factory() = std::move(factory); }

std::unique_ptr<Connection> OpenConnection(const std::string& connection_string) {
  if (Factory()) return Factory()(connection_string);
  return OpenDefaultConnection(connection_string);
}

std::unique_ptr<Connection> OpenDefaultConnection(const std::string& connection_string) {
  if (NamesDbaseDriver(connection_string)) {
    return std::make_unique<DbaseConnection>(connection_string);
  }
  return std::make_unique<OdbcConnection>(connection_string);
}

}  // namespace vigilo::sql
