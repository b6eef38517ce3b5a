// The condition dialogs driven through their real widgets: a condition
// composed from nothing through the Rule Condition browsers, a stored one
// reopened and modified, the keyword and SQL Query dialogs' refusals.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "data/field_defs_reader.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/query_builder_dialog.h"
#include "manager/ui/query_type_dialog.h"
#include "manager/ui/range_dialog.h"
#include "manager/ui/rule_browsers_qt.h"
#include "manager/ui/sql_query_dialog.h"
#include "manager/ui/where_dialogs.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::Child;
using testing::AnswerModal;
using testing::Button;
using testing::ShownMessage;

namespace {

QListWidgetItem* Item(QListWidget* list, const QString& text) {
  QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
  return found.isEmpty() ? nullptr : found.front();
}

void ClickItem(QListWidget* list, const QString& text) {
  QListWidgetItem* item = Item(list, text);
  QVERIFY2(item != nullptr, qPrintable(text));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

void DoubleClickItem(QListWidget* list, const QString& text) {
  QListWidgetItem* item = Item(list, text);
  QVERIFY2(item != nullptr, qPrintable(text));
  QPoint at = list->visualItemRect(item).center();
  // A list takes a double-click only on the item the button went down on.
  QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void Click(QWidget* dialog, const char* text) {
  QPushButton* button = Button(dialog, text);
  QVERIFY2(button != nullptr, text);
  QTest::mouseClick(button, Qt::LeftButton);
}

QStringList Texts(QListWidget* list) {
  QStringList texts;
  for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
  return texts;
}

// Closes a dialog that a failed check left open, so the test fails instead
// of waiting for it.
struct RejectOnExit {
  QDialog* dialog;
  ~RejectOnExit() {
    if (dialog->isVisible()) dialog->reject();
  }
};

ProjectSelection DemoBugs() { return {"0", "SERVERDIR", "Demo", "Bugs"}; }

}  // namespace

class ConditionDialogsTest : public QObject {
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
  void cleanup() { home_.reset(); }

  void composesAConditionFromNothing() {
    QtRuleBrowsers browsers(*context_, nullptr);
    AnswerModal<CQueryTypeDlg>([](CQueryTypeDlg* dialog) {
      RejectOnExit guard{dialog};
      QCOMPARE(dialog->windowTitle(), QString("Select Query Type"));
      QVERIFY(Child<QRadioButton>(dialog, "VisualQueryBuilder")->isChecked());
      dialog->accept();
    });
    QCOMPARE(browsers.SelectQueryType(),
             std::optional(RuleBrowsers::QueryType::kVisualQueryBuilder));

    bool answered = false;
    AnswerModal<CQueryBuilderDlg>([&answered](CQueryBuilderDlg* builder) {
      RejectOnExit guard{builder};
      QCOMPARE(builder->windowTitle(), QString("Query Builder Dialog"));
      QVERIFY(Child<QListWidget>(builder, "FieldList")->count() > 5);
      QCOMPARE(Child<QListWidget>(builder, "Criteria")->count(), 0);

      // Status: Open and Fixed in the value-list dialog, as any of them.
      AnswerModal<CValueListCondDlg>([](CValueListCondDlg* values) {
        RejectOnExit guard{values};
        QCOMPARE(values->windowTitle(), QString("Where Condition Dialog"));
        QVERIFY(Item(Child<QListWidget>(values, "Values"), "->") != nullptr);  // its changes are recorded
        ClickItem(Child<QListWidget>(values, "Values"), "Open");
        ClickItem(Child<QListWidget>(values, "Values"), "Fixed");
        QVERIFY(Child<QRadioButton>(values, "Or")->isChecked());
        Click(values, "&Ok");
      });
      ClickItem(Child<QListWidget>(builder, "FieldList"), "Status");
      Click(builder, "A&dd...");
      QCOMPARE(Texts(Child<QListWidget>(builder, "Criteria")), QStringList{"(Status is (Open,Fixed))"});

      // Priority: "=" chosen, 1 typed behind it; a double-click on the field adds.
      AnswerModal<COperatorCondDlg>([](COperatorCondDlg* op) {
        RejectOnExit guard{op};
        ClickItem(Child<QListWidget>(op, "Operators"), "=");
        Click(op, "&Select...");
        QTest::keyClicks(Child<QLineEdit>(op, "Expression"), "1");
        QCOMPARE(Child<QLineEdit>(op, "Expression")->text(), QString("=1"));
        Click(op, "&Ok");
      });
      DoubleClickItem(Child<QListWidget>(builder, "FieldList"), "Priority");
      Click(builder, "&And/Or");
      Click(builder, "&Not");
      Click(builder, "(");

      // Title: one keyword searched anywhere in the text.
      AnswerModal<CKeywordCondDlg>([](CKeywordCondDlg* keywords) {
        RejectOnExit guard{keywords};
        QTest::keyClicks(Child<QLineEdit>(keywords, "Keyword"), "crash");
        Click(keywords, "A&dd ->");
        Child<QCheckBox>(keywords, "WildcardSearch")->click();
        QVERIFY(Child<QCheckBox>(keywords, "WildcardSearch")->isChecked());
        Click(keywords, "&Ok");
      });
      ClickItem(Child<QListWidget>(builder, "FieldList"), "Title");
      Click(builder, "A&dd...");
      Click(builder, ")");
      QCOMPARE(Texts(Child<QListWidget>(builder, "Criteria")),
               (QStringList{"(Status is (Open,Fixed))", ".OR.((Priority is .NOT.(=1))",
                            ".AND.(Title is (*crash*)))"}));
      QCOMPARE(Child<QListWidget>(builder, "Criteria")->currentRow(), 2);
      answered = true;
      Click(builder, "&OK");
    });
    std::optional<std::string> condition = browsers.QueryBuilder(DemoBugs(), "");
    QVERIFY(answered);
    QCOMPARE(condition.value_or("<none>"),
             std::string("(Status is (Open,Fixed)) .OR.((Priority is .NOT.(=1)) .AND."
                         "(Title is (*crash*)))"));
  }

  void reopensAStoredConditionAndModifiesAnEntry() {
    QtRuleBrowsers browsers(*context_, nullptr);
    const std::string stored = "(Status is (Open,Fixed)) .AND.(Owner is (anna)) .OR.(Title is (x))";
    AnswerModal<CQueryBuilderDlg>([](CQueryBuilderDlg* builder) {
      RejectOnExit guard{builder};
      QCOMPARE(Texts(Child<QListWidget>(builder, "Criteria")),
               (QStringList{"(Status is (Open,Fixed))", ".AND.(Owner is (anna))",
                            ".OR.(Title is (x))"}));
      QCOMPARE(Child<QListWidget>(builder, "Criteria")->currentRow(), 2);  // the last one
      AnswerModal<CValueListCondDlg>([](CValueListCondDlg* values) {
        RejectOnExit guard{values};
        QList<QListWidgetItem*> selected = Child<QListWidget>(values, "Values")->selectedItems();
        QCOMPARE(selected.size(), 2);
        ClickItem(Child<QListWidget>(values, "Values"), "Fixed");  // unselected
        ClickItem(Child<QListWidget>(values, "Values"), "Closed");
        Child<QRadioButton>(values, "And")->click();
        Click(values, "&Ok");
      });
      DoubleClickItem(Child<QListWidget>(builder, "Criteria"), "(Status is (Open,Fixed))");
      QCOMPARE(Child<QListWidget>(builder, "Criteria")->item(0)->text(), QString("(Status is (Open&Closed))"));
      Click(builder, "Remo&ve");
      QCOMPARE(Texts(Child<QListWidget>(builder, "Criteria")),
               (QStringList{"(Owner is (anna))", ".OR.(Title is (x))"}));
      Click(builder, "&OK");
    });
    QCOMPARE(browsers.QueryBuilder(DemoBugs(), stored).value_or("<none>"),
             std::string("(Owner is (anna)) .OR.(Title is (x))"));
  }

  void operatorRangeAndNoneThroughTheKeys() {
    CFieldDef priority(1);
    priority.name = "Priority";
    priority.type = CFieldDef::kNumber;
    Clause clause;
    clause.column = "Priority";
    clause.values = "2-4";
    COperatorCondDlg dialog(&priority, clause, DateSettings{}, prompts_);
    dialog.show();
    QCOMPARE(testing::LabelOf(&dialog, Child<QLineEdit>(&dialog, "Expression")), QString("&Expression:"));
    QString missing;
    QVERIFY2(testing::EveryInputHasALabel(&dialog, &missing), qPrintable(missing));
    AnswerModal<CRangeDlg>([](CRangeDlg* range) {
      RejectOnExit guard{range};
      QCOMPARE(Child<QLineEdit>(range, "From")->text(), QString("2"));
      QCOMPARE(Child<QLineEdit>(range, "To")->text(), QString("4"));
      Child<QLineEdit>(range, "To")->selectAll();
      QTest::keyClicks(Child<QLineEdit>(range, "To"), "nine");
      QCOMPARE(Child<QLabel>(range, "Reason")->text(), QString("\"nine\" is not a number."));
      Click(range, "&Ok");  // refused: the range stays open
      Child<QLineEdit>(range, "To")->selectAll();
      QTest::keyClicks(Child<QLineEdit>(range, "To"), "9");
      Click(range, "&Ok");
    });
    DoubleClickItem(Child<QListWidget>(&dialog, "Operators"), "Range(-)");
    QCOMPARE(Child<QLineEdit>(&dialog, "Expression")->text(), QString("2-9"));
    DoubleClickItem(Child<QListWidget>(&dialog, "Operators"), "{none}");
    Click(&dialog, "&Ok");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.value(), std::string(" "));
  }

  void changeArrowOpensFromTo() {
    CFieldDef status(1);
    status.name = "Status";
    status.type = CFieldDef::kList;
    status.flags = CFieldDef::kHistoryFlag;
    status.choices = {"Open", "Fixed", "Closed"};
    Clause clause;
    clause.column = "Status";
    CValueListCondDlg dialog(&status, clause, prompts_);
    dialog.show();
    AnswerModal<CFromToDlg>([](CFromToDlg* from_to) {
      RejectOnExit guard{from_to};
      QCOMPARE(from_to->windowTitle(), QString("FromTo Dialog"));
      QCOMPARE(Child<QComboBox>(from_to, "From")->currentIndex(), -1);
      Child<QComboBox>(from_to, "From")->setCurrentIndex(0);
      Child<QComboBox>(from_to, "To")->setCurrentIndex(2);
      Click(from_to, "&Ok");
    });
    DoubleClickItem(Child<QListWidget>(&dialog, "Values"), "->");
    QCOMPARE(Child<QLineEdit>(&dialog, "Other")->text(), QString("Open->Closed"));
    Child<QRadioButton>(&dialog, "None")->click();
    QVERIFY(Child<QListWidget>(&dialog, "Values")->selectedItems().isEmpty());
    Child<QRadioButton>(&dialog, "Or")->click();
    Click(&dialog, "&Ok");
    QCOMPARE(dialog.value(), std::string("Open->Closed"));
  }

  void queryBuilderShowsUnpairedParenthesesAndRefusesOk() {
    std::vector<CFieldDef> fields;
    ReadFieldDefs(FieldDefsIniPath(context_->paths(), 0, "Demo", "Bugs"), fields);
    CQueryBuilderDlg builder(0, fields, "(Status is (Open)) .AND.(Priority is (1))", DateSettings{},
                             prompts_);
    builder.show();
    ClickItem(Child<QListWidget>(&builder, "Criteria"), "(Status is (Open))");
    Click(&builder, "(");
    QCOMPARE(Child<QLabel>(&builder, "Reason")->text(), QString("1 \"(\" still open: close it with \")\"."));
    ShownMessage shown;
    AcceptNextMessage(&shown);
    Click(&builder, "&OK");
    QVERIFY(shown.shown && builder.isVisible());
    // Chosen by selection alone, as the keys or a screen reader choose.
    Child<QListWidget>(&builder, "Criteria")->clearSelection();
    Child<QListWidget>(&builder, "Criteria")->item(1)->setSelected(true);
    Click(&builder, ")");
    QVERIFY(Child<QLabel>(&builder, "Reason")->isHidden());
    Click(&builder, "&OK");
    QCOMPARE(builder.condition(), std::string("((Status is (Open)) .AND.(Priority is (1)))"));
  }

  void operatorDialogChecksNumbersAndDatesAsTyped() {
    CFieldDef priority(1), created(2);
    priority.type = CFieldDef::kNumber;
    created.type = CFieldDef::kDate;
    struct Typed { CFieldDef* field; const char* text; const char* reason; };
    for (const Typed& typed : {Typed{&priority, ">abc", "\"abc\" is not a number."},
                               Typed{&priority, "=", "Type a value after the operator."},
                               Typed{&priority, "<=2.5", ""},
                               Typed{&created, "13/45/20", "\"13/45/20\" is not a date written as MM/DD/YY."},
                               Typed{&created, "12/24/20", ""}}) {
      COperatorCondDlg dialog(typed.field, Clause{}, DateSettings{}, prompts_);
      dialog.show();
      QTest::keyClicks(Child<QLineEdit>(&dialog, "Expression"), typed.text);
      QCOMPARE(Child<QLabel>(&dialog, "Reason")->text(), QString(typed.reason));
      Click(&dialog, "&Ok");
      QCOMPARE(dialog.isVisible(), *typed.reason != '\0');
    }
    COperatorCondDlg dates(&created, Clause{}, DateSettings{}, prompts_);
    QCOMPARE(Child<QLabel>(&dates, "Hint")->text(), QString("Dates as MM/DD/YY, or Date()"));
  }

  void keywordDialogRefusesAStar() {
    Clause clause;
    clause.column = "Title";
    CKeywordCondDlg dialog(clause, "Where Title is", prompts_);
    dialog.show();
    QTest::keyClicks(Child<QLineEdit>(&dialog, "Keyword"), "a*b");
    ShownMessage shown;
    AcceptNextMessage(&shown);
    Click(&dialog, "A&dd ->");
    QCOMPARE(shown.text, QString("Invalid character entered!"));
    QCOMPARE(shown.caption, QString("Morvane Vigilo"));
    QCOMPARE(Child<QListWidget>(&dialog, "Keywords")->count(), 0);
    for (const char* keyword : {"de", "abc"}) {
      Child<QLineEdit>(&dialog, "Keyword")->clear();
      QTest::keyClicks(Child<QLineEdit>(&dialog, "Keyword"), keyword);
      QTest::keyClick(Child<QLineEdit>(&dialog, "Keyword"), Qt::Key_Return);
    }
    QCOMPARE(Texts(Child<QListWidget>(&dialog, "Keywords")), (QStringList{"abc", "de"}));
    QVERIFY(dialog.isVisible());  // Enter added; it did not press Ok
    Child<QCheckBox>(&dialog, "WildcardSearch")->click();
    Click(&dialog, "&Ok");
    QCOMPARE(dialog.value(), std::string("*abc*,*de*"));
  }

  void sqlQueryChoosesTablesAndNeedsAClause() {
    home_.reset();
    testing::TestInstallation home{testing::ManagerHomeBuilder()};
    home.WriteServerFile("Proj.INI",
                         "[Morvane Orvik]\nLinkInfo Datafile=Proj.dbf\nBugs Datafile=Bugs.dbf\n");
    QtRuleBrowsers browsers(*context_, nullptr);
    AnswerModal<CSqlQueryDlg>([](CSqlQueryDlg* sql) {
      RejectOnExit guard{sql};
      QCOMPARE(Child<QLineEdit>(sql, "From")->text(), QString("Proj..Bugs"));
      QCOMPARE(Child<QLineEdit>(sql, "Where")->text(), QString("Status = 'Open'"));
      AnswerModal<CSelectTablesDlg>([](CSelectTablesDlg* tables) {
        RejectOnExit guard{tables};
        QCOMPARE(Texts(Child<QListWidget>(tables, "ListOfTables")), (QStringList{"Proj..Proj", "Proj..Bugs"}));
        QVERIFY(Child<QListWidget>(tables, "ListOfTables")->item(1)->isSelected());
        ClickItem(Child<QListWidget>(tables, "ListOfTables"), "Proj..Proj");
        tables->accept();
      });
      Click(sql, "...");
      QCOMPARE(Child<QLineEdit>(sql, "From")->text(), QString("Proj..Proj,Proj..Bugs"));
      Child<QLineEdit>(sql, "Where")->clear();
      ShownMessage shown;
      AcceptNextMessage(&shown);
      Click(sql, "&OK");
      QCOMPARE(shown.text, QString("Please enter a valid where clause."));
      QVERIFY(sql->isVisible());
      QTest::keyClicks(Child<QLineEdit>(sql, "Where"), "1 = 1");
      Click(sql, "&OK");
    });
    std::optional<std::string> condition =
        browsers.SqlQuery({"1", "BUGS", "Proj", "Bugs"}, "FROM Proj..Bugs WHERE (Status = 'Open')");
    QCOMPARE(condition.value_or("<none>"), std::string("FROM Proj..Proj,Proj..Bugs WHERE (1 = 1)"));
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::ConditionDialogsTest)
#include "condition_dialogs_test.moc"
