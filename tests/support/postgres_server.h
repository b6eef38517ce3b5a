// A throwaway PostgreSQL cluster for tests that use the ODBC backend through
// the real psqlODBC driver: created in a temporary directory (initdb runs as
// the postgres user when the test runs as root, as initdb refuses root),
// listening on 127.0.0.1 only on a free port picked at start, with a login
// role that authenticates by password, a database, and an odbc.ini /
// odbcinst.ini pair in the temporary directory that the process's ODBC
// calls use (ODBCSYSINI and ODBCINI are set; the old values come back on
// destruction). Destruction stops the server and removes the directory.
//
// One server per process at a time (the ODBC environment variables are
// process-wide). Construct it before the first ODBC call of the process:
// the driver manager reads the ini files then.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vigilo::test {

class PostgresServer {
 public:
  struct Options {
    std::string database = "orvik";
    std::string user = "vigilo";
    std::string password = "vg-secret";
    std::string dsn = "VGPG";  // data source of the database in odbc.ini
    // Extra "Key=value" lines of the data source's odbc.ini section.
    std::vector<std::string> extra_dsn_keys;
    // Further data sources: name and "Key=value" lines (Driver is added).
    std::vector<std::pair<std::string, std::vector<std::string>>> extra_dsns;
  };

  // Starts the server; throws std::runtime_error with the server's log when
  // it cannot.
  PostgresServer();
  explicit PostgresServer(Options options);
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Whether PostgreSQL's programs and the psqlODBC driver are installed.
  static bool Available();

  int port() const { return port_; }
  const std::string& directory() const { return dir_; }
  const Options& options() const { return options_; }
  const std::string& odbc_ini() const { return odbc_ini_; }
  // "DSN=%s;UID=%s;PWD=%s;" of the data source, as the service builds it.
  std::string ConnectionString() const;
  // A connection string without a data source (Driver=...;Servername=...).
  std::string DriverConnectionString() const;

  // Stops the server as a crash or an administrator's restart does (every
  // connection dies) and keeps its data and port for Resume.
  void Pause();
  // Starts a paused server again on the same port; throws
  // std::runtime_error with the server's log when it cannot.
  void Resume();

  // Runs SQL through psql as the superuser on the test database (or the
  // named one); returns psql's unaligned, tuples-only output. Throws
  // std::runtime_error with psql's output when it fails.
  std::string Psql(const std::string& sql, const std::string& database = "") const;

 private:
  void Start();
  void Stop();
  // pg_ctl start on port_; true when the server runs.
  bool StartOnPort(std::string* output);
  void WriteOdbcFiles();

  Options options_;
  std::string dir_;
  std::string data_dir_;
  std::string socket_dir_;
  std::string bin_dir_;
  std::string odbc_ini_;
  int port_ = 0;
  bool running_ = false;
  std::optional<std::string> old_odbcsysini_;
  std::optional<std::string> old_odbcini_;
};

}  // namespace vigilo::test
