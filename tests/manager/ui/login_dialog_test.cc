// The login dialog, typed into and clicked on the demo installation.
#include <QLineEdit>
#include <QTest>

#include "manager/ui/login_dialog.h"
#include "manager/ui/qt_prompts.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::Child;
using testing::Button;
using testing::ShownMessage;

class LoginDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TestInstallation> home_;
  QtPrompts prompts_;
  int reads_ = 0;

  UserTableReader CountingReader() {
    return [this, reader = InstallationUserTable()] {
      ++reads_;
      return reader();
    };
  }

  // Types the name and password and clicks Ok; what a message box showed.
  ShownMessage Submit(CLoginDlg& dialog, const QString& name, const QString& password) {
    Child<QLineEdit>(&dialog, "LoginName")->clear();
    QTest::keyClicks(Child<QLineEdit>(&dialog, "LoginName"), name);
    Child<QLineEdit>(&dialog, "Password")->clear();
    QTest::keyClicks(Child<QLineEdit>(&dialog, "Password"), password);
    ShownMessage shown;
    AcceptNextMessage(&shown);
    QTest::mouseClick(Button(&dialog, "&Ok"), Qt::LeftButton);
    // Let an unanswered look-up run out when no box came.
    if (!shown.shown) QTest::qWait(50);
    return shown;
  }

 private slots:
  void init() {
    home_ = std::make_unique<testing::TestInstallation>(testing::InstallationBuilder::Demo());
    reads_ = 0;
  }
  void cleanup() { home_.reset(); }

  void showsItsTextsAndLimits() {
    CLoginDlg dialog(prompts_, CountingReader());
    QCOMPARE(dialog.windowTitle(), QString("Verify Password "));
    QStringList texts;
    for (auto* label : dialog.findChildren<QLabel*>()) texts << label->text();
    QVERIFY(texts.contains("Welcome to Morvane VIGILO."));
    QVERIFY(texts.contains("Please enter your login name and password. "));
    QCOMPARE(testing::LabelOf(&dialog, Child<QLineEdit>(&dialog, "LoginName")), QString("Login &Name:"));
    QCOMPARE(testing::LabelOf(&dialog, Child<QLineEdit>(&dialog, "Password")), QString("&Password:"));
    QCOMPARE(Child<QLineEdit>(&dialog, "LoginName")->text(), QString("sysop"));
    QCOMPARE(Child<QLineEdit>(&dialog, "LoginName")->maxLength(), 31);
    QCOMPARE(Child<QLineEdit>(&dialog, "Password")->maxLength(), 15);
    QCOMPARE(Child<QLineEdit>(&dialog, "Password")->echoMode(), QLineEdit::Password);
    QVERIFY(Child<QLineEdit>(&dialog, "Password")->text().isEmpty());
    QVERIFY(Button(&dialog, "&Ok") != nullptr);
    QVERIFY(Button(&dialog, "&Cancel") != nullptr);
    QString missing;
    QVERIFY2(testing::EveryInputHasALabel(&dialog, &missing), qPrintable(missing));
  }

  void documentedPasswordLogsIn() {
    CLoginDlg dialog(prompts_, CountingReader());
    dialog.show();
    ShownMessage shown = Submit(dialog, "sysop", demo::kDemoSysopPassword);
    QVERIFY(!shown.shown);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(reads_, 1);
  }

  void wrongPasswordKeepsTheDialog() {
    CLoginDlg dialog(prompts_, CountingReader());
    dialog.show();
    ShownMessage shown = Submit(dialog, "sysop", "guess");
    QVERIFY(shown.shown);
    QCOMPARE(shown.text, QString("Invalid Password\n"));
    QCOMPARE(shown.caption, QString("Morvane Vigilo"));
    QCOMPARE(shown.icon, QMessageBox::NoIcon);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(Child<QLineEdit>(&dialog, "Password")->selectedText(), QString("guess"));
  }

  void otherUsersAreRefusedWithoutReadingTheTable() {
    CLoginDlg dialog(prompts_, CountingReader());
    dialog.show();
    ShownMessage shown = Submit(dialog, "Sysop", demo::kDemoSysopPassword);
    QCOMPARE(shown.text, QString("Only sysop can run Vigilo"));
    shown = Submit(dialog, "ann", "ann");
    QCOMPARE(shown.text, QString("Only sysop can run Vigilo"));
    QCOMPARE(reads_, 0);
    QVERIFY(dialog.isVisible());
  }

  void cancelReadsNothing() {
    CLoginDlg dialog(prompts_, CountingReader());
    dialog.show();
    QTest::keyClicks(Child<QLineEdit>(&dialog, "Password"), "vigilo");
    QTest::mouseClick(Button(&dialog, "&Cancel"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(reads_, 0);
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::LoginDialogTest)
#include "login_dialog_test.moc"
