// The Setup Rules dialog on a generated installation: its controls, a rule
// composed, added, edited, replaced and deleted through the real widgets,
// with the rule table read back after each step, and its rules printed.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include "common/ini_profile.h"
#include "data/rule_table.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/rule_list_view.h"
#include "manager/ui/setup_rules_dialog.h"
#include "platform/xbase/dbf_table.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"
#include "tests/manager/ui/rule_print_helpers.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::AnswerModal;
using testing::Child;
using testing::Button;
using testing::ShownMessage;

namespace {

// The Browse dialogs are tested on their own; here they open nothing.
class NoBrowsers : public RuleBrowsers {
 public:
  std::optional<std::string> InputAddress(const ProjectSelection&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> NotifyList(const ProjectSelection&, const std::string&,
                                        const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> FieldValues(const ProjectSelection&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<QueryType> SelectQueryType() override { return std::nullopt; }
  std::optional<std::string> QueryBuilder(const ProjectSelection&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> SqlQuery(const ProjectSelection&, const std::string&) override {
    return std::nullopt;
  }
};

// One record of the rule table as "id kind dsn table action target values cond flag".
QStringList Records(const std::string& path) {
  QStringList records;
  auto table = DbfTable::Open(path, false);
  for (bool on = table->GoFirst(); on; on = table->Skip()) {
    records << QString::fromStdString(
        std::to_string(table->FieldLong(0)) + " " + std::to_string(table->FieldLong(1)) + " " +
        table->Text(2) + " " + table->Text(3) + " " + table->Text(4) + " " + table->Text(5) +
        " " + table->Text(6) + " " + table->Text(7) + " " + std::to_string(table->FieldLong(8)));
  }
  return records;
}

void AnswerNextQuestion(bool yes) {
  AnswerModal<QMessageBox>([yes](QMessageBox* box) {
    box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
  });
}

}  // namespace

class SetupRulesDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TestInstallation> home_;
  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;
  NoBrowsers browsers_;
  ProjectSelection selection_;

  std::string RuleTable() const { return home_->rule_table(); }

  // Selects the list item.
  static void SelectItem(CSetupRulesDlg& dialog, int item) {
    Child<CRuleListCtrl>(&dialog, "ListOfRules")->selectRow(item);
  }

  // Composes a rule as the Browse dialogs would hand it over.
  static void Compose(CSetupRulesDlg& dialog, int action, const std::string& values,
                      const std::string& condition) {
    Child<QComboBox>(&dialog, "Action")->setCurrentIndex(action);
    dialog.logic().set_values(values);
    dialog.logic().set_condition(condition);
    dialog.Refresh();
  }

 private slots:
  void init() {
    context_ = std::make_unique<ManagerContext>(prompts_);
    home_ = std::make_unique<testing::TestInstallation>(testing::InstallationBuilder::Demo());
    std::string ini = home_->ProjectIni("Demo");
    WriteProfileString(ini, "Morvane Orvik", "Bugs Datafile", "Bugs.dbf");
    WriteProfileString(ini, "Morvane Orvik", "Tasks Datafile", "Tasks.dbf");
    selection_ = {"0", "SERVERDIR", "Demo", ""};
  }
  void cleanup() { home_.reset(); }

  void showsItsControlsInTabOrder() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    QCOMPARE(dialog.windowTitle(), QString("Setup Rules Dialog"));
    QCOMPARE(testing::LabelOf(&dialog, Child<QComboBox>(&dialog, "ProjectTable")), QString("Project &Table:"));
    QCOMPARE(testing::LabelOf(&dialog, Child<QComboBox>(&dialog, "Action")), QString("Act&ion"));
    QCOMPARE(testing::LabelOf(&dialog, Child<QComboBox>(&dialog, "Target")), QString("Tar&get:"));
    QCOMPARE(testing::LabelOf(&dialog, Child<QLineEdit>(&dialog, "Values")), QString("&Values:"));
    QCOMPARE(testing::LabelOf(&dialog, Child<QPlainTextEdit>(&dialog, "RuleCondition")), QString("R&ule Condition:"));
    QCOMPARE(Child<QComboBox>(&dialog, "ProjectTable")->accessibleName(), QString("Project Table:"));
    QCOMPARE(Button(&dialog, "&Browse...")->accessibleName(), QString("Browse values"));
    QCOMPARE(Button(&dialog, "Bro&wse...")->accessibleName(), QString("Browse condition"));
    QCOMPARE(testing::LabelOf(&dialog, Child<CRuleListCtrl>(&dialog, "ListOfRules")), QString("&List of Rules"));
    QString missing;
    QVERIFY2(testing::EveryInputHasALabel(&dialog, &missing), qPrintable(missing));
    QVERIFY(Child<QLineEdit>(&dialog, "Values")->isReadOnly());
    QVERIFY(Child<QPlainTextEdit>(&dialog, "RuleCondition")->isReadOnly());
    QCOMPARE(Child<QLineEdit>(&dialog, "Values")->maxLength(), 256);
    for (auto* button : dialog.findChildren<QPushButton*>()) QVERIFY(!button->autoDefault());
    QCOMPARE(Child<QComboBox>(&dialog, "ProjectTable")->count(), 3);
    QCOMPARE(Child<QComboBox>(&dialog, "ProjectTable")->itemText(0), QString("Demo\\Demo"));
    QCOMPARE(Child<QComboBox>(&dialog, "ProjectTable")->itemText(1), QString("Demo\\Bugs"));
    QCOMPARE(Child<QComboBox>(&dialog, "Action")->itemText(1), QString("Update"));
    QCOMPARE(Child<QComboBox>(&dialog, "Action")->currentIndex(), -1);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->columnCount(), 6);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->headerData(5, Qt::Horizontal).toString(),
             QString("Enabled"));
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->headerData(1, Qt::Horizontal).toString(),
             QString("Action"));
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->columnWidth(4), 512);

    dialog.show();
    QVERIFY(!Child<QCheckBox>(&dialog, "RunAlways")->isVisible());
    QStringList chain;
    QWidget* widget = Child<QComboBox>(&dialog, "ProjectTable");
    do {
      if (widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
        chain << (qobject_cast<QPushButton*>(widget) ? qobject_cast<QPushButton*>(widget)->text()
                                                      : widget->objectName());
      }
      widget = widget->nextInFocusChain();
    } while (widget != Child<QComboBox>(&dialog, "ProjectTable"));
    QCOMPARE(chain, QStringList({"ProjectTable", "Action", "Target", "Values", "&Browse...",
                                 "RuleCondition", "Bro&wse...", "RuleFilter", "ListOfRules",
                                 "&New", "&Add", "&Edit", "&Replace", "&Print", "&Delete",
                                 "Enable", "Disable", "Te&st", "&Help", "&Close"}));
  }

  void composesAddsEditsReplacesAndDeletesARule() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    Child<QComboBox>(&dialog, "ProjectTable")->setCurrentIndex(1);
    QTest::mouseClick(Button(&dialog, "&New"), Qt::LeftButton);
    Compose(dialog, 1, "Priority=1", "(Status) is Open");
    QCOMPARE(Child<QComboBox>(&dialog, "Target")->currentText(), QString("Field"));
    QCOMPARE(Child<QLineEdit>(&dialog, "Values")->text(), QString("Priority=1"));
    QTest::mouseClick(Button(&dialog, "&Add"), Qt::LeftButton);
    QStringList records = Records(RuleTable());
    QCOMPARE(records.size(), 9);  // the demo's eight and the new one
    QCOMPARE(records.back(),
             QString("9 0 SERVERDIR Demo\\Bugs Update Field Priority=1 (Status) is Open 0"));
    // Listed after the demo's five rules on Bugs, in rule id order.
    const int added = 5;
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->rowCount(), added + 1);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->index(added, 0).data().toString(), QString("9"));

    // A dBase Query Builder rule cannot run always, after Edit too.
    QTest::mouseClick(Button(&dialog, "&New"), Qt::LeftButton);
    QCOMPARE(Child<QLineEdit>(&dialog, "Values")->text(), QString());
    SelectItem(dialog, added);
    QTest::mouseClick(Button(&dialog, "&Edit"), Qt::LeftButton);
    QCOMPARE(Child<QComboBox>(&dialog, "Action")->currentText(), QString("Update"));
    QCOMPARE(Child<QPlainTextEdit>(&dialog, "RuleCondition")->toPlainText(), QString("(Status) is Open"));
    QVERIFY(!Child<QCheckBox>(&dialog, "RunAlways")->isEnabled());
    QVERIFY(!Child<QCheckBox>(&dialog, "RunAlways")->isChecked());

    dialog.logic().set_values("Priority=2");
    dialog.Refresh();
    AnswerNextQuestion(false);
    QTest::mouseClick(Button(&dialog, "&Replace"), Qt::LeftButton);
    QCOMPARE(Records(RuleTable()), records);
    SelectItem(dialog, added);
    AnswerNextQuestion(true);
    QTest::mouseClick(Button(&dialog, "&Replace"), Qt::LeftButton);
    records.back() = "9 0 SERVERDIR Demo\\Bugs Update Field Priority=2 (Status) is Open 0";
    QCOMPARE(Records(RuleTable()), records);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->index(added, 3).data().toString(), QString("Priority=2"));

    SelectItem(dialog, added);
    AnswerNextQuestion(false);
    QTest::mouseClick(Button(&dialog, "&Delete"), Qt::LeftButton);
    QCOMPARE(Records(RuleTable()), records);
    SelectItem(dialog, added);
    AnswerNextQuestion(true);
    QTest::mouseClick(Button(&dialog, "&Delete"), Qt::LeftButton);
    records.removeLast();
    QCOMPARE(Records(RuleTable()), records);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->rowCount(), added);

    // Another table shows its own rules: the demo's three on Tasks.
    Child<QComboBox>(&dialog, "ProjectTable")->setCurrentIndex(2);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->rowCount(), 3);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "ListOfRules")->model()->index(0, 0).data().toString(), QString("4"));
    QCOMPARE(Child<QLineEdit>(&dialog, "Values")->text(), QString());
  }

  void anIncompleteRuleIsRefused() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    ShownMessage shown;
    AcceptNextMessage(&shown);
    QTest::mouseClick(Button(&dialog, "&Add"), Qt::LeftButton);
    QCOMPARE(shown.text, QString("Incomplete rule!"));
    QCOMPARE(shown.caption, QString("Morvane Vigilo"));
    QCOMPARE(shown.icon, QMessageBox::NoIcon);
    QCOMPARE(Records(RuleTable()).size(), 8);
  }

  void printsTheRulesOfTheTableInListOrder() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    Child<QComboBox>(&dialog, "ProjectTable")->setCurrentIndex(1);
    Compose(dialog, 0, "ann", "(Status) is Open");
    for (int i = 0; i < 3; ++i) {
      if (i > 0) AnswerNextQuestion(true);  // the same rule again
      QTest::mouseClick(Button(&dialog, "&Add"), Qt::LeftButton);
    }
    QTemporaryDir dir;
    QString pdf = dir.filePath("rules.pdf");
    int prints = 0;
    dialog.set_printer_chooser(testing::PdfPrinter(pdf, &prints));
    // Sorted descending by Rule Id.
    emit Child<CRuleListCtrl>(&dialog, "ListOfRules")->horizontalHeader()->sectionClicked(0);
    emit Child<CRuleListCtrl>(&dialog, "ListOfRules")->horizontalHeader()->sectionClicked(0);
    ShownMessage notice;
    AcceptNextMessage(&notice);
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(&dialog, Qt::Key_P, Qt::ControlModifier);  // as the Print button
    QCOMPARE(notice.text, QString("Print"));
    QCOMPARE(prints, 1);
    QString text = testing::PdfText(pdf);
    qsizetype eleven = text.indexOf("Rule Id: 11");
    qsizetype nine = text.indexOf("Rule Id: 9");
    QVERIFY2(eleven >= 0 && nine > eleven, qPrintable(text));
    QVERIFY(text.contains("Action: Notify"));
    QVERIFY(text.contains("Target: User"));
    QVERIFY(text.contains("Values: ann"));
    QVERIFY(text.contains("Condition: (Status) is Open"));
    QVERIFY(text.contains("Project table: Demo\\Bugs"));
    QVERIFY(text.contains("Page 1 of 1"));
  }

  void printsNothingWithoutRules() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    int prints = 0;
    dialog.set_printer_chooser(testing::PdfPrinter("/nonexistent/x.pdf", &prints));
    ShownMessage shown;
    AcceptNextMessage(&shown);
    QTest::mouseClick(Button(&dialog, "&Print"), Qt::LeftButton);
    QCOMPARE(shown.text, QString("Nothing to print!"));
    QCOMPARE(prints, 0);
  }

  void enterInTheListEditsTheSelectedRuleAndNewClearsTheSelection() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    Child<QComboBox>(&dialog, "ProjectTable")->setCurrentIndex(1);
    auto* list = Child<CRuleListCtrl>(&dialog, "ListOfRules");
    for (int item : {2, 3}) {
      SelectItem(dialog, item);
      list->setFocus();
      QTest::keyClick(list, Qt::Key_Return);
      QCOMPARE(Child<QLineEdit>(&dialog, "Values")->text(),
               list->model()->index(item, 3).data().toString());
      QCOMPARE(Child<QLabel>(&dialog, "EditState")->text(),
               QString("Editing rule %1.").arg(list->model()->index(item, 0).data().toString()));
      QVERIFY(dialog.isVisible());
    }
    QTest::mouseClick(Button(&dialog, "&New"), Qt::LeftButton);
    QCOMPARE(list->SelectedItem(), -1);
    QCOMPARE(Child<QLabel>(&dialog, "EditState")->text(), QString());
  }

  void deleteKeyAsksThenDeletesTheSelectedRule() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    Child<QComboBox>(&dialog, "ProjectTable")->setCurrentIndex(1);
    auto* list = Child<CRuleListCtrl>(&dialog, "ListOfRules");
    SelectItem(dialog, 0);
    AnswerNextQuestion(false);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(Records(RuleTable()).size(), 8);
    AnswerNextQuestion(true);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(Records(RuleTable()).size(), 7);
    QCOMPARE(list->model()->rowCount(), 4);
  }

  void disableAndEnableWriteTheMarkTheServiceReads() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    Child<QComboBox>(&dialog, "ProjectTable")->setCurrentIndex(2);  // Tasks: 4, 7 (disabled), 8
    auto* list = Child<CRuleListCtrl>(&dialog, "ListOfRules");
    // The demo's fourth record is rule 4.
    auto disabled = [this] {
      std::vector<RuleRecord> records;
      ReadRuleTable(RuleTable(), &records);
      return records.at(3).disabled();
    };
    QCOMPARE(list->model()->index(1, 5).data().toString(), QString("No"));
    SelectItem(dialog, 0);
    QTest::mouseClick(Button(&dialog, "Disable"), Qt::LeftButton);
    QVERIFY(disabled());
    QCOMPARE(list->model()->index(0, 5).data().toString(), QString("No"));
    SelectItem(dialog, 0);
    QTest::mouseClick(Button(&dialog, "Enable"), Qt::LeftButton);
    QVERIFY(!disabled());
    QCOMPARE(list->model()->index(0, 5).data().toString(), QString("Yes"));
  }

  void escWithAnUnsavedRuleAsksBeforeDiscardingIt() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    Child<QComboBox>(&dialog, "ProjectTable")->setCurrentIndex(1);
    Compose(dialog, 0, "ann", "(Status) is Open");
    ShownMessage question;
    AnswerModal<QMessageBox>([&question](QMessageBox* box) {
      question.text = box->text();
      box->button(QMessageBox::No)->click();
    });
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(question.text, QString(kDiscardRuleQuestion));
    QVERIFY(dialog.isVisible());
    AnswerNextQuestion(true);
    QTest::mouseClick(Button(&dialog, "&Close"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
  }

  void theFilterBoxNarrowsTheListToRulesWithTheText() {
    CSetupRulesDlg dialog(selection_, *context_, browsers_);
    dialog.show();
    Child<QComboBox>(&dialog, "ProjectTable")->setCurrentIndex(1);  // rules 1, 2, 3, 5, 6
    auto* list = Child<CRuleListCtrl>(&dialog, "ListOfRules");
    QTest::keyClicks(Child<QLineEdit>(&dialog, "RuleFilter"), "update");
    QCOMPARE(list->model()->rowCount(), 2);
    SelectItem(dialog, 1);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(Child<QLineEdit>(&dialog, "Values")->text(),
             QString("Resolution=Closed without a fix;Priority=5"));
    Child<QLineEdit>(&dialog, "RuleFilter")->clear();
    QCOMPARE(list->model()->rowCount(), 5);
  }

  void longTextsAreCutWithThreeDots() {
    QFontMetrics metrics(QApplication::font());
    QString text(200, 'w');
    QString cut = ElideWithDots(metrics, text, 100);
    QVERIFY(cut.endsWith("..."));
    QVERIFY(metrics.horizontalAdvance(cut) <= 100);
    QVERIFY(metrics.horizontalAdvance(cut.chopped(3) + "w...") > 100);
    QCOMPARE(ElideWithDots(metrics, "short", 100), QString("short"));
    QCOMPARE(ElideWithDots(metrics, text, 1), QString("w..."));
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::SetupRulesDialogTest)
#include "setup_rules_dialog_test.moc"
