// Helpers of the end-to-end tests: run the built daemon for one tick on an
// installation, and read back what it did (rows of dBase tables, INI keys).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/format.h"
#include "platform/sql/database.h"
#include "tests/support/rule_builder.h"
#include "tests/support/test_installation.h"

namespace vigilo::e2e {

// Runs "vgservice --once --home <program_dir>" with the mail-system provider
// of the build and returns its exit status (-1 when it did not exit). The
// daemon's stderr goes to <program_dir>/vgservice.stderr.
inline int RunServiceOnce(const std::string& program_dir,
                          const std::vector<std::string>& extra_env = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
    unsetenv("VIGILO_HOME");
    for (const std::string& entry : extra_env) putenv(const_cast<char*>(entry.c_str()));
    const std::string err = program_dir + "/vgservice.stderr";
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 2);
      dup2(fd, 1);
    }
    execl(VIGILO_SERVICE_PROGRAM, VIGILO_SERVICE_PROGRAM, "--once", "--home",
          program_dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The daemon itself (no --once) on an installation, firing every
// `interval_seconds` (VIGILO_TEST_INTERVAL_SECONDS), until Stop or
// destruction sends it SIGTERM. Its stderr goes to
// <program_dir>/vgservice.stderr.
class Daemon {
 public:
  Daemon(const std::string& program_dir, int interval_seconds) {
    const std::string interval = Format("VIGILO_TEST_INTERVAL_SECONDS=%d", interval_seconds);
    pid_ = fork();
    if (pid_ == 0) {
      setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
      unsetenv("VIGILO_HOME");
      unsetenv("NOTIFY_SOCKET");
      putenv(const_cast<char*>(interval.c_str()));
      const std::string err = program_dir + "/vgservice.stderr";
      const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, 2);
        dup2(fd, 1);
      }
      execl(VIGILO_SERVICE_PROGRAM, VIGILO_SERVICE_PROGRAM, "--home", program_dir.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Daemon() { Stop(); }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // SIGTERM and wait; the exit status (-1 when it did not exit normally).
  int Stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    int status = 0;
    status_ = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Polls `done` every 100 ms for at most `seconds`; whether it became true.
template <typename Predicate>
bool WaitFor(double seconds, Predicate done) {
  for (int i = 0; i < static_cast<int>(seconds * 10); ++i) {
    if (done()) return true;
    usleep(100 * 1000);
  }
  return done();
}

inline std::string DbaseConnection(const std::string& dir) {
  return Format("Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
                dir.c_str());
}

// Every row of a query, each column as text ("" for NULL).
inline std::vector<std::vector<std::string>> QueryRows(const std::string& connection,
                                                       const std::string& sql) {
  Database db;
  db.Open(connection, Database::kNoOdbcDialog);
  std::vector<std::vector<std::string>> rows;
  Recordset rs;
  for (rs.Open(db, sql); !rs.IsEOF(); rs.MoveNext()) {
    std::vector<std::string> row;
    for (int i = 0; i < rs.ColumnCount(); ++i) row.push_back(rs.GetText(i));
    rows.push_back(std::move(row));
  }
  return rows;
}

// The first column of the first row, or "" when there is none.
inline std::string QueryValue(const std::string& connection, const std::string& sql) {
  auto rows = QueryRows(connection, sql);
  return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

inline void Execute(const std::string& connection, const std::string& sql) {
  Database db;
  db.Open(connection, Database::kNoOdbcDialog);
  db.ExecuteSQL(sql);
}

// How often a text occurs.
inline int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
    ++count;
  }
  return count;
}

}  // namespace vigilo::e2e
