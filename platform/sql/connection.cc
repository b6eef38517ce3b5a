#include "platform/sql/connection.h"

#include "platform/sql/connection_string.h"
#include "platform/sql/database.h"
#include "platform/sql/dbase_connection.h"
#include "platform/sql/odbc_connection.h"
#include "platform/sql/sql_tokens.h"

namespace vigilo::sql {

namespace {
ConnectionFactory& Factory() {
  static ConnectionFactory factory;
  return factory;
}
}  // namespace

long Connection::ExecuteForEach(const std::string& statement, const std::vector<int64_t>& values,
                                size_t* done) {
  *done = 0;
  std::vector<Token> tokens = Tokenize(statement);
  Token* marker = nullptr;
  for (Token& token : tokens) {
    if (token.text != "?") continue;
    if (marker != nullptr) throw DbException("The statement holds more than one parameter.");
    marker = &token;
  }
  if (marker == nullptr) throw DbException("The statement holds no parameter.");
  long changed = 0;
  for (int64_t value : values) {
    marker->text = std::to_string(value);
    const long rows = Execute(JoinTokens(tokens));
    changed = changed < 0 || rows < 0 ? -1 : changed + rows;
    ++*done;
  }
  return changed;
}

long Connection::ExecuteAsOne(const std::vector<std::string>& statements) {
  long changed = 0;
  for (const std::string& statement : statements) {
    const long rows = Execute(statement);
    changed = changed < 0 || rows < 0 ? -1 : changed + rows;
  }
  return changed;
}

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
