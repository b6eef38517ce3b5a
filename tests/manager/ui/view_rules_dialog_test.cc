// The View of Rules dialog on a generated installation: every rule of the
// rule table, sorting, and the selected rules printed in list order, over as
// many pages as they need; the main window's summary print.
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include "manager/commands.h"
#include "manager/rule_list_table.h"
#include "manager/ui/main_frame.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/rule_list_view.h"
#include "manager/ui/view_rules_dialog.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"
#include "tests/manager/ui/rule_print_helpers.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::AnswerModal;
using testing::Child;
using testing::Button;
using testing::ShownMessage;

class ViewRulesDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TestInstallation> home_;
  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;

  static QStringList Column(CViewRulesDlg& dialog, int column) {
    QStringList texts;
    QAbstractItemModel* model = Child<CRuleListCtrl>(&dialog, "RuleList")->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      texts << model->index(row, column).data().toString();
    }
    return texts;
  }

 private slots:
  void init() {
    context_ = std::make_unique<ManagerContext>(prompts_);
    home_ = std::make_unique<testing::TestInstallation>(testing::InstallationBuilder::Demo());
  }
  void cleanup() { home_.reset(); }

  void showsEveryRuleByTableAndSortsByColumn() {
    CViewRulesDlg dialog(*context_);
    QCOMPARE(dialog.windowTitle(), QString("View of Rules"));
    QVERIFY(Button(&dialog, "Close") != nullptr);
    QVERIFY(Button(&dialog, "Print") != nullptr);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "RuleList")->model()->columnCount(), 7);
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "RuleList")->model()->headerData(1, Qt::Horizontal).toString(),
             QString("Database\\Table"));
    QCOMPARE(Child<CRuleListCtrl>(&dialog, "RuleList")->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(Column(dialog, 0), QStringList({"1", "2", "3", "5", "6", "4", "7", "8"}));
    QHeaderView* header = Child<CRuleListCtrl>(&dialog, "RuleList")->horizontalHeader();
    emit header->sectionClicked(0);
    emit header->sectionClicked(0);
    QCOMPARE(Column(dialog, 0), QStringList({"8", "7", "6", "5", "4", "3", "2", "1"}));
    emit header->sectionClicked(0);
    QCOMPARE(Column(dialog, 0), QStringList({"1", "2", "3", "4", "5", "6", "7", "8"}));
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), 0);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(Column(dialog, 6), QStringList({"Yes", "Yes", "Yes", "Yes", "Yes", "Yes", "No", "Yes"}));

    QTest::keyClicks(Child<QLineEdit>(&dialog, "RuleFilter"), "TASKS");
    QCOMPARE(Column(dialog, 0), QStringList({"4", "7", "8"}));
  }

  void printsTheSelectedRulesInListOrder() {
    CViewRulesDlg dialog(*context_);
    dialog.show();
    QTemporaryDir dir;
    QString pdf = dir.filePath("view.pdf");
    int prints = 0;
    dialog.set_printer_chooser(testing::PdfPrinter(pdf, &prints));

    ShownMessage shown;
    AcceptNextMessage(&shown);
    QTest::mouseClick(Button(&dialog, "Print"), Qt::LeftButton);
    QCOMPARE(shown.text, QString("Unable, to Print the rules!\nPlease, select the rules you "
                                 "want to print and try again."));
    QCOMPARE(prints, 0);

    emit Child<CRuleListCtrl>(&dialog, "RuleList")->horizontalHeader()->sectionClicked(0);
    emit Child<CRuleListCtrl>(&dialog, "RuleList")->horizontalHeader()->sectionClicked(0);  // 8 ... 1
    auto* selection = Child<CRuleListCtrl>(&dialog, "RuleList")->selectionModel();
    QAbstractItemModel* model = Child<CRuleListCtrl>(&dialog, "RuleList")->model();
    selection->select(model->index(5, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(model->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::mouseClick(Button(&dialog, "Print"), Qt::LeftButton);
    QCOMPARE(prints, 1);
    QString text = testing::PdfText(pdf);
    qsizetype six = text.indexOf("Rule Id: 6");
    qsizetype three = text.indexOf("Rule Id: 3");
    QVERIFY2(six >= 0 && three > six, qPrintable(text));
    QVERIFY(text.contains("Database\\Table: Demo\\Bugs"));
    QVERIFY(!text.contains("Rule Id: 5"));
  }

  void linesThatDoNotFitContinueOnTheNextPage() {
    std::string path = home_->rule_table();
    for (int i = 0; i < 40; ++i) {
      RuleRecord record{0, 0, "", "Demo\\Tasks", "Notify", "User", "u" + std::to_string(i),
                        "(State is (New))", 0, {}};
      AppendRule(path, &record, std::nullopt);
    }
    CViewRulesDlg dialog(*context_);
    dialog.show();
    QTemporaryDir dir;
    QString pdf = dir.filePath("long.pdf");
    int prints = 0;
    dialog.set_printer_chooser(testing::PdfPrinter(pdf, &prints));
    Child<CRuleListCtrl>(&dialog, "RuleList")->selectAll();
    QTest::mouseClick(Button(&dialog, "Print"), Qt::LeftButton);
    QString text = testing::PdfText(pdf);
    QVERIFY2(text.count('\f') >= 3, qPrintable(QString::number(text.count('\f'))));
    QVERIFY(text.contains("Rule Id: 48"));  // the last rule, on a later page
    QVERIFY(text.contains("Values: u39"));
    // Every page is headed with the installation and its number.
    const int pages = static_cast<int>(text.count('\f'));
    QCOMPARE(static_cast<int>(text.count("Vigilo rules of " + QString::fromStdString(home_->paths().server_dir))), pages);
    QVERIFY(text.contains(QString("Page %1 of %1").arg(pages)));
  }

  void theMainWindowOpensViewRulesAndPrintsTheSummary() {
    CMainFrame frame(*context_);
    frame.show();
    QTemporaryDir dir;
    QString pdf = dir.filePath("summary.pdf");
    int prints = 0;
    frame.set_printer_chooser(testing::PdfPrinter(pdf, &prints));
    frame.action(kPrintCommand)->trigger();
    QCOMPARE(prints, 1);
    QString text = testing::PdfText(pdf);
    QVERIFY2(text.contains("001 Update Field Resolution=Awaiting"), qPrintable(text));
    QVERIFY(text.contains("007 Notify User sysop if (State is (Done))"));

    bool opened = false;
    AnswerModal<CViewRulesDlg>([&opened](CViewRulesDlg* dialog) {
      opened = Child<CRuleListCtrl>(dialog, "RuleList")->model()->rowCount() == 8;
      Button(dialog, "Close")->click();
    });
    frame.action(kViewRulesCommand)->trigger();
    QVERIFY(opened);
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::ViewRulesDialogTest)
#include "view_rules_dialog_test.moc"
