#include "data/odbc_connection.h"

#include "common/format.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/login_info.h"
#include "data/project_source.h"

namespace vigilo {

namespace {

constexpr size_t kDriverMessageLimit = 1024;

std::string WithoutFinalLineFeed(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

COdbcConnection::COdbcConnection(const CServerPaths& paths, Reporter report)
    : paths_(paths), report_(std::move(report)) {}

COdbcConnection::~COdbcConnection() { Close(); }

void COdbcConnection::Report(const std::string& message) {
  message_ = message;
  if (report_) report_(message);
}

bool COdbcConnection::AllocHandles() { return true; }

bool COdbcConnection::Connect(long kind, std::string_view dsn) {
  std::optional<std::string> server = GetDsnServerName(dsn);
  std::optional<LoginInfo> login = GetLoginInfo(paths_, kind, server);
  if (!login) {
    Report(Format("Cannot find %s in %s", server.value_or("").c_str(),
                  paths_.orvik_ini_path.c_str()));
    return false;
  }
  std::string connection =
      Format("DSN=%s;UID=%s;PWD=%s;", ConnectionValue(dsn).c_str(),
             ConnectionValue(login->user).c_str(), ConnectionValue(login->password).c_str());
  try {
    database_.Open(connection, Database::kNoOdbcDialog);
  } catch (const DbException&) {
    Report(Format("Unable to connect to '%s' data source!\n\nDatabase is not running or "
                  "incorrect login information.",
                  std::string(dsn).c_str()));
    return false;
  }
  return true;
}

void COdbcConnection::ReportError(const DbException& error) {
  for (const std::string& line : SplitNonEmpty(WithoutFinalLineFeed(error.Message()), '\n')) {
    Report(Format("SQL Error State:%s, Native Error Code: %lX, ODBC Error: %s",
                  error.SqlState().c_str(), static_cast<unsigned long>(error.NativeError()),
                  line.c_str()));
  }
}

std::optional<std::vector<std::string>> COdbcConnection::QueryColumn(const std::string& statement) {
  std::vector<std::string> values;
  try {
    Recordset rows;
    rows.Open(database_, statement);
    for (; !rows.IsEOF(); rows.MoveNext()) values.push_back(TrimmedRight(rows.GetText(0)));
    rows.Close();
  } catch (const DbException& error) {
    ReportError(error);
    return std::nullopt;
  }
  return values;
}

bool COdbcConnection::Close() {
  database_.Close();
  return true;
}

std::vector<std::string> ListCatalogueProjects(const CServerPaths& paths, Reporter report,
                                               long kind, std::string_view dsn) {
  std::string query = ProjectListQuery(kind);
  if (query.empty()) return {};
  COdbcConnection connection(paths, std::move(report));
  if (!connection.AllocHandles() || !connection.Connect(kind, dsn)) return {};
  std::optional<std::vector<std::string>> projects = connection.QueryColumn(query);
  connection.Close();
  return projects.value_or(std::vector<std::string>());
}

std::optional<std::string> CatalogueDatabaseName(const CServerPaths& paths, Reporter report,
                                                 long kind, std::string_view dsn,
                                                 std::string_view project) {
  std::string query = ProjectDatabaseQuery(kind, project);
  if (query.empty()) return std::nullopt;
  COdbcConnection connection(paths, std::move(report));
  if (!connection.AllocHandles() || !connection.Connect(kind, dsn)) return std::nullopt;
  std::optional<std::vector<std::string>> names = connection.QueryColumn(query);
  connection.Close();
  if (!names || names->empty()) return std::nullopt;
  return names->front();
}

bool OpenProjectDatabase(Database& database, const CServerPaths& paths, const Reporter& report,
                         long kind, std::string_view dsn, bool in_process_server) {
  std::string message;
  std::optional<std::string> connection = ManagerConnectionString(paths, kind, dsn, &message);
  if (!connection) {
    if (report) report(message);
    return false;
  }
  try {
    return database.Open(*connection, in_process_server ? Database::kNoOdbcDialog : 0);
  } catch (const DbException& error) {
    if (report) report(error.Message().substr(0, kDriverMessageLimit));
    return false;
  }
}

}  // namespace vigilo
