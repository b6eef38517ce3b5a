// The condition dialogs driven through their real widgets: a condition
// composed from nothing through the Rule Condition browsers, a stored one
// reopened and modified, the keyword and SQL Query dialogs' refusals.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

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

 private slots:
  void init() {
    home_ = std::make_unique<testing::TestInstallation>(testing::InstallationBuilder::Demo());
  }
  void cleanup() { home_.reset(); }

  void composesAConditionFromNothing() {
    QtRuleBrowsers browsers(prompts_, nullptr);
    AnswerModal<CQueryTypeDlg>([](CQueryTypeDlg* dialog) {
      RejectOnExit guard{dialog};
      QCOMPARE(dialog->windowTitle(), QString("Select Query Type"));
      QVERIFY(dialog->visual_button()->isChecked());
      dialog->accept();
    });
    QCOMPARE(browsers.SelectQueryType(),
             std::optional(RuleBrowsers::QueryType::kVisualQueryBuilder));

    bool answered = false;
    AnswerModal<CQueryBuilderDlg>([&answered](CQueryBuilderDlg* builder) {
      RejectOnExit guard{builder};
      QCOMPARE(builder->windowTitle(), QString("Query Builder Dialog"));
      QVERIFY(builder->field_list()->count() > 5);
      QCOMPARE(builder->criteria_list()->count(), 0);

      // Status: Open and Fixed in the value-list dialog, as any of them.
      AnswerModal<CValueListCondDlg>([](CValueListCondDlg* values) {
        RejectOnExit guard{values};
        QCOMPARE(values->windowTitle(), QString("Where Condition Dialog"));
        QVERIFY(Item(values->value_list(), "->") != nullptr);  // its changes are recorded
        ClickItem(values->value_list(), "Open");
        ClickItem(values->value_list(), "Fixed");
        QVERIFY(values->or_button()->isChecked());
        Click(values, "&Ok");
      });
      ClickItem(builder->field_list(), "Status");
      Click(builder, "A&dd...");
      QCOMPARE(Texts(builder->criteria_list()), QStringList{"(Status is (Open,Fixed))"});

      // Priority: "=" chosen, 1 typed behind it; a double-click on the field adds.
      AnswerModal<COperatorCondDlg>([](COperatorCondDlg* op) {
        RejectOnExit guard{op};
        ClickItem(op->operator_list(), "=");
        Click(op, "&Select...");
        QTest::keyClicks(op->expression_edit(), "1");
        QCOMPARE(op->expression_edit()->text(), QString("=1"));
        Click(op, "&Ok");
      });
      DoubleClickItem(builder->field_list(), "Priority");
      Click(builder, "&And/Or");
      Click(builder, "N&ot");
      Click(builder, "(");

      // Title: one keyword searched anywhere in the text.
      AnswerModal<CKeywordCondDlg>([](CKeywordCondDlg* keywords) {
        RejectOnExit guard{keywords};
        QTest::keyClicks(keywords->keyword_edit(), "crash");
        Click(keywords, "A&dd ->");
        keywords->wildcard_check()->click();
        QVERIFY(keywords->wildcard_check()->isChecked());
        Click(keywords, "&Ok");
      });
      ClickItem(builder->field_list(), "Title");
      Click(builder, "A&dd...");
      Click(builder, ")");
      QCOMPARE(Texts(builder->criteria_list()),
               (QStringList{"(Status is (Open,Fixed))", ".OR.((Priority is .NOT.(=1))",
                            ".AND.(Title is (*crash*)))"}));
      QCOMPARE(builder->criteria_list()->currentRow(), 2);
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
    QtRuleBrowsers browsers(prompts_, nullptr);
    const std::string stored = "(Status is (Open,Fixed)) .AND.(Owner is (anna)) .OR.(Title is (x))";
    AnswerModal<CQueryBuilderDlg>([](CQueryBuilderDlg* builder) {
      RejectOnExit guard{builder};
      QCOMPARE(Texts(builder->criteria_list()),
               (QStringList{"(Status is (Open,Fixed))", ".AND.(Owner is (anna))",
                            ".OR.(Title is (x))"}));
      QCOMPARE(builder->criteria_list()->currentRow(), 2);  // the last one
      AnswerModal<CValueListCondDlg>([](CValueListCondDlg* values) {
        RejectOnExit guard{values};
        QList<QListWidgetItem*> selected = values->value_list()->selectedItems();
        QCOMPARE(selected.size(), 2);
        ClickItem(values->value_list(), "Fixed");  // unselected
        ClickItem(values->value_list(), "Closed");
        values->and_button()->click();
        Click(values, "&Ok");
      });
      DoubleClickItem(builder->criteria_list(), "(Status is (Open,Fixed))");
      QCOMPARE(builder->criteria_list()->item(0)->text(), QString("(Status is (Open&Closed))"));
      Click(builder, "Remo&ve");
      QCOMPARE(Texts(builder->criteria_list()),
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
    QCOMPARE(testing::LabelOf(&dialog, dialog.expression_edit()), QString("&Expression:"));
    QString missing;
    QVERIFY2(testing::EveryInputHasALabel(&dialog, &missing), qPrintable(missing));
    AnswerModal<CRangeDlg>([](CRangeDlg* range) {
      RejectOnExit guard{range};
      QCOMPARE(range->from_edit()->text(), QString("2"));
      QCOMPARE(range->to_edit()->text(), QString("4"));
      range->to_edit()->selectAll();
      QTest::keyClicks(range->to_edit(), "9");
      Click(range, "&Ok");
    });
    DoubleClickItem(dialog.operator_list(), "Range(-)");
    QCOMPARE(dialog.expression_edit()->text(), QString("2-9"));
    DoubleClickItem(dialog.operator_list(), "{none}");
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
      QCOMPARE(from_to->from_list()->currentIndex(), -1);
      from_to->from_list()->setCurrentIndex(0);
      from_to->to_list()->setCurrentIndex(2);
      Click(from_to, "&Ok");
    });
    DoubleClickItem(dialog.value_list(), "->");
    QCOMPARE(dialog.other_edit()->text(), QString("Open->Closed"));
    dialog.none_button()->click();
    QVERIFY(dialog.value_list()->selectedItems().isEmpty());
    dialog.or_button()->click();
    Click(&dialog, "&Ok");
    QCOMPARE(dialog.value(), std::string("Open->Closed"));
  }

  void keywordDialogRefusesAStar() {
    Clause clause;
    clause.column = "Title";
    CKeywordCondDlg dialog(clause, "Where Title is", prompts_);
    dialog.show();
    QTest::keyClicks(dialog.keyword_edit(), "a*b");
    ShownMessage shown;
    AcceptNextMessage(&shown);
    Click(&dialog, "A&dd ->");
    QCOMPARE(shown.text, QString("Invalid character entered!"));
    QCOMPARE(shown.caption, QString("Morvane Vigilo"));
    QCOMPARE(dialog.keyword_list()->count(), 0);
    for (const char* keyword : {"de", "abc"}) {
      dialog.keyword_edit()->clear();
      QTest::keyClicks(dialog.keyword_edit(), keyword);
      QTest::keyClick(dialog.keyword_edit(), Qt::Key_Return);
    }
    QCOMPARE(Texts(dialog.keyword_list()), (QStringList{"abc", "de"}));
    dialog.wildcard_check()->click();
    Click(&dialog, "&Ok");
    QCOMPARE(dialog.value(), std::string("*abc*,*de*"));
  }

  void sqlQueryChoosesTablesAndNeedsAClause() {
    home_.reset();
    testing::TestInstallation home{testing::ManagerHomeBuilder()};
    home.WriteServerFile("Proj.INI",
                         "[Morvane Orvik]\nLinkInfo Datafile=Proj.dbf\nBugs Datafile=Bugs.dbf\n");
    QtRuleBrowsers browsers(prompts_, nullptr);
    AnswerModal<CSqlQueryDlg>([](CSqlQueryDlg* sql) {
      RejectOnExit guard{sql};
      QCOMPARE(sql->from_edit()->text(), QString("Proj..Bugs"));
      QCOMPARE(sql->where_edit()->text(), QString("Status = 'Open'"));
      AnswerModal<CSelectTablesDlg>([](CSelectTablesDlg* tables) {
        RejectOnExit guard{tables};
        QCOMPARE(Texts(tables->table_list()), (QStringList{"Proj..Proj", "Proj..Bugs"}));
        QVERIFY(tables->table_list()->item(1)->isSelected());
        ClickItem(tables->table_list(), "Proj..Proj");
        tables->accept();
      });
      Click(sql, "...");
      QCOMPARE(sql->from_edit()->text(), QString("Proj..Proj,Proj..Bugs"));
      sql->where_edit()->clear();
      ShownMessage shown;
      AcceptNextMessage(&shown);
      Click(sql, "&OK");
      QCOMPARE(shown.text, QString("Please enter a valid where clause."));
      QVERIFY(sql->isVisible());
      QTest::keyClicks(sql->where_edit(), "1 = 1");
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
