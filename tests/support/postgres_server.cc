#include "tests/support/postgres_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace vigilo::test {

namespace {

constexpr const char* kDriverName = "PostgreSQL Unicode";

std::string PsqlOdbcDriver() {
  for (const char* path : {"/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so",
                           "/usr/lib/aarch64-linux-gnu/odbc/psqlodbcw.so",
                           "/usr/lib/odbc/psqlodbcw.so", "/usr/lib64/psqlodbcw.so"}) {
    if (access(path, R_OK) == 0) return path;
  }
  return "";
}

std::string PostgresBinDir() {
  std::error_code ec;
  std::string best;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
    std::string bin = entry.path().string() + "/bin";
    if (access((bin + "/initdb").c_str(), X_OK) == 0 && bin > best) best = bin;
  }
  return best;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a program (no shell) with its output in `output`; returns the exit
// status, or -1 when it could not run.
int Run(const std::vector<std::string>& argv, std::string* output) {
  char pattern[] = "/tmp/vgpg-out-XXXXXX";
  int fd = mkstemp(pattern);
  if (fd < 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fd, 1);
    dup2(fd, 2);
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fd);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) < 0) status = -1;
  if (output) *output = ReadFile(pattern);
  unlink(pattern);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A port on 127.0.0.1 that was free a moment ago.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t length = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

// Commands that create or run the cluster run as the postgres user when
// this process is root.
std::vector<std::string> AsServerUser(std::vector<std::string> argv) {
  if (geteuid() != 0) return argv;
  std::vector<std::string> wrapped = {"runuser", "-u", "postgres", "--"};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

void ChownToServerUser(const std::string& path) {
  if (geteuid() != 0) return;
  if (passwd* pw = getpwnam("postgres")) {
    if (chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      throw std::runtime_error("cannot hand " + path + " to the postgres user");
    }
  }
}

std::optional<std::string> GetEnv(const char* name) {
  const char* value = getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void RestoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

bool PostgresServer::Available() {
  return !PsqlOdbcDriver().empty() && !PostgresBinDir().empty();
}

PostgresServer::PostgresServer() : PostgresServer(Options()) {}

PostgresServer::PostgresServer(Options options) : options_(std::move(options)) {
  bin_dir_ = PostgresBinDir();
  if (bin_dir_.empty() || PsqlOdbcDriver().empty()) {
    throw std::runtime_error("PostgreSQL or the psqlODBC driver is not installed");
  }
  {
    // Removed by Stop, after the server has let go of it.
    testing::TempDir dir;
    dir.Keep();
    dir_ = dir.path();
  }
  chmod(dir_.c_str(), 0755);
  data_dir_ = dir_ + "/data";
  socket_dir_ = dir_ + "/socket";
  try {
    Start();
    WriteOdbcFiles();
  } catch (...) {
    Stop();
    throw;
  }
}

PostgresServer::~PostgresServer() {
  Stop();
  RestoreEnv("ODBCSYSINI", old_odbcsysini_);
  RestoreEnv("ODBCINI", old_odbcini_);
}

void PostgresServer::Start() {
  std::string output;
  mkdir(data_dir_.c_str(), 0700);
  mkdir(socket_dir_.c_str(), 0755);
  ChownToServerUser(data_dir_);
  ChownToServerUser(socket_dir_);
  if (Run(AsServerUser({bin_dir_ + "/initdb", "-D", data_dir_, "-U", "postgres",
                        "--auth-local=trust", "--auth-host=scram-sha-256", "-E", "UTF8",
                        "--locale=C", "--no-sync"}),
          &output) != 0) {
    throw std::runtime_error("initdb failed:\n" + output);
  }
  std::string log = dir_ + "/server.log";
  {
    std::ofstream touch(log);
  }
  ChownToServerUser(log);
  // Another test may take the port between the look and the start: retry.
  for (int attempt = 0; attempt < 5 && !running_; ++attempt) {
    port_ = FreePort();
    StartOnPort(&output);
  }
  if (!running_) {
    throw std::runtime_error("the PostgreSQL server did not start:\n" + output + "\n" +
                             ReadFile(log));
  }
  Psql("CREATE ROLE " + options_.user + " LOGIN PASSWORD '" + options_.password + "'",
       "postgres");
  Psql("CREATE DATABASE " + options_.database + " OWNER " + options_.user, "postgres");
}

bool PostgresServer::StartOnPort(std::string* output) {
  const std::string log = dir_ + "/server.log";
  const std::string server_options = "-c listen_addresses=127.0.0.1 -p " +
                                     std::to_string(port_) + " -k " + socket_dir_ +
                                     " -c fsync=off -c full_page_writes=off";
  if (Run(AsServerUser({bin_dir_ + "/pg_ctl", "-D", data_dir_, "-l", log, "-w", "-t", "60",
                        "-o", server_options, "start"}),
          output) == 0) {
    running_ = true;
  }
  return running_;
}

void PostgresServer::Pause() {
  if (!running_) return;
  Run(AsServerUser({bin_dir_ + "/pg_ctl", "-D", data_dir_, "-m", "immediate", "-w", "stop"}),
      nullptr);
  running_ = false;
}

void PostgresServer::Resume() {
  if (running_) return;
  std::string output;
  if (!StartOnPort(&output)) {
    throw std::runtime_error("the PostgreSQL server did not start again:\n" + output + "\n" +
                             ReadFile(dir_ + "/server.log"));
  }
}

void PostgresServer::Stop() {
  if (running_) {
    Run(AsServerUser({bin_dir_ + "/pg_ctl", "-D", data_dir_, "-m", "immediate", "-w",
                      "stop"}),
        nullptr);
    running_ = false;
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

void PostgresServer::WriteOdbcFiles() {
  std::string odbc_dir = dir_ + "/odbc";
  mkdir(odbc_dir.c_str(), 0755);
  {
    std::ofstream inst(odbc_dir + "/odbcinst.ini");
    inst << "[" << kDriverName << "]\nDescription=PostgreSQL ODBC driver\nDriver="
         << PsqlOdbcDriver() << "\nFileUsage=1\n";
  }
  odbc_ini_ = odbc_dir + "/odbc.ini";
  {
    std::ofstream ini(odbc_ini_);
    ini << "[" << options_.dsn << "]\nDriver=" << kDriverName
        << "\nServername=127.0.0.1\nPort=" << port_ << "\nDatabase=" << options_.database
        << "\n";
    for (const std::string& line : options_.extra_dsn_keys) ini << line << "\n";
    for (const auto& [name, lines] : options_.extra_dsns) {
      ini << "\n[" << name << "]\nDriver=" << kDriverName << "\n";
      for (const std::string& line : lines) ini << line << "\n";
    }
  }
  old_odbcsysini_ = GetEnv("ODBCSYSINI");
  old_odbcini_ = GetEnv("ODBCINI");
  // The system odbc.ini of ODBCSYSINI does not exist, so the data sources
  // are those of ODBCINI alone.
  setenv("ODBCSYSINI", odbc_dir.c_str(), 1);
  setenv("ODBCINI", odbc_ini_.c_str(), 1);
}

std::string PostgresServer::ConnectionString() const {
  return "DSN=" + options_.dsn + ";UID=" + options_.user + ";PWD=" + options_.password + ";";
}

std::string PostgresServer::DriverConnectionString() const {
  return "Driver={" + std::string(kDriverName) + "};Servername=127.0.0.1;Port=" +
         std::to_string(port_) + ";Database=" + options_.database + ";UID=" +
         options_.user + ";PWD=" + options_.password + ";";
}

std::string PostgresServer::Psql(const std::string& sql,
                                 const std::string& database) const {
  std::string output;
  int rc = Run({bin_dir_ + "/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
                socket_dir_, "-p", std::to_string(port_), "-U", "postgres", "-d",
                database.empty() ? options_.database : database, "-c", sql},
               &output);
  if (rc != 0) throw std::runtime_error("psql failed: " + sql + "\n" + output);
  return output;
}

}  // namespace vigilo::test
