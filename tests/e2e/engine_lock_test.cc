// One engine at a time per installation: while the daemon runs, neither a
// `vgservice --once` nor the rule manager's in-process server starts a second
// engine on the same server directory; each says who holds the lock. A daemon
// killed outright leaves no obstacle behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/format.h"
#include "data/server_paths.h"
#include "manager/server_control.h"
#include "tests/e2e/e2e_support.h"
#include "tests/manager/fake_server_window.h"
#include "tests/manager/recording_prompts.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using namespace std::chrono_literals;

class EngineLockTest : public ::testing::Test {
 protected:
  EngineLockTest() {
    demo::TableDescription bugs;
    bugs.name = "Bugs";
    bugs.fields = {
        demo::FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        demo::FieldDescription{"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false,
                               ""},
    };
    for (long id = 1; id <= 3; ++id) {
      bugs.records.push_back(demo::RecordDescription{
          id, "", {{"Status", id == 1 ? "Closed" : "Open"}}, "", ""});
    }
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.projects = {demo::ProjectDescription{"Proj", "", {bugs}}};
    description.rules = {testing::RuleBuilder(1).Update("Resolution=Done")};
    // A "Mail" section, without which the rule manager would not even try.
    description.mail.smtp_server = "127.0.0.1:9";
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
  }
  ~EngineLockTest() override {
    KillDaemon();
    SetProgramDirectory("");
  }

  // The daemon in the background, with an interval long enough that only
  // its first tick runs during the test.
  void StartDaemon() {
    daemon_ = fork();
    if (daemon_ == 0) {
      setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
      setenv("VIGILO_TEST_INTERVAL_SECONDS", "3600", 1);
      unsetenv("VIGILO_HOME");
      unsetenv("NOTIFY_SOCKET");
      execl(VIGILO_SERVICE_PROGRAM, VIGILO_SERVICE_PROGRAM, "--home",
            install_->program_dir().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(daemon_, 0);
  }
  void KillDaemon() {
    if (daemon_ <= 0) return;
    kill(daemon_, SIGKILL);
    waitpid(daemon_, nullptr, 0);
    daemon_ = -1;
  }
  bool DaemonAlive() { return daemon_ > 0 && waitpid(daemon_, nullptr, WNOHANG) == 0; }

  std::string Data() const { return DbaseConnection(install_->TableDir("Proj", "Bugs")); }
  std::string Resolution(long form_id) const {
    return QueryValue(Data(), Format("SELECT Resolution FROM Bugs WHERE FormID = %ld", form_id));
  }
  // Waits for the daemon's first tick: record 1 updated and the log written.
  bool WaitForFirstTick() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (install_->ReadRunLog().find("ORVIK PROJECTS") != std::string::npos &&
          Resolution(1) == "Done") {
        return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  std::string LockMessage() const {
    return Format(
        "Another Vigilo engine is running on this installation: the lock file %s/vigilo.lock "
        "is held by process %ld (vgservice).",
        install_->server_dir().c_str(), static_cast<long>(daemon_));
  }

  std::unique_ptr<testing::TestInstallation> install_;
  pid_t daemon_ = -1;
};

TEST_F(EngineLockTest, OnceWhileTheDaemonRunsFiresNothingAndNamesTheHolder) {
  StartDaemon();
  ASSERT_TRUE(WaitForFirstTick()) << install_->ReadRunLog();
  install_->SetField("Proj", "Bugs", 2, "Status", "Closed");

  EXPECT_EQ(RunServiceOnce(install_->program_dir()), 1);
  const std::string stderr_text = testing::ReadText(install_->program_dir() + "/vgservice.stderr");
  EXPECT_NE(stderr_text.find(LockMessage()), std::string::npos) << stderr_text;
  EXPECT_EQ(Resolution(2), "");
  // The refused start adds to the run log instead of recreating it.
  const std::string log = install_->ReadRunLog();
  EXPECT_NE(log.find("ORVIK PROJECTS"), std::string::npos) << log;
  EXPECT_NE(log.find(LockMessage()), std::string::npos) << log;
  EXPECT_TRUE(DaemonAlive());

  // Killed outright, the daemon leaves its lock file but no lock.
  KillDaemon();
  EXPECT_EQ(RunServiceOnce(install_->program_dir()), 0)
      << testing::ReadText(install_->program_dir() + "/vgservice.stderr");
  EXPECT_EQ(Resolution(2), "Done");
}

TEST_F(EngineLockTest, ASecondDaemonFailsToStartAndSaysWhy) {
  StartDaemon();
  ASSERT_TRUE(WaitForFirstTick()) << install_->ReadRunLog();
  install_->SetField("Proj", "Bugs", 2, "Status", "Closed");
  const std::string err = install_->program_dir() + "/second.stderr";
  const pid_t second = fork();
  if (second == 0) {
    setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
    unsetenv("NOTIFY_SOCKET");
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 2);
    execl(VIGILO_SERVICE_PROGRAM, VIGILO_SERVICE_PROGRAM, "--home",
          install_->program_dir().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(second, 0);
  // A failed start stops itself after five seconds with status 1.
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  pid_t ended = 0;
  while ((ended = waitpid(second, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  if (ended == 0) {
    kill(second, SIGKILL);
    waitpid(second, nullptr, 0);
    FAIL() << "the second daemon did not end";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string stderr_text = testing::ReadText(err);
  EXPECT_NE(stderr_text.find(LockMessage()), std::string::npos) << stderr_text;
  const std::string log = install_->ReadRunLog();
  EXPECT_NE(log.find(LockMessage() + "\r\n\r\nVigilo Service failed to start beacuse of "
                                     "initialization problems\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(Resolution(2), "");
  EXPECT_TRUE(DaemonAlive());
}

TEST_F(EngineLockTest, InProcessServerWhileTheDaemonRunsIsRefusedWithAMessage) {
  StartDaemon();
  ASSERT_TRUE(WaitForFirstTick()) << install_->ReadRunLog();
  SetProgramDirectory(install_->program_dir());
  testing::RecordingPrompts prompts;
  testing::FakeServerWindow window;
  {
    ServerControl server(prompts, window);
    server.Start();
    EXPECT_FALSE(server.running());
    EXPECT_EQ(server.worker(), nullptr);
  }
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text, LockMessage());
  EXPECT_EQ(prompts.shown[0].icon, PromptIcon::kWarning);
  EXPECT_TRUE(window.panes.empty());

  KillDaemon();
  install_->SetField("Proj", "Bugs", 2, "Status", "Closed");
  // The in-process server now runs its first tick on the installation.
  setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
  ServerControl server(prompts, window);
  server.Start();
  EXPECT_TRUE(server.running()) << prompts.Texts().back();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (Resolution(2) != "Done" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(Resolution(2), "Done");
  unsetenv("VIGILO_MAPI_LIBRARY");
}

}  // namespace
}  // namespace vigilo::e2e
