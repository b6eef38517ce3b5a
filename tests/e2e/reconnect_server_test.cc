// The daemon (not --once) on a kind-2 project served by a real PostgreSQL
// that goes away and comes back: a connection lost between ticks is opened
// anew, a project down at start gets its rules once it is up, and each
// outage is one run-log line however many ticks it lasts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/server_project.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;

constexpr int kInterval = 2;  // seconds between ticks
// Two ticks, and the time a loaded machine may take to run one.
constexpr double kTwoTicks = 2 * kInterval + 3;

constexpr char kLostLine[] = "Connection to project 2\\VGPG\\proj lost, opening it anew";
constexpr char kOpenError[] = "ODBC Reported Error (While Opening database) : ";

class ReconnectTest : public ServerProjectTest {
 protected:
  void SetUp() override {
    CreateProject("FormID int, Status varchar(10), Resolution varchar(20)",
                  "INSERT INTO proj.bugs VALUES (1,'Open',''),(2,'Open',''),(3,'Open','');");
    if (IsSkipped()) return;
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.rules = {testing::RuleBuilder(1).OnServer().Update("Resolution=Done")};
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
    WriteServerTable(*install_, {
        {"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        {"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
    });
  }

  void TearDown() override {
    daemon_.reset();
    if (server_ != nullptr) server_->Resume();  // for the tests that follow
  }

  void StartDaemon() {
    daemon_ = std::make_unique<Daemon>(install_->program_dir(), kInterval);
  }

  std::string Log() const { return install_->ReadRunLog(); }

  bool Done(const std::vector<int>& ids) {
    for (int id : ids) {
      if (Sql("SELECT Resolution FROM proj.bugs WHERE FormID = " + std::to_string(id)) !=
          "Done\n") {
        return false;
      }
    }
    return true;
  }

  void Close(const std::string& ids) {
    Sql("UPDATE proj.bugs SET Status = 'Closed' WHERE FormID IN (" + ids + ")");
  }

  std::unique_ptr<testing::TestInstallation> install_;
  std::unique_ptr<Daemon> daemon_;
};

TEST_F(ReconnectTest, RestartBetweenTicksIsOneLineAndNewRowsRunWithinTwoTicks) {
  StartDaemon();
  ASSERT_TRUE(WaitFor(10, [&] { return Log().find("ORVIK PROJECTS") != std::string::npos; }));
  Close("1");
  ASSERT_TRUE(WaitFor(kTwoTicks, [&] { return Done({1}); })) << Log();

  // The kept connection dies with the server, which is back before the
  // next tick.
  server_->Pause();
  server_->Resume();
  Close("2,3");
  EXPECT_TRUE(WaitFor(kTwoTicks, [&] { return Done({2, 3}); })) << Log();
  sleep(kInterval);
  std::string log = Log();
  EXPECT_EQ(CountOf(log, kLostLine), 1) << log;
  // The driver's several lines of text make one line of the run log.
  const size_t lost = log.find(kLostLine);
  ASSERT_NE(lost, std::string::npos);
  EXPECT_NE(log.find("\r\nUpdating records", lost), std::string::npos) << log;
  EXPECT_EQ(log.find('\n', lost), log.find("\r\n", lost) + 1) << log;
  EXPECT_EQ(log.find("\r\n", lost), log.find("\r\nUpdating records", lost)) << log;
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;

  // Down for several ticks: still one line for the outage.
  server_->Pause();
  sleep(3 * kInterval);
  server_->Resume();
  Sql("INSERT INTO proj.bugs VALUES (4,'Closed','')");
  EXPECT_TRUE(WaitFor(kTwoTicks, [&] { return Done({4}); })) << Log();
  // The tick's log text reaches the file after its updates.
  WaitFor(kInterval + 1, [&] { return CountOf(Log(), "    Records : ") == 3; });
  log = Log();
  EXPECT_EQ(CountOf(log, kLostLine) + CountOf(log, kOpenError), 2) << log;
  EXPECT_EQ(CountOf(log, "    Records : "), 3) << log;  // 1, then 2,3, then 4
  EXPECT_EQ(Sql("SELECT count(*) FROM proj.bugs WHERE Resolution = 'Done'"), "4\n");
  EXPECT_EQ(daemon_->Stop(), 0);
}

TEST_F(ReconnectTest, DaemonStartedWhileTheServerIsDownFiresOnceItIsUp) {
  Close("2");
  server_->Pause();
  StartDaemon();
  ASSERT_TRUE(WaitFor(10, [&] {
    return Log().find("Rules waiting for the database : 1\r\n") != std::string::npos;
  })) << Log();
  sleep(2 * kInterval);  // ticks that find the server down
  server_->Resume();
  EXPECT_TRUE(WaitFor(kTwoTicks, [&] { return Done({2}); })) << Log();
  WaitFor(kInterval + 1, [&] { return Log().find("    Records : 2\r\n") != std::string::npos; });
  const std::string log = Log();
  EXPECT_EQ(CountOf(log, kOpenError), 1) << log;
  EXPECT_EQ(CountOf(log, "Project 2\\VGPG\\proj opened: its waiting rules 1 are prepared\r\n"), 1)
      << log;
  EXPECT_EQ(Sql("SELECT Resolution FROM proj.bugs WHERE FormID = 1"), "\n");
  EXPECT_EQ(Sql("SELECT count(*) FROM proj.bugsvglsvgls"), "1\n");
}

}  // namespace
}  // namespace vigilo::e2e
