// The Options dialog refusing out-of-range minutes and writing an accepted one.
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "common/ini_profile.h"
#include "manager/ui/options_dialog.h"
#include "manager/ui/qt_prompts.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::Child;
using testing::ShownMessage;

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TestInstallation> home_;
  QtPrompts prompts_;

  std::string Stored() {
    return GetProfileString(home_->paths().program_ini_path, "OPTIONS", "FIRING_INTERVAL",
                            "<none>");
  }
  ShownMessage EnterAndOk(COptionsDlg& dialog, const QString& text) {
    Child<QLineEdit>(&dialog, "Interval")->selectAll();
    QTest::keyClicks(Child<QLineEdit>(&dialog, "Interval"), text);
    ShownMessage shown;
    AcceptNextMessage(&shown);
    QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    if (!shown.shown) QTest::qWait(50);
    return shown;
  }

 private slots:
  void init() {
    home_ = std::make_unique<testing::TestInstallation>(testing::ManagerHomeBuilder());
  }
  void cleanup() { home_.reset(); }

  void showsItsTextsAndTheStoredValue() {
    WriteProfileString(home_->paths().program_ini_path, "OPTIONS", "FIRING_INTERVAL", "12");
    COptionsDlg dialog(home_->paths().program_ini_path, prompts_);
    QCOMPARE(dialog.windowTitle(), QString("Options"));
    QCOMPARE(testing::LabelOf(&dialog, Child<QLineEdit>(&dialog, "Interval")), QString("&Fires rules every"));
    QCOMPARE(Child<QLineEdit>(&dialog, "Interval")->text(), QString("12"));
    QString missing;
    QVERIFY2(testing::EveryInputHasALabel(&dialog, &missing), qPrintable(missing));
  }

  void refusesSixtyOneAndZeroAndWritesSixty() {
    COptionsDlg dialog(home_->paths().program_ini_path, prompts_);
    QCOMPARE(Child<QLineEdit>(&dialog, "Interval")->text(), QString("1"));
    dialog.show();
    for (const char* refused : {"61", "0"}) {
      ShownMessage shown = EnterAndOk(dialog, refused);
      QCOMPARE(shown.text, QString("Please enter an integer between 1 and 60."));
      QCOMPARE(shown.caption, QString("Morvane Vigilo"));
      QCOMPARE(Child<QLabel>(&dialog, "Reason")->text(), shown.text);  // beside the edit as typed
      QVERIFY(dialog.isVisible());
      QCOMPARE(Stored(), std::string("<none>"));
    }
    ShownMessage shown = EnterAndOk(dialog, "abc");
    QCOMPARE(shown.text, QString("Please enter an integer."));
    shown = EnterAndOk(dialog, "60");
    QVERIFY(!shown.shown);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Stored(), std::string("60"));
  }

  void cancelWritesNothing() {
    COptionsDlg dialog(home_->paths().program_ini_path, prompts_);
    dialog.show();
    Child<QLineEdit>(&dialog, "Interval")->selectAll();
    QTest::keyClicks(Child<QLineEdit>(&dialog, "Interval"), "30");
    QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel),
                      Qt::LeftButton);
    QCOMPARE(Stored(), std::string("<none>"));
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::OptionsDialogTest)
#include "options_dialog_test.moc"
