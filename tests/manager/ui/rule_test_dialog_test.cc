// The Test buttons of the Setup Rules and Query Builder dialogs on a
// generated table of 3,000 records: the preview's counts and list, a slow
// count cancelled, and "Mark as already handled" (refused while another
// engine holds the installation) followed by a second Test.
#include <chrono>
#include <thread>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTreeWidget>

#include "common/ini_profile.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/query_builder_dialog.h"
#include "manager/ui/rule_browsers_qt.h"
#include "manager/ui/rule_list_view.h"
#include "manager/ui/rule_test_dialog.h"
#include "manager/ui/setup_rules_dialog.h"
#include "platform/sql/connection.h"
#include "service/installation_lock.h"
#include "tests/manager/generated_home.h"
#include "tests/manager/ui/dialog_helpers.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::AnswerModal;
using testing::Child;
using testing::Button;
using testing::ShownMessage;

namespace {

constexpr long kRecords = 3000;
constexpr const char* kOpen = "(Status is (Open))";  // records 1, 5, 9, ...

// What a preview showed once its count had ended.
struct Preview {
  bool ended = false;
  QString status;
  QString meeting;
  QString acting;
  int listed = 0;
  QString first_id;
  QString first_value;
  QString column;
  bool mark_visible = false;
  bool mark_enabled = false;
};

void Read(CRuleTestDlg* test, Preview* shown) {
  shown->ended = !test->busy();
  shown->status = Child<QLabel>(test, "Status")->text();
  shown->meeting = Child<QLabel>(test, "Meeting")->text();
  shown->acting = Child<QLabel>(test, "ActingOn")->text();
  shown->listed = Child<QTreeWidget>(test, "Records")->topLevelItemCount();
  if (shown->listed > 0) {
    shown->first_id = Child<QTreeWidget>(test, "Records")->topLevelItem(0)->text(0);
    shown->first_value = Child<QTreeWidget>(test, "Records")->topLevelItem(0)->text(1);
  }
  shown->column = Child<QTreeWidget>(test, "Records")->headerItem()->text(1);
  shown->mark_visible = Child<QPushButton>(test, "Mark")->isVisibleTo(test);
  shown->mark_enabled = Child<QPushButton>(test, "Mark")->isEnabled();
}

// Reads the next preview once its count has ended, then closes it; before
// closing, then runs on it (with the count ended) when given.
void ReadNextPreview(Preview* shown, std::function<void(CRuleTestDlg*)> then = nullptr) {
  AnswerModal<CRuleTestDlg>([shown, then](CRuleTestDlg* test) {
    QTRY_VERIFY_WITH_TIMEOUT(!test->busy(), 20000);
    if (then) then(test);
    Read(test, shown);
    test->reject();
  });
}

void AnswerNextQuestion(bool yes, std::function<void()> after = nullptr) {
  AnswerModal<QMessageBox>([yes, after](QMessageBox* box) {
    box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    if (after) after();
  });
}

// Every row a statement gives comes this much later: a slow database.
class SlowCursor : public sql::Cursor {
 public:
  explicit SlowCursor(std::unique_ptr<sql::Cursor> inner) : inner_(std::move(inner)) {}
  bool Fetch() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return inner_->Fetch();
  }
  int ColumnCount() const override { return inner_->ColumnCount(); }
  std::string ColumnName(int index) const override { return inner_->ColumnName(index); }
  bool IsNull(int index) const override { return inner_->IsNull(index); }
  std::string Text(int index) const override { return inner_->Text(index); }

 private:
  std::unique_ptr<sql::Cursor> inner_;
};

class SlowConnection : public sql::Connection {
 public:
  explicit SlowConnection(std::unique_ptr<sql::Connection> inner) : inner_(std::move(inner)) {}
  long Execute(const std::string& statement) override { return inner_->Execute(statement); }
  std::unique_ptr<sql::Cursor> Query(const std::string& statement) override {
    return std::make_unique<SlowCursor>(inner_->Query(statement));
  }
  bool IsDbase() const override { return inner_->IsDbase(); }

 private:
  std::unique_ptr<sql::Connection> inner_;
};

}  // namespace

class RuleTestDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TestInstallation> home_;
  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;
  ProjectSelection selection_;

  // A Setup Rules dialog on the Bugs table with a notification rule composed.
  std::unique_ptr<CSetupRulesDlg> ComposeOnBugs(RuleBrowsers& browsers,
                                                const std::string& condition) {
    auto dialog = std::make_unique<CSetupRulesDlg>(selection_, *context_, browsers);
    dialog->show();
    Child<QComboBox>(dialog.get(), "ProjectTable")->setCurrentIndex(Child<QComboBox>(dialog.get(), "ProjectTable")->findText("Demo\\Bugs"));
    Child<QComboBox>(dialog.get(), "Action")->setCurrentIndex(0);  // Notify
    dialog->logic().set_values("ann");
    dialog->logic().set_condition(condition);
    dialog->Refresh();
    return dialog;
  }

 private slots:
  void init() {
    context_ = std::make_unique<ManagerContext>(prompts_);
    home_ = std::make_unique<testing::TestInstallation>(testing::GeneratedBugsBuilder(kRecords));
    WriteProfileString(home_->ProjectIni("Demo"), "Morvane Orvik", "Bugs Datafile", "Bugs.dbf");
    selection_ = {"0", "SERVERDIR", "Demo", ""};
  }
  void cleanup() {
    sql::SetConnectionFactory(nullptr);
    home_.reset();
  }

  void testShowsTheCountsAndTheRecordsOfANewRule() {
    QtRuleBrowsers browsers(*context_, nullptr);
    auto dialog = ComposeOnBugs(browsers, kOpen);
    Preview shown;
    ReadNextPreview(&shown);
    QTest::mouseClick(Button(dialog.get(), "Te&st"), Qt::LeftButton);
    QVERIFY(shown.ended);
    QCOMPARE(shown.meeting, QString::number(kRecords / 4));
    QCOMPARE(shown.acting, QString::number(kRecords / 4));
    QCOMPARE(shown.listed, static_cast<int>(kRecords / 4));
    QCOMPARE(shown.first_id, QString("1"));
    QCOMPARE(shown.first_value, QString("Bug 1"));
    QCOMPARE(shown.column, QString("Title"));
    // A rule not added yet has nothing to mark.
    QVERIFY(shown.mark_visible);
    QVERIFY(!shown.mark_enabled);

    // Without a condition there is nothing to test.
    dialog->logic().set_condition("");
    dialog->Refresh();
    ShownMessage message;
    AcceptNextMessage(&message);
    QTest::mouseClick(Button(dialog.get(), "Te&st"), Qt::LeftButton);
    QCOMPARE(message.text, QString(kRuleTestNoConditionMessage));
  }

  void cancelStopsASlowCount() {
    sql::SetConnectionFactory([](const std::string& connection_string) {
      return std::make_unique<SlowConnection>(sql::OpenDefaultConnection(connection_string));
    });
    TestedRule rule;
    rule.dsn = "SERVERDIR";
    rule.project_table = "Demo\\Bugs";
    rule.action = "Notify";
    rule.condition = kOpen;
    CRuleTestDlg test(rule, prompts_, CRuleTestDlg::MarkOffer::kNone);
    test.show();
    QCOMPARE(Child<QLabel>(&test, "Status")->text(), QString("Counting..."));
    QTRY_VERIFY_WITH_TIMEOUT(Child<QLabel>(&test, "Status")->text().contains("rows read"), 10000);
    QVERIFY(test.busy());
    QElapsedTimer stopping;
    stopping.start();
    QTest::mouseClick(Child<QPushButton>(&test, "Cancel"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!test.busy(), 10000);
    QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
    QCOMPARE(Child<QLabel>(&test, "Status")->text(), QString("The count was cancelled."));
    QCOMPARE(test.result().outcome, RuleTestResult::Outcome::kCancelled);
    QCOMPARE(Child<QTreeWidget>(&test, "Records")->topLevelItemCount(), 0);
    QVERIFY(!Child<QPushButton>(&test, "Cancel")->isEnabled());
  }

  void markingASavedRuleLeavesNothingToActOn() {
    QtRuleBrowsers browsers(*context_, nullptr);
    auto dialog = ComposeOnBugs(browsers, kOpen);
    QTest::mouseClick(Button(dialog.get(), "&Add"), Qt::LeftButton);
    QCOMPARE(Child<CRuleListCtrl>(dialog.get(), "ListOfRules")->model()->rowCount(), 6);  // the demo's five on Bugs and this one

    // Refused while another engine (here: a lock the test holds) runs.
    {
      InstallationLock engine;
      std::string why;
      QVERIFY(engine.Acquire(InstallationLock::PathFor(home_->server_dir()), &why));
      Preview shown;
      ShownMessage refusal;
      ReadNextPreview(&shown, [&refusal](CRuleTestDlg* test) {
        QVERIFY(Child<QPushButton>(test, "Mark")->isEnabled());
        AnswerNextQuestion(true, [&refusal] { AcceptNextMessage(&refusal); });
        QTest::mouseClick(Child<QPushButton>(test, "Mark"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(refusal.shown, 10000);
      });
      QTest::mouseClick(Button(dialog.get(), "Te&st"), Qt::LeftButton);
      QVERIFY(refusal.text.contains("Stop Vigilo Server"));
      QCOMPARE(shown.acting, QString::number(kRecords / 4));
    }

    Preview marked;
    ShownMessage done;
    ReadNextPreview(&marked, [&done](CRuleTestDlg* test) {
      AnswerNextQuestion(true, [&done] { AcceptNextMessage(&done); });
      QTest::mouseClick(Child<QPushButton>(test, "Mark"), Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(done.shown, 10000);
      // The count runs again after marking.
      QTRY_VERIFY_WITH_TIMEOUT(!test->busy(), 10000);
    });
    QTest::mouseClick(Button(dialog.get(), "Te&st"), Qt::LeftButton);
    QCOMPARE(done.text, QString("%1 records marked as already handled.").arg(kRecords / 4));
    QCOMPARE(marked.acting, QString("0"));
    QVERIFY(!marked.mark_enabled);

    Preview again;
    ReadNextPreview(&again);
    QTest::mouseClick(Button(dialog.get(), "Te&st"), Qt::LeftButton);
    QCOMPARE(again.meeting, QString::number(kRecords / 4));
    QCOMPARE(again.acting, QString("0"));
    QCOMPARE(again.listed, 0);

    // Changed in the controls and not replaced: still counted with the
    // rule's flags, but nothing is marked for a condition not saved.
    dialog->logic().set_condition("(Status is (Open,Fixed))");
    dialog->Refresh();
    Preview edited;
    ReadNextPreview(&edited);
    QTest::mouseClick(Button(dialog.get(), "Te&st"), Qt::LeftButton);
    QCOMPARE(edited.meeting, QString::number(kRecords / 2));
    QCOMPARE(edited.acting, QString::number(kRecords / 4));
    QVERIFY(!edited.mark_enabled);
  }

  void theQueryBuilderTestsTheConditionBeingEdited() {
    QtRuleBrowsers browsers(*context_, nullptr);
    ProjectSelection bugs{"0", "SERVERDIR", "Demo", "Bugs"};
    Preview shown;
    AnswerModal<CQueryBuilderDlg>([&shown](CQueryBuilderDlg* builder) {
      QPushButton* test = Button(builder, "Te&st");
      QVERIFY(test != nullptr && test->isVisible());
      ReadNextPreview(&shown);
      QTest::mouseClick(test, Qt::LeftButton);
      builder->reject();
    });
    browsers.QueryBuilder(bugs, "(Status is (Open)) .AND.(Priority is (1))");
    QVERIFY(shown.ended);
    QCOMPARE(shown.meeting, QString::number(kRecords / 20));
    QCOMPARE(shown.acting, QString::number(kRecords / 20));
    QCOMPARE(shown.first_value, QString("Bug 1"));
    QVERIFY(!shown.mark_visible);

    // A clause naming no field of the table: the preview tells why.
    Preview failed;
    ShownMessage refusal;
    AnswerModal<CQueryBuilderDlg>([&failed, &refusal](CQueryBuilderDlg* builder) {
      AcceptNextMessage(&refusal);
      ReadNextPreview(&failed, [&refusal](CRuleTestDlg*) {
        QTRY_VERIFY_WITH_TIMEOUT(refusal.shown, 10000);
      });
      QTest::mouseClick(Button(builder, "Te&st"), Qt::LeftButton);
      builder->reject();
    });
    browsers.QueryBuilder(bugs, "(Nosuch is (1))");
    QVERIFY2(refusal.text.startsWith("The service would refuse this rule: "),
             qPrintable(refusal.text));
    QCOMPARE(refusal.icon, QMessageBox::Warning);
    QCOMPARE(failed.status, QString("The count failed."));
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::RuleTestDialogTest)
#include "rule_test_dialog_test.moc"
