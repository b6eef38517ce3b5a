#include "platform/host/service_status.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/host/journal.h"
#include "platform/host/message_line.h"

namespace vigilo::host {
namespace {

ServiceStatus StatusIn(uint32_t state) {
  ServiceStatus status;
  status.service_type = kServiceWin32;
  status.current_state = state;
  return status;
}

TEST(SdNotifyReporterTest, TextsForTheStates) {
  EXPECT_EQ(SdNotifyReporter::NotifyText(StatusIn(kServiceRunning)),
            "READY=1\nSTATUS=Vigilo Service running");
  EXPECT_EQ(SdNotifyReporter::NotifyText(StatusIn(kServiceStopPending)),
            "STOPPING=1\nSTATUS=Vigilo Service stopping");
  EXPECT_EQ(SdNotifyReporter::NotifyText(StatusIn(kServicePaused)),
            "STATUS=Vigilo Service paused");
}

TEST(SdNotifyReporterTest, ReloadAndTickSummaryTexts) {
  ServiceStatus status = StatusIn(kServicePaused);
  status.detail = "last tick 2026-12-09 04:00:00: 1 updates, 2 notifications, 0 errors";
  status.reload = kReloading;
  EXPECT_EQ(SdNotifyReporter::NotifyText(status),
            "RELOADING=1\nSTATUS=Vigilo Service paused; last tick 2026-12-09 04:00:00: "
            "1 updates, 2 notifications, 0 errors");
  status.reload = kReloaded;  // ready again, also while paused
  EXPECT_EQ(SdNotifyReporter::NotifyText(status).substr(0, 37),
            "READY=1\nSTATUS=Vigilo Service paused;");
  // A running service's tick summary goes without READY=1.
  status = StatusIn(kServiceRunning);
  status.detail = "last tick";
  EXPECT_EQ(SdNotifyReporter::StatusLine(status), "STATUS=Vigilo Service running; last tick");
  status.reload_failure = "No rules are defined.";
  EXPECT_EQ(SdNotifyReporter::StatusLine(status),
            "STATUS=Vigilo Service running; last reload failed: No rules are defined.; last tick");
}

TEST(TextJournalTest, EntriesBecomeLinesWithTheirLevel) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::unique_ptr<JournalSink> sink = TextJournal(fds[1]);
  sink->Send({kJournalError, "ODBC Reported Error\n    Query   : SELECT", {}});
  sink->Send({kJournalNotice, "Starting Vigilo Service....", {}});
  close(fds[1]);
  char buffer[256];
  ssize_t n = read(fds[0], buffer, sizeof buffer);
  close(fds[0]);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0),
            "error: ODBC Reported Error\n      Query   : SELECT\n"
            "notice: Starting Vigilo Service....\n");
}

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
 public:
  NotifySocket() {
    path_ = std::filesystem::temp_directory_path() /
            ("vgnotify-" + std::to_string(getpid()));
    std::filesystem::remove(path_);
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string p = path_.string();
    p.copy(addr.sun_path, sizeof addr.sun_path - 1);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~NotifySocket() {
    close(fd_);
    std::filesystem::remove(path_);
  }
  bool bound() const { return bound_; }
  std::string path() const { return path_.string(); }
  std::string Receive() {
    char buffer[512];
    ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST(SdNotifyReporterTest, ReportsReachTheNotifySocketAndFailOnlyOnErrors) {
  SdNotifyReporter reporter;
  unsetenv("NOTIFY_SOCKET");
  EXPECT_TRUE(reporter.Report(StatusIn(kServiceRunning)));  // nobody to tell

  NotifySocket sock;
  ASSERT_TRUE(sock.bound());
  setenv("NOTIFY_SOCKET", sock.path().c_str(), 1);
  EXPECT_TRUE(reporter.Report(StatusIn(kServiceRunning)));
  if (SdNotifyReporter::Available()) {
  EXPECT_EQ(sock.Receive(), "READY=1\nSTATUS=Vigilo Service running");
  setenv("NOTIFY_SOCKET", "/nonexistent/vigilo/notify", 1);
  EXPECT_FALSE(reporter.Report(StatusIn(kServiceRunning)));
  }
  unsetenv("NOTIFY_SOCKET");
}

TEST(MessageLineTest, MessagesBecomeOneLine) {
  EXPECT_EQ(OneLine("Error loading MAPI32.DLL"), "Error loading MAPI32.DLL");
  EXPECT_EQ(OneLine("a\r\nb\n\nc\r\n"), "a b c");
  EXPECT_EQ(OneLine("No rules are defined.\r\nPlease"), "No rules are defined. Please");
}

}  // namespace
}  // namespace vigilo::host
