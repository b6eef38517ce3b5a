// The daemon itself: started as a process on a test installation, driven by
// signals, watched through its systemd notifications, its run log and its
// exit status.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/ini_profile.h"
#include "tests/service/rule_table_fixture.h"
#include "tests/service/service_fixture.h"

namespace vigilo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string BuildDir() {
  const char* build = std::getenv("VIGILO_BUILD_DIR");
  return build ? build : ".";
}

// A vgservice process with its own environment additions.
class ServiceProcess {
 public:
  // With stderr_path, the process's standard error goes to that file.
  ServiceProcess(const std::vector<std::string>& args,
                 const std::vector<std::string>& env, const std::string& stderr_path = "") {
    pid_ = fork();
    if (pid_ == 0) {
      if (!stderr_path.empty()) {
        int fd = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) dup2(fd, 2);
      }
      for (const std::string& entry : env) {
        size_t eq = entry.find('=');
        if (eq + 1 == entry.size()) {
          unsetenv(entry.substr(0, eq).c_str());  // "NAME=" removes NAME
        } else {
          putenv(const_cast<char*>(entry.c_str()));
        }
      }
      std::string program = BuildDir() + "/service/vgservice";
      std::vector<char*> argv{program.data()};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~ServiceProcess() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  void Signal(int sig) { kill(pid_, sig); }
  // The exit status, or nullopt when the process has not ended in time.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!status_ && Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else {
        std::this_thread::sleep_for(10ms);
      }
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Stands in for systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path_.copy(addr.sun_path, sizeof addr.sun_path - 1);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~NotifySocket() { close(fd_); }
  bool bound() const { return bound_; }
  // The next notification, or "" after two seconds without one.
  std::string Next() {
    pollfd pfd{fd_, POLLIN, 0};
    if (poll(&pfd, 1, 2000) != 1) return "";
    std::string buffer(4096, '\0');
    ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
    return n > 0 ? buffer.substr(0, static_cast<size_t>(n)) : "";
  }

  // The next notification that changes something, without its tick summary
  // ("; last tick ..."): a report that only brings a new summary (no
  // READY=1 or the like, the same state) is skipped.
  std::string NextChange() {
    for (;;) {
      std::string message = Next();
      if (message.find("; last tick") != std::string::npos) tick_reports_.push_back(message);
      std::string plain = message.substr(0, message.find("; last tick"));
      size_t status = plain.find("STATUS=");
      if (message.empty() || status != 0 || plain != last_status_) {
        if (status != std::string::npos) last_status_ = plain.substr(status);
        return plain;
      }
    }
  }

  // The next report that carries a tick summary, also one NextChange passed.
  std::string NextTickReport() {
    for (int i = 0; tick_reports_.empty() && i < 5; ++i) {
      std::string message = Next();
      if (message.find("; last tick") != std::string::npos) tick_reports_.push_back(message);
    }
    if (tick_reports_.empty()) return "";
    std::string report = tick_reports_.front();
    tick_reports_.erase(tick_reports_.begin());
    return report;
  }

  // Every notification until none came for two seconds.
  std::vector<std::string> Drain() {
    std::vector<std::string> all;
    for (std::string message = Next(); !message.empty(); message = Next()) all.push_back(message);
    return all;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
  std::string last_status_;
  std::vector<std::string> tick_reports_;
};

class VgserviceProgramTest : public ::testing::Test {
 protected:
  VgserviceProgramTest() {
    WriteProfileString(install_.server_dir() + "/morvik.ini", "Orvik Dsn", "Proj",
                       install_.server_dir() + "/proj");
    std::filesystem::create_directories(install_.server_dir() + "/proj");
    testing::WriteTableIni(install_.server_dir() + "/proj", "Bugs");
  }
  std::vector<std::string> Env(const std::string& mapi) const {
    // Outside systemd whatever runs the tests: entries go to stderr.
    return {"VIGILO_MAPI_LIBRARY=" + mapi, "VIGILO_TEST_INTERVAL_SECONDS=1",
            "VIGILO_SHORTDATE=M/d/yy", "JOURNAL_STREAM=", "INVOCATION_ID=", "NOTIFY_SOCKET="};
  }
  void WriteRules() {
    testing::WriteRuleTable(install_.rule_table(), {{1, 0, "ORVIK", "Proj\\Bugs", "Update"}});
  }
  std::string MapiProvider() const { return BuildDir() + "/platform/mapi/libvgmapi.so"; }

  testing::ServiceEnvironment env_;

  testing::TestInstallation install_;
};

TEST_F(VgserviceProgramTest, FailedStartStopsItselfAfterFiveSecondsWithStatusOne) {
  WriteRules();
  auto began = Clock::now();
  ServiceProcess service({"--home", install_.program_dir()}, Env("/nonexistent/libvgmapi.so"));
  std::optional<int> status = service.WaitExit(20s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  EXPECT_GE(Clock::now() - began, 5s);
  const std::string log = install_.ReadRunLog();
  EXPECT_NE(log.find("Error loading MAPI32.DLL\r\n\r\nVigilo Service failed to start beacuse "
                     "of initialization problems\r\n"),
            std::string::npos)
      << log;
}

TEST_F(VgserviceProgramTest, SignalsDriveTheStatesReportedToSystemd) {
  WriteRules();
  NotifySocket notify(install_.server_dir() + "/notify.sock");
  ASSERT_TRUE(notify.bound());
  std::vector<std::string> env = Env(MapiProvider());
  env.back() = "NOTIFY_SOCKET=" + install_.server_dir() + "/notify.sock";
  ServiceProcess service({"--home", install_.program_dir()}, env);

  EXPECT_EQ(notify.NextChange(), "STATUS=Vigilo Service starting");
  EXPECT_EQ(notify.NextChange(), "READY=1\nSTATUS=Vigilo Service running");
  service.Signal(SIGUSR1);
  EXPECT_EQ(notify.NextChange(), "STATUS=Vigilo Service paused");
  service.Signal(SIGHUP);  // a reload also while paused
  EXPECT_EQ(notify.NextChange(), "RELOADING=1\nSTATUS=Vigilo Service paused");
  EXPECT_EQ(notify.NextChange(), "READY=1\nSTATUS=Vigilo Service paused");
  service.Signal(SIGUSR2);
  // Ready means initialised: the listing is already in the run log.
  EXPECT_EQ(notify.NextChange(), "READY=1\nSTATUS=Vigilo Service running");
  EXPECT_NE(install_.ReadRunLog().find("ORVIK PROJECTS"), std::string::npos);
  service.Signal(SIGTERM);
  EXPECT_EQ(notify.NextChange(), "STOPPING=1\nSTATUS=Vigilo Service stopping");
  EXPECT_EQ(notify.NextChange(), "STATUS=Vigilo Service stopped");
  EXPECT_EQ(service.WaitExit(5s), 0);
  EXPECT_NE(install_.ReadRunLog().find("ORVIK PROJECTS \r\n\r\n 1) 0\\ORVIK\\Proj (TABLES)\r\n"),
            std::string::npos);
}

TEST_F(VgserviceProgramTest, OnceRunsOneTickAndReportsFailure) {
  WriteRules();
  ServiceProcess good({"--once", "--home", install_.program_dir()}, Env(MapiProvider()));
  EXPECT_EQ(good.WaitExit(10s), 0);
  EXPECT_NE(install_.ReadRunLog().find("         Update Rules       : 1\r\n"), std::string::npos);
  ServiceProcess bad({"--once", "--home", install_.program_dir()},
                     Env("/nonexistent/libvgmapi.so"));
  EXPECT_EQ(bad.WaitExit(10s), 1);
}

TEST_F(VgserviceProgramTest, HelpAndUnknownArguments) {
  ServiceProcess help({"--help"}, {});
  EXPECT_EQ(help.WaitExit(5s), 0);
  ServiceProcess unknown({"--bogus"}, {});
  EXPECT_EQ(unknown.WaitExit(5s), 2);
}

TEST_F(VgserviceProgramTest, ReadyArrivesOnlyAfterTheEngineHasStarted) {
  WriteRules();
  NotifySocket notify(install_.server_dir() + "/notify.sock");
  ASSERT_TRUE(notify.bound());
  std::vector<std::string> env = Env(MapiProvider());
  env.back() = "NOTIFY_SOCKET=" + install_.server_dir() + "/notify.sock";
  ServiceProcess service({"--home", install_.program_dir()}, env);

  EXPECT_EQ(notify.NextChange(), "STATUS=Vigilo Service starting");
  ASSERT_EQ(notify.NextChange(), "READY=1\nSTATUS=Vigilo Service running");
  // By then the rules are loaded and listed.
  EXPECT_NE(install_.ReadRunLog().find("ORVIK PROJECTS \r\n"), std::string::npos);
  // The first tick follows, and the status says what it did.
  std::string tick = notify.NextTickReport();
  EXPECT_EQ(tick.rfind("STATUS=Vigilo Service ", 0), 0u) << tick;  // no READY=1 with it
  EXPECT_NE(tick.find("; last tick "), std::string::npos) << tick;
  EXPECT_NE(tick.find(": 0 updates, 0 notifications, 0 errors"), std::string::npos) << tick;
  service.Signal(SIGTERM);
  EXPECT_EQ(service.WaitExit(5s), 0);
}

TEST_F(VgserviceProgramTest, AFailedStartNeverReportsReady) {
  WriteRules();
  NotifySocket notify(install_.server_dir() + "/notify.sock");
  ASSERT_TRUE(notify.bound());
  std::vector<std::string> env = Env("/nonexistent/libvgmapi.so");
  env.back() = "NOTIFY_SOCKET=" + install_.server_dir() + "/notify.sock";
  ServiceProcess service({"--home", install_.program_dir()}, env);
  EXPECT_EQ(service.WaitExit(20s), 1);
  std::vector<std::string> all = notify.Drain();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front(), "STATUS=Vigilo Service starting");
  for (const std::string& message : all) {
    EXPECT_EQ(message.find("READY=1"), std::string::npos) << message;
  }
  EXPECT_EQ(all.back(), "STATUS=Vigilo Service stopped");
}

TEST_F(VgserviceProgramTest, ReloadReadsTheChangedRuleTableAndKeepsTheRulesWhenItIsEmpty) {
  WriteRules();
  NotifySocket notify(install_.server_dir() + "/notify.sock");
  ASSERT_TRUE(notify.bound());
  std::vector<std::string> env = Env(MapiProvider());
  env[1] = "VIGILO_TEST_INTERVAL_SECONDS=3600";  // no tick gets in the way
  env.back() = "NOTIFY_SOCKET=" + install_.server_dir() + "/notify.sock";
  ServiceProcess service({"--home", install_.program_dir()}, env);
  ASSERT_EQ(notify.NextChange(), "STATUS=Vigilo Service starting");
  ASSERT_EQ(notify.NextChange(), "READY=1\nSTATUS=Vigilo Service running");

  // Changed while the service runs; read at the reload.
  const std::string rule_table = install_.rule_table();
  std::filesystem::remove(rule_table);
  testing::WriteRuleTable(rule_table, {{1, 0, "ORVIK", "Proj\\Bugs", "Update"},
                                       {2, 0, "ORVIK", "Proj\\Bugs", "Update"}});
  service.Signal(SIGHUP);
  EXPECT_EQ(notify.NextChange(), "RELOADING=1\nSTATUS=Vigilo Service running");
  EXPECT_EQ(notify.NextChange(), "READY=1\nSTATUS=Vigilo Service running");
  EXPECT_NE(install_.ReadRunLog().find("Rules reloaded\r\n\r\nORVIK PROJECTS \r\n\r\n"
                                       " 1) 0\\ORVIK\\Proj (TABLES)\r\n    1. Bugs\r\n"
                                       "         Update Rules       : 1,2\r\n"),
            std::string::npos)
      << install_.ReadRunLog();

  std::filesystem::remove(rule_table);
  testing::WriteRuleTable(rule_table, {});
  service.Signal(SIGHUP);
  EXPECT_EQ(notify.NextChange(), "RELOADING=1\nSTATUS=Vigilo Service running");
  EXPECT_EQ(notify.NextChange(),
            "READY=1\nSTATUS=Vigilo Service running; last reload failed: No rules are defined. "
            "Please create the rules and then start the server");
  EXPECT_NE(install_.ReadRunLog().find("Rules not reloaded, the previous rules stay in force: "
                                    "No rules are defined."),
            std::string::npos)
      << install_.ReadRunLog();
  service.Signal(SIGTERM);
  EXPECT_EQ(service.WaitExit(5s), 0);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(VgserviceProgramTest, OnceRunsFromCronAccumulateInOneRunLog) {
  WriteRules();
  for (int run = 0; run < 5; ++run) {
    ServiceProcess once({"--once", "--home", install_.program_dir()}, Env(MapiProvider()));
    ASSERT_EQ(once.WaitExit(10s), 0);
  }
  const std::string log = install_.ReadRunLog();
  EXPECT_EQ(Count(log, "Starting Vigilo Service...."), 5u) << log;
  EXPECT_EQ(Count(log, "ORVIK PROJECTS"), 5u);
  EXPECT_FALSE(std::filesystem::exists(install_.run_log() + ".1"));
}

TEST_F(VgserviceProgramTest, AForegroundRunTalksOnStderr) {
  WriteRules();
  const std::string err = install_.server_dir() + "/stderr.txt";
  ServiceProcess service({"--home", install_.program_dir()}, Env(MapiProvider()), err);
  std::this_thread::sleep_for(2500ms);
  service.Signal(SIGTERM);
  ASSERT_EQ(service.WaitExit(10s), 0);
  const std::string text = testing::ReadText(err);
  EXPECT_NE(text.find("notice: Starting Vigilo Service....\n"), std::string::npos) << text;
  EXPECT_NE(text.find("notice: ORVIK PROJECTS"), std::string::npos) << text;
  EXPECT_NE(text.find("vgservice: running; last tick "), std::string::npos) << text;
  // The engine repeats the start lines in the run log only.
  EXPECT_EQ(Count(text, "Vigilo Service Version"), 1u) << text;
  EXPECT_EQ(Count(install_.ReadRunLog(), "Vigilo Service Version"), 2u);
}

TEST_F(VgserviceProgramTest, AFailedStartSaysWhyAndWhereTheRunLogIs) {
  // No rule table at all, as on a fresh installation.
  const std::string err = install_.server_dir() + "/stderr.txt";
  ServiceProcess once({"--once", "--home", install_.program_dir()}, Env(MapiProvider()), err);
  ASSERT_EQ(once.WaitExit(10s), 1);
  const std::string text = testing::ReadText(err);
  EXPECT_NE(text.find("Vigtab"), std::string::npos) << text;  // the reason
  // The failure line itself says why on its next line.
  EXPECT_NE(text.find("error: Vigilo Service failed to start because of initialization "
                      "problems; see the run log " + install_.run_log() +
                      "\n  ODBC Reported Error (While Loading Rules) : no such table: Vigtab"),
            std::string::npos)
      << text;
  EXPECT_NE(install_.ReadRunLog().find("Vigilo Service failed to start beacuse of initialization "
                                    "problems\r\n"),
            std::string::npos);
}

TEST_F(VgserviceProgramTest, AMessageThatIsLoggedTooAppearsOnceOnStderr) {
  WriteRules();
  const std::string err = install_.server_dir() + "/stderr.txt";
  ServiceProcess once({"--once", "--home", install_.program_dir()},
                      Env("/nonexistent/libvgmapi.so"), err);
  ASSERT_EQ(once.WaitExit(10s), 1);
  const std::string text = testing::ReadText(err);
  // Once as an entry; the failure line repeats it as its reason.
  EXPECT_EQ(Count(text, "error: Error loading MAPI32.DLL"), 1u) << text;
  EXPECT_NE(text.find("see the run log " + install_.run_log() + "\n  Error loading MAPI32.DLL\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("error: Error loading MAPI32.DLL\n"), std::string::npos) << text;
}

TEST_F(VgserviceProgramTest, OnceExitsWithTwoWhenARuleFails) {
  testing::TestRule rule{1, 0, "ORVIK", "Proj\\Bugs", "Update"};
  rule.cond = "(ChngHist->ChngTo is (Closed))";  // the history table does not exist
  testing::WriteRuleTable(install_.rule_table(), {rule});
  const std::string err = install_.server_dir() + "/stderr.txt";
  ServiceProcess once({"--once", "--home", install_.program_dir()}, Env(MapiProvider()), err);
  EXPECT_EQ(once.WaitExit(10s), 2);
  EXPECT_NE(
      install_.ReadRunLog().find("ODBC Reported Error (While Retrieving RecordIDs, Rule ID : 1)"),
      std::string::npos)
      << install_.ReadRunLog();
  EXPECT_NE(testing::ReadText(err).find("vgservice: 1 error in the rule loading and the firing tick; see the "
                                        "run log " +
                                        install_.run_log()),
            std::string::npos)
      << testing::ReadText(err);
}

TEST_F(VgserviceProgramTest, ErrorsOfTheLoadExitTwoAndADamagedFlagTableWaitsForItsRebuild) {
  testing::TestRule rule{1, 0, "ORVIK", "Proj\\Bugs", "Update"};
  rule.values = "Status=Seen";
  testing::WriteRuleTable(install_.rule_table(), {rule});
  const std::string flags = install_.server_dir() + "/proj/BugsVGLS.dbf";
  auto once = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--home", install_.program_dir()});
    ServiceProcess process(args, Env(MapiProvider()), install_.server_dir() + "/stderr.txt");
    return process.WaitExit(10s);
  };
  ASSERT_EQ(once({"--once"}), 0) << install_.ReadRunLog();
  std::string bytes = testing::ReadText(flags);
  ASSERT_GT(bytes.size(), 64u);
  bytes[32 + 11] = '\0';  // the first field has no type any more
  std::ofstream(flags, std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_EQ(once({"--once"}), 2);
  EXPECT_NE(install_.ReadRunLog().find("Unable to use the flag table BugsVGLS"), std::string::npos);
  // A missing table INI (no flag table name) is an error of the load too.
  std::filesystem::rename(install_.server_dir() + "/proj/Bugs.INI",
                          install_.server_dir() + "/proj/Bugs.old");
  EXPECT_EQ(once({"--once"}), 2);
  std::filesystem::rename(install_.server_dir() + "/proj/Bugs.old",
                          install_.server_dir() + "/proj/Bugs.INI");
  std::filesystem::rename(install_.server_dir() + "/morvik.ini", install_.server_dir() + "/m.old");
  EXPECT_EQ(once({"--once"}), 2) << install_.ReadRunLog();
  std::filesystem::rename(install_.server_dir() + "/m.old", install_.server_dir() + "/morvik.ini");
  EXPECT_EQ(once({"--rebuild-flags", "Proj\\Bugs", "--mark-current"}), 0)
      << testing::ReadText(install_.server_dir() + "/stderr.txt");
  EXPECT_TRUE(std::filesystem::exists(flags + ".damaged"));
  EXPECT_EQ(once({"--once"}), 0) << install_.ReadRunLog();
}

TEST_F(VgserviceProgramTest, OnceExitsWithTwoWhenTheRunLogCannotBeWritten) {
  WriteRules();
  std::filesystem::create_directory(install_.run_log());  // cannot be opened for writing
  const std::string err = install_.server_dir() + "/stderr.txt";
  ServiceProcess once({"--once", "--home", install_.program_dir()}, Env(MapiProvider()), err);
  EXPECT_EQ(once.WaitExit(10s), 2);
  EXPECT_NE(testing::ReadText(err).find("vgservice: the run log " + install_.run_log() +
                                        " could not be written"),
            std::string::npos)
      << testing::ReadText(err);
}

}  // namespace
}  // namespace vigilo
