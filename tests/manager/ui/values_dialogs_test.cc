// The Values Browse dialogs through the real rule browsers on the demo
// installation: the Notify List for users and fields, the Internet address,
// and the Field Values dialog with the Values and Input Value dialogs it
// opens on double-clicks.
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTextBrowser>

#include "data/name_lists.h"
#include "manager/ui/field_values_dialog.h"
#include "manager/ui/help_window.h"
#include "manager/ui/input_value_dialog.h"
#include "manager/ui/notify_list_dialog.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/rule_browsers_qt.h"
#include "manager/ui/values_dialog_view.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::Child;
using testing::AnswerModal;
using testing::Button;
using testing::ShownMessage;

namespace {

QStringList Selected(QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) {
    if (list->item(i)->isSelected()) names << list->item(i)->text();
  }
  return names;
}

QListWidgetItem* Item(QListWidget* list, const QString& text) {
  QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
  return found.isEmpty() ? nullptr : found.first();
}

void Click(QListWidget* list, const QString& text) {
  QListWidgetItem* item = Item(list, text);
  QVERIFY2(item != nullptr, qPrintable(text));
  list->scrollToItem(item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

QStringList Shown(QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) {
    if (!list->item(i)->isHidden()) names << list->item(i)->text();
  }
  return names;
}

void DoubleClick(QListWidget* list, const QString& text) {
  QListWidgetItem* item = Item(list, text);
  QVERIFY2(item != nullptr, qPrintable(text));
  QPoint at = list->visualItemRect(item).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void ClickOk(QDialog* dialog) {
  QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                    Qt::LeftButton);
}

}  // namespace

class ValuesDialogsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TestInstallation> home_;
  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;
  ProjectSelection bugs_{"0", kServerDirSource, "Demo", "Bugs"};

 private slots:
  void init() {
    context_ = std::make_unique<ManagerContext>(prompts_);
    home_ = std::make_unique<testing::TestInstallation>(testing::InstallationBuilder::Demo());
    UserNameList() = {"sysop", "ann", "bob", "carl", "dave", "erin"};
    GroupNameList() = {"Developers", "Support"};
  }
  void cleanup() {
    UserNameList().clear();
    GroupNameList().clear();
    home_.reset();
  }

  void userListReopensOnItsOwnResult() {
    QtRuleBrowsers browsers(*context_, nullptr);
    AnswerModal<CNotifyListDlg>([](CNotifyListDlg* dialog) {
      QCOMPARE(dialog->windowTitle(), QString("User List"));
      QCOMPARE(testing::LabelOf(dialog, Child<QListWidget>(dialog, "List")), QString("&Notify List:"));
      QVERIFY(!Child<QLineEdit>(dialog, "OtherFields")->isVisible());
      QCOMPARE(Selected(Child<QListWidget>(dialog, "List")), QStringList{"bob"});
      Click(Child<QListWidget>(dialog, "List"), "erin");
      Click(Child<QListWidget>(dialog, "List"), "ann");
      ClickOk(dialog);
    });
    std::optional<std::string> values = browsers.NotifyList(bugs_, "User", "BOB");
    QCOMPARE(values, std::optional<std::string>("ann,bob,erin"));

    AnswerModal<CNotifyListDlg>([](CNotifyListDlg* dialog) {
      QCOMPARE(Selected(Child<QListWidget>(dialog, "List")), (QStringList{"ann", "bob", "erin"}));
      // Nothing chosen: a beep, and the dialog stays.
      Child<QListWidget>(dialog, "List")->clearSelection();
      ClickOk(dialog);
      QVERIFY(dialog->isVisible());
      dialog->reject();
    });
    QCOMPARE(browsers.NotifyList(bugs_, "User", *values), std::optional<std::string>());
  }

  void fieldListKeepsOtherFieldsAndOpensItsHelp() {
    QtRuleBrowsers browsers(*context_, nullptr);
    AnswerModal<CNotifyListDlg>([](CNotifyListDlg* dialog) {
      QCOMPARE(dialog->windowTitle(), QString("Field List"));
      QCOMPARE(Child<QListWidget>(dialog, "List")->count(), 2);
      QCOMPARE(Selected(Child<QListWidget>(dialog, "List")), QStringList{"Owner"});
      QVERIFY(Child<QLineEdit>(dialog, "OtherFields")->isVisible());
      QCOMPARE(testing::LabelOf(dialog, Child<QLineEdit>(dialog, "OtherFields")),
               QString("&Other Field(s) :"));
      QCOMPARE(Child<QLineEdit>(dialog, "OtherFields")->text(), QString("Title"));
      QString missing;
      QVERIFY2(testing::EveryInputHasALabel(dialog, &missing), qPrintable(missing));
      QTest::mouseClick(Button(dialog, "&Help"), Qt::LeftButton);
      QCOMPARE(Child<QTextBrowser>(ProgramHelpWindow(), "HelpText")->documentTitle(), QString("Notify list"));
      ProgramHelpWindow()->close();
      Click(Child<QListWidget>(dialog, "List"), "Reporter");
      ClickOk(dialog);
    });
    QCOMPARE(browsers.NotifyList(bugs_, "Field", "Owner,Title"),
             std::optional<std::string>("Owner,Reporter,Title"));
  }

  void internetAddressIsChecked() {
    QtRuleBrowsers browsers(*context_, nullptr);
    ShownMessage shown;
    AnswerModal<CInputValueDlg>([&shown](CInputValueDlg* dialog) {
      QCOMPARE(dialog->windowTitle(), QString("Input Value Dialog"));
      QCOMPARE(testing::LabelOf(dialog, Child<QLineEdit>(dialog, "Value")), QString("Internet Address:"));
      QCOMPARE(Child<QLineEdit>(dialog, "Value")->text(), QString("qa@demo"));
      AcceptNextMessage(&shown);
      QTest::mouseClick(Button(dialog, "&Ok"), Qt::LeftButton);
      QVERIFY(dialog->isVisible());
      QTest::keyClicks(Child<QLineEdit>(dialog, "Value"), ".example");
      QTest::mouseClick(Button(dialog, "&Ok"), Qt::LeftButton);
    });
    QCOMPARE(browsers.InputAddress(bugs_, "qa@demo"),
             std::optional<std::string>("qa@demo.example"));
    QVERIFY(shown.shown);
    QCOMPARE(shown.text, QString("Invalid Internet Address"));
    QCOMPARE(shown.caption, QString("Morvane Vigilo"));
  }

  void fieldValuesComposeAssignmentsThroughTheirDialogs() {
    QtRuleBrowsers browsers(*context_, nullptr);
    AnswerModal<CFieldValuesDlg>([](CFieldValuesDlg* dialog) {
      QCOMPARE(dialog->windowTitle(), QString("Field Values Dialog"));
      QCOMPARE(Child<QListWidget>(dialog, "AssignmentList")->count(), 1);
      QCOMPARE(Child<QListWidget>(dialog, "FieldList")->count(), 8);
      // A list field opens the Values dialog, single selection.
      AnswerModal<CValuesDlg>([](CValuesDlg* values) {
        QCOMPARE(values->windowTitle(), QString("Values Dialog"));
        QCOMPARE(Child<QListWidget>(values, "List")->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(Child<QListWidget>(values, "List")->count(), 4);
        QCOMPARE(testing::LabelOf(values, Child<QLineEdit>(values, "OtherValues")),
                 QString("Other Value[s]:"));
        Click(Child<QListWidget>(values, "List"), "Closed");
        QTest::mouseClick(Button(values, "Ok"), Qt::LeftButton);
      });

      DoubleClick(Child<QListWidget>(dialog, "FieldList"), "Status");
      // Any other field opens the Input Value dialog labelled with its name.
      AnswerModal<CInputValueDlg>([](CInputValueDlg* input) {
        QCOMPARE(testing::LabelOf(input, Child<QLineEdit>(input, "Value")), QString("Title"));
        QTest::keyClicks(Child<QLineEdit>(input, "Value"), "a=b");
        QTest::mouseClick(Button(input, "&Ok"), Qt::LeftButton);
      });
      Child<QListWidget>(dialog, "FieldList")->setCurrentRow(0);
      QTest::mouseClick(Button(dialog, "A&dd..."), Qt::LeftButton);
      QCOMPARE(Child<QListWidget>(dialog, "AssignmentList")->currentItem()->text(), QString("Title=a=b"));
      // Modify the first assignment; its value goes in whole.
      AnswerModal<CInputValueDlg>([](CInputValueDlg* input) {
        QCOMPARE(Child<QLineEdit>(input, "Value")->text(), QString("Awaiting verification"));
        Child<QLineEdit>(input, "Value")->setText("Fixed in 5.1");
        QTest::mouseClick(Button(input, "&Ok"), Qt::LeftButton);
      });
      DoubleClick(Child<QListWidget>(dialog, "AssignmentList"), "Resolution=Awaiting verification");
      QCOMPARE(Child<QListWidget>(dialog, "AssignmentList")->item(0)->text(), QString("Resolution=Fixed in 5.1"));
      Child<QListWidget>(dialog, "AssignmentList")->setCurrentRow(2);
      QTest::mouseClick(Button(dialog, "R&emove"), Qt::LeftButton);
      ClickOk(dialog);
    });
    QCOMPARE(browsers.FieldValues(bugs_, "Resolution=Awaiting verification"),
             std::optional<std::string>("Resolution=Fixed in 5.1;Status=Closed"));
  }

  void filterBoxesHideOtherEntriesAndKeepTheChoice() {
    CNotifyListDlg users("User", {"ann", "bob", "carl", "dave"}, "dave", prompts_);
    users.show();
    QListWidget* list = Child<QListWidget>(&users, "List");
    QTest::keyClicks(Child<QLineEdit>(&users, "Filter"), "A");
    QCOMPARE(Shown(list), (QStringList{"ann", "carl", "dave"}));
    QTest::keyClicks(Child<QLineEdit>(&users, "Filter"), "n");
    QCOMPARE(Shown(list), QStringList{"ann"});
    QTest::keyClick(Child<QLineEdit>(&users, "Filter"), Qt::Key_Return);
    QVERIFY(users.isVisible() && users.result() != QDialog::Accepted);  // Enter did not press OK
    Click(list, "ann");
    ClickOk(&users);
    QCOMPARE(users.values(), std::string("ann,dave"));  // the hidden choice stays

    CFieldValuesDlg fields(ReadSelectionFields(context_->paths(), bugs_, prompts_), "", prompts_);
    fields.show();
    QTest::keyClicks(Child<QLineEdit>(&fields, "Filter"), "stat");
    QCOMPARE(Shown(Child<QListWidget>(&fields, "FieldList")), QStringList{"Status"});

    // Sorted by its header's arrow, a list still answers for the entries chosen.
    CNotifyListDlg sorted("User", {"ann", "bob", "carl"}, "", prompts_);
    sorted.show();
    Child<QHeaderView>(&sorted, "SortHeader")->setSortIndicator(0, Qt::DescendingOrder);
    QCOMPARE(Shown(Child<QListWidget>(&sorted, "List")), (QStringList{"carl", "bob", "ann"}));
    Click(Child<QListWidget>(&sorted, "List"), "carl");
    ClickOk(&sorted);
    QCOMPARE(sorted.values(), std::string("carl"));
  }

  void inputValueOfANumberFieldRefusesText() {
    CInputValueDlg input("Priority", "", prompts_, nullptr, /*numeric=*/true);
    input.show();
    QTest::keyClicks(Child<QLineEdit>(&input, "Value"), "high");
    QCOMPARE(Child<QLabel>(&input, "Reason")->text(), QString("\"high\" is not a number."));
    QTest::mouseClick(Button(&input, "&Ok"), Qt::LeftButton);
    QVERIFY(input.isVisible());
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::ValuesDialogsTest)
#include "values_dialogs_test.moc"
