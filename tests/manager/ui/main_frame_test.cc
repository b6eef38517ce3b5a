// The main window: menus, toolbar, status bar, and the enable rules.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include "manager/commands.h"
#include "manager/ui/help_window.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/main_frame.h"
#include "manager/ui/qt_prompts.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"

namespace vigilo {

using testing::Child;

class MainFrameTest : public QObject {
  Q_OBJECT

 private:
  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;

  static QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) {
      texts << (action->isSeparator() ? QString("-") : action->text());
    }
    return texts;
  }

 private slots:
  void init() { context_ = std::make_unique<ManagerContext>(prompts_); }

  void hasTheMenusOfTheCommands() {
    CMainFrame frame(*context_);
    QCOMPARE(frame.windowTitle(), QString("Morvane Vigilo"));
    QList<QAction*> menus = frame.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[0]->text(), QString("&File"));
    QCOMPARE(MenuTexts(menus[0]->menu()),
             QStringList({"&Setup Rules...", "&View Rules...", "-", "&Print...", "Print Previe&w",
                          "-", "&Options...", "-", "E&xit"}));
    QCOMPARE(MenuTexts(menus[1]->menu()),
             QStringList({"S&tart Vigilo Server", "St&op Vigilo Server"}));
    QCOMPARE(menus[2]->text(), QString("&Help"));
    QCOMPARE(MenuTexts(menus[2]->menu()), QStringList({"&Contents...", "-", "&About Vigilo..."}));
    QAction* setup = frame.action(kSetupRulesCommand);
    QCOMPARE(setup->statusTip(), QString("Setup Rules"));
    QCOMPARE(setup->toolTip(), QString("Setup Rules"));
    QCOMPARE(frame.action(kHelpContentsCommand)->statusTip(), QString("Display Help Contents"));
    QCOMPARE(frame.action(kHelpContentsCommand)->toolTip(), QString("Help"));
    QCOMPARE(frame.action(kStartServerCommand)->statusTip(), QString("Start Vigilo Server."));
  }

  void toolbarHoldsThreeLargeButtons() {
    CMainFrame frame(*context_);
    QToolBar* toolbar = Child<QToolBar>(&frame, "MainToolbar");
    QCOMPARE(toolbar->iconSize(), QSize(32, 32));
    QList<QAction*> buttons = toolbar->actions();
    QCOMPARE(buttons.size(), 3);
    QCOMPARE(buttons[0], frame.action(kSetupRulesCommand));
    QCOMPARE(buttons[1], frame.action(kViewRulesCommand));
    QCOMPARE(buttons[2], frame.action(kHelpContentsCommand));
    for (QAction* button : buttons) QVERIFY(!button->icon().isNull());
  }

  void statusBarIsReadyWithItsIndicators() {
    CMainFrame frame(*context_);
    frame.show();
    QCOMPARE(frame.PaneText(0), QString("Ready"));
    QCOMPARE(frame.PaneText(1), QString());
    QCOMPARE(frame.statusBar()->accessibleName(), QString("Status"));
    // A prompt that ends gives way to the idle text again.
    frame.statusBar()->showMessage("Setup Rules");
    frame.statusBar()->clearMessage();
    QCOMPARE(frame.PaneText(0), QString("Ready"));
    frame.SetPaneText(1, "Vigilo Server is running.");
    QCOMPARE(frame.PaneText(1), QString("Vigilo Server is running."));
  }

  void menusHaveUniqueMnemonicsAndTheDesktopKeys() {
    CMainFrame frame(*context_);
    QList<QList<QAction*>> menus = {frame.menuBar()->actions()};
    for (QAction* menu : frame.menuBar()->actions()) menus << menu->menu()->actions();
    for (const QList<QAction*>& actions : menus) {
      QSet<QChar> seen;
      for (QAction* action : actions) {
        if (action->isSeparator()) continue;
        QChar letter = action->text().at(action->text().indexOf('&') + 1).toLower();
        QVERIFY2(!seen.contains(letter), qPrintable(action->text()));
        seen.insert(letter);
      }
    }
    QCOMPARE(frame.action(kPrintCommand)->shortcut(), QKeySequence("Ctrl+P"));
    QCOMPARE(frame.action(kExitCommand)->shortcut(), QKeySequence("Ctrl+Q"));
  }

  void serverStateEnablesTheCommands() {
    CMainFrame frame(*context_);
    QVERIFY(frame.action(kSetupRulesCommand)->isEnabled());
    QVERIFY(frame.action(kStartServerCommand)->isEnabled());
    QVERIFY(!frame.action(kStopServerCommand)->isEnabled());
    frame.SetServerRunning(true);
    QVERIFY(!frame.action(kSetupRulesCommand)->isEnabled());
    QVERIFY(!frame.action(kStartServerCommand)->isEnabled());
    QVERIFY(frame.action(kStopServerCommand)->isEnabled());
    QVERIFY(frame.action(kViewRulesCommand)->isEnabled());
    QVERIFY(frame.action(kOptionsCommand)->isEnabled());
    frame.SetServerRunning(false);
    QVERIFY(frame.action(kSetupRulesCommand)->isEnabled());
    QVERIFY(!frame.action(kStopServerCommand)->isEnabled());
  }

  void startServerWithoutMailSettingsSaysSo() {
    testing::TestInstallation home{testing::ManagerHomeBuilder()};
    home.WriteServerFile("morvik.ini", "[Orvik Dsn]\nProj=/nowhere\n");
    CMainFrame frame(*context_);
    frame.show();
    testing::ShownMessage shown;
    testing::AcceptNextMessage(&shown);
    frame.action(kStartServerCommand)->trigger();
    QVERIFY(shown.shown);
    QCOMPARE(shown.text, QString("Unable to run Vigilo Server.\nMail section does not exist in morvik.ini."));
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QVERIFY(!frame.server_running());
  }

  void helpContentsOpensTheHelpWindow() {
    CMainFrame frame(*context_);
    frame.show();
    InstallHelpKey(*qApp);
    QTest::keyClick(&frame, Qt::Key_F1);
    HelpWindow* help = ProgramHelpWindow();
    QVERIFY(help->isVisible());
    QCOMPARE(Child<QTextBrowser>(help, "HelpText")->documentTitle(), QString("Vigilo Help Contents"));
    QVERIFY(Child<QTextBrowser>(help, "HelpText")->toPlainText().contains("Choosing a project"));
    help->ShowTopic(618);
    QCOMPARE(Child<QTextBrowser>(help, "HelpText")->documentTitle(), QString("Choosing a project"));
    QTest::mouseClick(Child<QPushButton>(help, "HelpBack"), Qt::LeftButton);
    QCOMPARE(Child<QTextBrowser>(help, "HelpText")->documentTitle(), QString("Vigilo Help Contents"));
    help->ShowTopic(618);
    QTest::mouseClick(Child<QPushButton>(help, "HelpHome"), Qt::LeftButton);
    QCOMPARE(Child<QTextBrowser>(help, "HelpText")->documentTitle(), QString("Vigilo Help Contents"));
    help->close();
  }

  void setupRulesOpensTheOpenProjectDialog() {
    testing::TestInstallation home{testing::InstallationBuilder::Demo()};
    CMainFrame frame(*context_);
    frame.show();
    QString title;
    testing::AnswerModal<QDialog>([&title](QDialog* dialog) {
      title = dialog->windowTitle();
      dialog->reject();
    });
    frame.action(kSetupRulesCommand)->trigger();
    QCOMPARE(title, QString("Open Project"));
    QCOMPARE(frame.PaneText(0), QString("Ready"));
  }

  void aboutBoxShowsTheVersion() {
    CMainFrame frame(*context_);
    frame.show();
    QString title;
    QStringList texts;
    testing::AnswerModal<QDialog>([&](QDialog* dialog) {
      title = dialog->windowTitle();
      for (auto* label : dialog->findChildren<QLabel*>()) texts << label->text();
      dialog->accept();
    });
    frame.action(kAboutCommand)->trigger();
    QCOMPARE(title, QString("About Morvane Vigilo"));
    QVERIFY(texts.join("\n").contains("Morvane Vigilo Version 5.0-4"));
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::MainFrameTest)
#include "main_frame_test.moc"
