// The daemon itself: started as a process on a test installation, driven by
// signals, watched through its systemd notifications, its run log and its
// exit status.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
  ServiceProcess(const std::vector<std::string>& args,
                 const std::vector<std::string>& env) {
    pid_ = fork();
    if (pid_ == 0) {
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

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

class VgserviceProgramTest : public ::testing::Test {
 protected:
  VgserviceProgramTest() {
    WriteProfileString(install_.ServerDir() + "/morvik.ini", "Orvik Dsn", "Proj",
                       install_.ServerDir() + "/proj");
    std::filesystem::create_directories(install_.ServerDir() + "/proj");
    testing::WriteTableIni(install_.ServerDir() + "/proj", "Bugs");
  }
  std::vector<std::string> Env(const std::string& mapi) const {
    return {"VIGILO_MAPI_LIBRARY=" + mapi, "VIGILO_TEST_INTERVAL_SECONDS=1",
            "VIGILO_SHORTDATE=M/d/yy", "NOTIFY_SOCKET="};
  }
  void WriteRules() {
    testing::WriteRuleTable(install_.OrvhomeDir() + "/Vigtab.dbf",
                            {{1, 0, "ORVIK", "Proj\\Bugs", "Update"}});
  }
  std::string MapiProvider() const { return BuildDir() + "/platform/mapi/libvgmapi.so"; }

  testing::Installation install_;
};

TEST_F(VgserviceProgramTest, FailedStartStopsItselfAfterFiveSecondsWithStatusOne) {
  WriteRules();
  auto began = Clock::now();
  ServiceProcess service({"--home", install_.ProgramDir()}, Env("/nonexistent/libvgmapi.so"));
  std::optional<int> status = service.WaitExit(20s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  EXPECT_GE(Clock::now() - began, 5s);
  const std::string log = install_.ReadLog();
  EXPECT_NE(log.find("Error loading MAPI32.DLL\r\n\r\nVigilo Service failed to start beacuse "
                     "of initialization problems\r\n"),
            std::string::npos)
      << log;
}

TEST_F(VgserviceProgramTest, SignalsDriveTheStatesReportedToSystemd) {
  WriteRules();
  NotifySocket notify(install_.ServerDir() + "/notify.sock");
  ASSERT_TRUE(notify.bound());
  std::vector<std::string> env = Env(MapiProvider());
  env.back() = "NOTIFY_SOCKET=" + install_.ServerDir() + "/notify.sock";
  ServiceProcess service({"--home", install_.ProgramDir()}, env);

  EXPECT_EQ(notify.Next(), "READY=1\nSTATUS=Vigilo Service running");
  service.Signal(SIGUSR1);
  EXPECT_EQ(notify.Next(), "STATUS=Vigilo Service paused");
  service.Signal(SIGHUP);
  EXPECT_EQ(notify.Next(), "STATUS=Vigilo Service paused");
  service.Signal(SIGUSR2);
  EXPECT_EQ(notify.Next(), "READY=1\nSTATUS=Vigilo Service running");
  // The engine has initialised once its listing is in the run log.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (install_.ReadLog().find("ORVIK PROJECTS") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  service.Signal(SIGTERM);
  EXPECT_EQ(notify.Next(), "STOPPING=1\nSTATUS=Vigilo Service stopping");
  EXPECT_EQ(notify.Next(), "STATUS=Vigilo Service stopped");
  EXPECT_EQ(service.WaitExit(5s), 0);
  EXPECT_NE(install_.ReadLog().find("ORVIK PROJECTS \r\n\r\n 1) 0\\ORVIK\\Proj (TABLES)\r\n"),
            std::string::npos);
}

TEST_F(VgserviceProgramTest, OnceRunsOneTickAndReportsFailure) {
  WriteRules();
  ServiceProcess good({"--once", "--home", install_.ProgramDir()}, Env(MapiProvider()));
  EXPECT_EQ(good.WaitExit(10s), 0);
  EXPECT_NE(install_.ReadLog().find("         Update Rules       : 1\r\n"), std::string::npos);
  ServiceProcess bad({"--once", "--home", install_.ProgramDir()},
                     Env("/nonexistent/libvgmapi.so"));
  EXPECT_EQ(bad.WaitExit(10s), 1);
}

TEST_F(VgserviceProgramTest, HelpAndUnknownArguments) {
  ServiceProcess help({"--help"}, {});
  EXPECT_EQ(help.WaitExit(5s), 0);
  ServiceProcess unknown({"--bogus"}, {});
  EXPECT_EQ(unknown.WaitExit(5s), 2);
}

}  // namespace
}  // namespace vigilo
