// The real main window runs the in-process server on a generated
// installation: Start fires a Notify rule at once (the mail reaches a real
// SMTP server, the flag is written), Stop and Exit end it, and an empty rule
// table is refused with the engine's own message.
#include <QAction>
#include <QKeyEvent>
#include <QTest>

#include <memory>

#include "data/server_paths.h"
#include "manager/commands.h"
#include "manager/ui/main_frame.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/server_status_dialog.h"
#include "manager/ui/vigilo_view.h"
#include "platform/sql/database.h"
#include "tests/support/rule_builder.h"
#include "tests/support/test_installation.h"
#include "tests/manager/ui/dialog_helpers.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/installation_writer.h"

namespace vigilo {


class ServerTest : public QObject {
  Q_OBJECT

 private:
  // Project Proj with table Bugs: record 1 closed, 2 open; users bob (SMTP)
  // and ann; rules as given; SMTP to the sink.
  void Install(std::vector<demo::RuleDescription> rules, const std::string& smtp_server) {
    demo::TableDescription bugs;
    bugs.name = "Bugs";
    bugs.fields = {
        demo::FieldDescription{"Title", demo::kFieldText, 30, {}, demo::kFlagDefault, false, ""},
        demo::FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
    };
    bugs.records = {
        demo::RecordDescription{1, "", {{"Title", "Crash on start"}, {"Status", "Closed"}}, "", ""},
        demo::RecordDescription{2, "", {{"Title", "Wrong total"}, {"Status", "Open"}}, "", ""}};
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.projects = {demo::ProjectDescription{"Proj", "", {bugs}}};
    description.users = {{"ann", "", 0, "ann", "Ann A."},
                         {"bob", "", 5, "bob@example.org", "Bob B."}};
    description.rules = std::move(rules);
    description.mail.smtp_server = smtp_server;
    description.mail.smtp_sender = "vigilo@demo.example";
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
  }

  int FlagRows() const {
    Database db;
    db.Open("Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=" +
                install_->TableDir("Proj", "Bugs") + ";DriverId=277;",
            Database::kNoOdbcDialog);
    Recordset rs;
    int rows = 0;
    for (rs.Open(db, "SELECT FormID FROM BugsVGLS WHERE RuleID = 1"); !rs.IsEOF(); rs.MoveNext()) {
      ++rows;
    }
    return rows;
  }

  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;
  std::unique_ptr<testing::TestInstallation> install_;

 private slots:
  void init() { context_ = std::make_unique<ManagerContext>(prompts_); }

  void initTestCase() {
    setenv("VIGILO_MAPI_LIBRARY", VGMAPI_PATH, 1);
    setenv("VIGILO_SMTP_LIBRARY", VGSMTP_PATH, 1);
  }

  void cleanup() {
    SetProgramDirectory("");
    install_.reset();
  }

  void startFiresTheFirstTickAtOnceAndStopEndsIt() {
    test::SmtpSink sink;
    Install({testing::RuleBuilder(1).Notify("User", "bob")}, sink.host_port());
    CMainFrame frame(*context_);
    frame.show();
    QCOMPARE(frame.PaneText(1), QString());

    frame.action(kStartServerCommand)->trigger();
    QVERIFY(frame.server_running());
    QCOMPARE(frame.PaneText(1), QString("Vigilo Server is running."));
    QVERIFY(!frame.action(kStartServerCommand)->isEnabled());
    QVERIFY(!frame.action(kSetupRulesCommand)->isEnabled());
    QVERIFY(frame.action(kStopServerCommand)->isEnabled());
    // In sight after the start, gone a moment later.
    QVERIFY(frame.view()->status_window() != nullptr && frame.view()->status_window()->isVisible());
    QTRY_VERIFY(frame.view()->status_window() == nullptr);
    QVERIFY(frame.view()->TimerActive(kFireTimer));

    const auto mail = sink.WaitForMessages(1);
    QCOMPARE(mail.size(), size_t(1));
    QCOMPARE(QString::fromStdString(mail[0].subject),
             QString("VIGILO Rule# 1 , Record# 1 of 0\\ORVIK\\Proj\\Bugs"));
    QCOMPARE(QString::fromStdString(mail[0].recipients.at(0)), QString("bob@example.org"));
    QTRY_COMPARE_WITH_TIMEOUT(FlagRows(), 1, 10000);
    QTRY_VERIFY(frame.view()->server().worker()->busy_flag.load() == 0);

    frame.action(kStopServerCommand)->trigger();
    QVERIFY(!frame.server_running());
    QCOMPARE(frame.PaneText(1), QString("Vigilo Server is stopped."));
    QVERIFY(frame.action(kStartServerCommand)->isEnabled());
    QVERIFY(!frame.action(kStopServerCommand)->isEnabled());
    QVERIFY(!frame.view()->TimerActive(kFireTimer));
    QTRY_VERIFY(!frame.view()->server().releasing());
    // The run log is the installation's.
    QVERIFY(install_->ReadRunLog().find("ORVIK PROJECTS") != std::string::npos);
  }

  void exitWhileRunningClosesOnceStopped() {
    test::SmtpSink sink;
    Install({testing::RuleBuilder(1).Notify("User", "bob")}, sink.host_port());
    CMainFrame frame(*context_);
    frame.show();
    frame.action(kStartServerCommand)->trigger();
    QVERIFY(frame.server_running());
    sink.WaitForMessages(1);
    frame.action(kExitCommand)->trigger();
    // Closing waited for the stop and then happened by itself.
    QTRY_VERIFY(!frame.isVisible());
    QVERIFY(!frame.server_running());
    QCOMPARE(frame.PaneText(1), QString("Vigilo Server is stopped."));
  }

  void emptyRuleTableShowsTheEnginesMessage() {
    Install({}, "127.0.0.1:9");
    CMainFrame frame(*context_);
    frame.show();
    testing::ShownMessage shown;
    testing::AcceptNextMessage(&shown);
    frame.action(kStartServerCommand)->trigger();
    QVERIFY(shown.shown);
    QCOMPARE(shown.text,
             QString("No rules are defined. Please create the rules and then start the server"));
    QCOMPARE(shown.caption, QString("Morvane Vigilo"));
    QVERIFY(!frame.server_running());
    QVERIFY(frame.action(kStartServerCommand)->isEnabled());
    QVERIFY(!frame.action(kStopServerCommand)->isEnabled());
    QCOMPARE(frame.PaneText(1), QString());
  }

  void statusWindowGoesOnAnyKeyPress() {
    CMainFrame frame(*context_);
    frame.show();
    QVERIFY(frame.view()->ShowStatusWindow("Vigilo service is stopping..."));
    CServerStatusDlg* status = frame.view()->status_window();
    QVERIFY(status != nullptr);
    QCOMPARE(status->windowTitle(), QString("Vigilo Server"));
    QCOMPARE(status->Text(), QString("Vigilo service is stopping..."));
    QVERIFY(status->isVisible());
    QTest::keyClick(&frame, Qt::Key_A);
    QTRY_VERIFY(frame.view()->status_window() == nullptr);
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::ServerTest)
#include "server_test.moc"
