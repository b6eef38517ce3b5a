// The main window's activity view on a generated installation: a tick of the
// in-process server whose delivery fails shows its error, runner and outbox
// failure at once, and the run-log pane follows lines appended to the file.
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTest>

#include <memory>

#include "common/format.h"
#include "data/server_paths.h"
#include "manager/commands.h"
#include "manager/ui/main_frame.h"
#include "manager/ui/qt_prompts.h"
#include "tests/support/rule_builder.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/test_installation.h"

namespace vigilo {

class ActivityViewTest : public QObject {
  Q_OBJECT

 private:
  // Project Proj with table Bugs, record 1 closed; rule 1 mails bob (SMTP)
  // about closed records through smtp_server.
  void Install(const std::string& smtp_server) {
    demo::TableDescription bugs;
    bugs.name = "Bugs";
    bugs.fields = {
        demo::FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""}};
    bugs.records = {demo::RecordDescription{1, "", {{"Status", "Closed"}}, "", ""}};
    install_ = std::make_unique<testing::TestInstallation>(std::move(
        testing::InstallationBuilder()
            .Project({"Proj", "", {bugs}})
            .Users({{"bob", "", 5, "bob@example.org", "Bob B."}})
            .Rules({testing::RuleBuilder(1).Notify("User", "bob")})
            .Smtp(smtp_server)));
  }

  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;
  std::unique_ptr<testing::TestInstallation> install_;

 private slots:
  void initTestCase() {
    setenv("VIGILO_MAPI_LIBRARY", VGMAPI_PATH, 1);
    setenv("VIGILO_SMTP_LIBRARY", VGSMTP_PATH, 1);
    setenv("VIGILO_SMTP_CONNECT_TIMEOUT", "2", 1);
  }

  void init() { context_ = std::make_unique<ManagerContext>(prompts_); }
  void cleanup() {
    SetProgramDirectory("");
    install_.reset();
  }

  void aFailedDeliveryOfTheInProcessServerShowsAtOnce() {
    Install(Format("127.0.0.1:%d", test::UnusedPort()));
    CMainFrame frame(*context_);
    frame.show();
    frame.action(kStartServerCommand)->trigger();
    QVERIFY(frame.server_running());

    auto* errors = frame.findChild<QPlainTextEdit*>("tickErrors");
    QVERIFY(errors != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(errors->toPlainText().contains("Mail delivery failed (SMTP)"), 15000);
    auto* ticks = frame.findChild<QTableWidget*>("ticks");
    QVERIFY(ticks->rowCount() >= 1);
    QCOMPARE(ticks->item(0, 1)->text(), QString("manager"));
    QTRY_VERIFY(frame.findChild<QLabel*>("outbox")->text().contains("1 failing (SMTP: "));
    auto* actions = frame.findChild<QTableWidget*>("actions");
    QVERIFY(!actions->findItems("failed", Qt::MatchExactly).isEmpty());

    frame.action(kStopServerCommand)->trigger();
    QVERIFY(!frame.server_running());
  }

  void theRunLogPaneFollowsAppendedLines() {
    Install("127.0.0.1:9");
    const std::string log = install_->server_dir() + "/vglog.ini";
    testing::WriteText(log, "first line\r\n");
    CMainFrame frame(*context_);
    frame.show();
    auto* pane = frame.findChild<QPlainTextEdit*>("runLog");
    QVERIFY(pane != nullptr);
    QTRY_VERIFY(pane->toPlainText().contains("first line"));
    testing::WriteText(log, "first line\r\nsecond line\r\n");
    QTRY_VERIFY(pane->toPlainText().contains("second line"));
    QCOMPARE(pane->toPlainText().count("first line"), 1);
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::ActivityViewTest)
#include "activity_view_test.moc"
