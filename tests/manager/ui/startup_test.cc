// The program's start-up on the demo installation, with the real main window,
// the real login dialog and the build's mail-system provider.
#include <stdlib.h>

#include <QLineEdit>
#include <QTest>

#include "data/name_lists.h"
#include "manager/ui/frame_windows.h"
#include "manager/ui/login_dialog.h"
#include "manager/ui/qt_prompts.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::Child;
using testing::ShownMessage;

class StartupTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TestInstallation> home_;
  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;

 private slots:
  void init() {
    context_ = std::make_unique<ManagerContext>(prompts_);
    home_ = std::make_unique<testing::TestInstallation>(testing::InstallationBuilder::Demo());
  }
  void cleanup() {
    home_.reset();
    unsetenv("VIGILO_MAPI_LIBRARY");
  }

  void supervisorLogsInAndTheListsAreFilled() {
#ifndef VGMAPI_PATH
    QSKIP("the mail-system provider is not built");
#else
    setenv("VIGILO_MAPI_LIBRARY", VGMAPI_PATH, 1);
    CMainFrame frame(*context_);
    FrameWindows windows(frame, prompts_);
    CVigiloApp app(*context_, windows);
    bool frame_shown_at_login = false;
    testing::AnswerModal<CLoginDlg>([&](CLoginDlg* login) {
      frame_shown_at_login = frame.isVisible();
      QTest::keyClicks(Child<QLineEdit>(login, "Password"), demo::kDemoSysopPassword);
      QTest::keyClick(Child<QLineEdit>(login, "Password"), Qt::Key_Return);
    });
    QVERIFY(app.InitInstance());
    QVERIFY(frame_shown_at_login);
    QVERIFY(frame.isVisible());
    QVERIFY(app.paths() != nullptr);
    QVERIFY(app.mail_loaded());
    QCOMPARE(UserNameList().front(), std::string("sysop"));
    QCOMPARE(GroupNameList().size(), size_t(2));
    app.ExitInstance();
    QVERIFY(UserNameList().empty());
#endif
  }

  void missingMailProviderEndsTheProgram() {
    home_.reset();
    testing::TestInstallation bare{testing::ManagerHomeBuilder()};
    CMainFrame frame(*context_);
    FrameWindows windows(frame, prompts_);
    CVigiloApp app(*context_, windows, [](const std::string&) {
      // Whatever the machine has installed, this start finds no provider.
      return MapiPlugin();
    });
    ShownMessage shown;
    AcceptNextMessage(&shown);
    QVERIFY(!app.InitInstance());
    QCOMPARE(shown.text, QString("Error loading MAPI32.DLL."));
    QCOMPARE(shown.caption, QString("Vigilo"));
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QVERIFY(!frame.isVisible());
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::StartupTest)
#include "startup_test.moc"
