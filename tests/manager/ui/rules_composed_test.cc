// The whole rule manager end to end: on a generated installation with a
// dBase project, the supervisor logs in, opens Setup Rules through Open
// Project and composes an Update rule and a Notify rule only through the
// dialogs (Field Values and Values; Notify List; Query Builder with a
// value-list clause and a change clause). The build's vgservice then runs one
// tick per start (--once), mailing through the SMTP sink the tests start on
// 127.0.0.1; Replace and Delete in the dialog change what the next tick does.
// A second test composes only the Values texts in their dialogs and stores
// the rules directly, so the values side is checked against the daemon on
// its own.
#include <stdlib.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>

#include "common/format.h"
#include "common/ini_profile.h"
#include "data/name_lists.h"
#include "manager/commands.h"
#include "manager/ui/field_values_dialog.h"
#include "manager/ui/frame_windows.h"
#include "manager/ui/input_value_dialog.h"
#include "manager/ui/login_dialog.h"
#include "manager/ui/main_frame.h"
#include "manager/ui/notify_list_dialog.h"
#include "manager/ui/open_project_dialog.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/query_builder_dialog.h"
#include "manager/ui/query_type_dialog.h"
#include "manager/ui/range_dialog.h"
#include "manager/ui/rule_browsers_qt.h"
#include "manager/ui/values_dialog_view.h"
#include "manager/ui/where_dialogs.h"
#include "notify/orvik_tables.h"
#include "tests/e2e/e2e_support.h"
#include "tests/manager/ui/dialog_helpers.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/demo_installation.h"
#include "tools/demo/installation_writer.h"

// The Setup Rules dialog comes with the rule list; without it only the
// values side runs.
#if __has_include("manager/ui/setup_rules_dialog.h")
#include "manager/ui/rule_list_view.h"
#include "manager/ui/setup_rules_dialog.h"
#define VIGILO_HAS_SETUP_RULES 1
#endif

namespace vigilo {

using demo::FieldDescription;
using demo::RecordDescription;
using testing::AnswerModal;
using testing::Child;
using testing::Button;

namespace {

constexpr char kProject[] = "Proj";
constexpr char kTable[] = "Bugs";

QListWidgetItem* Item(QListWidget* list, const QString& text) {
  QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
  return found.isEmpty() ? nullptr : found.first();
}

void Click(QListWidget* list, const QString& text) {
  QListWidgetItem* item = Item(list, text);
  QVERIFY2(item != nullptr, qPrintable(text));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
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

#ifdef VIGILO_HAS_SETUP_RULES
void Choose(QComboBox* combo, const QString& text) {
  int index = combo->findText(text);
  QStringList shown;
  for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
  QVERIFY2(index >= 0, qPrintable(text + " not in " + shown.join("|")));
  combo->setCurrentIndex(index);
}

// Selects the rule list's row whose first column (Rule Id) shows id.
void SelectRule(CSetupRulesDlg* dialog, const QString& id) {
  QAbstractItemModel* model = Child<CRuleListCtrl>(dialog, "ListOfRules")->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    if (model->index(row, 0).data().toString() == id) {
      Child<CRuleListCtrl>(dialog, "ListOfRules")->selectRow(row);
      return;
    }
  }
  QFAIL(qPrintable("no rule " + id));
}

// Answers the next Yes/No question with Yes.
void AnswerYes() {
  AnswerModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
}
#endif

RecordDescription Bug(long id, const std::string& title, const std::string& owner) {
  return RecordDescription{
      id, "Reported by sysop.", {{"Title", title}, {"Status", "Open"}, {"Owner", owner}}, "", ""};
}

QStringList Envelopes(const std::vector<test::ReceivedMail>& mail) {
  QStringList envelopes;
  for (const auto& message : mail) {
    std::string to;
    for (const auto& recipient : message.recipients) to += (to.empty() ? "" : ",") + recipient;
    envelopes << QString::fromStdString(message.subject + " -> " + to);
  }
  envelopes.sort();
  return envelopes;
}

}  // namespace

class RulesComposedTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::SmtpSink> sink_;
  std::unique_ptr<::vigilo::testing::TestInstallation> install_;
  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;

  // Project Proj with table Bugs (Status with its change history), records 1
  // to 3 open; the supervisor, and bob, carl and erin mailed by SMTP.
  void Install() {
    demo::TableDescription bugs;
    bugs.name = kTable;
    bugs.fields = {
        FieldDescription{"Title", demo::kFieldText, 30, {}, demo::kFlagDefault, false, ""},
        FieldDescription{"Status", demo::kFieldList, 10, {"Open", "Fixed", "Closed"},
                         demo::kFlagDefault, true, ""},
        FieldDescription{"Owner", demo::kFieldUser, 20, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
    };
    bugs.records = {Bug(1, "Crash on start", "bob"), Bug(2, "Wrong total", "carl"),
                    Bug(3, "Slow report", "bob"), Bug(4, "Typo in help", "erin")};
    ::vigilo::testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.projects = {demo::ProjectDescription{kProject, "", {bugs}}};
    description.users = {
        {"sysop", demo::kDemoSysopPasswordSum, 5, "sysop@example.org", "System Operator"},
        {"bob", "", 5, "bob@example.org", "Bob B."},
        {"carl", "", 5, "carl@example.org", "Carl C."},
        {"erin", "", 5, "erin@example.org", "Erin E."}};
    description.mail.smtp_server = sink_->host_port();
    install_ = std::make_unique<::vigilo::testing::TestInstallation>(std::move(builder));
    // The product's project INI names each table's data file; the Setup
    // Rules dialog lists the tables from these keys.
    WriteProfileString(install_->ProjectIni(kProject), "Morvane Orvik",
                       std::string(kTable) + " Datafile", std::string(kTable) + ".dbf");
  }

  std::string Tick() {
    // Runs append to one run log: the tick's own entries follow the earlier runs.
    const size_t before = install_->ReadRunLog().size();
    int status = e2e::RunServiceOnce(
        install_->program_dir(),
        {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN, "VIGILO_SMTP_CONNECT_TIMEOUT=2"});
    if (status != 0) {
      qWarning("%s", ::vigilo::testing::ReadText(install_->program_dir() + "/vgservice.stderr")
                         .c_str());
    }
    return status == 0 ? install_->ReadRunLog().substr(before) : std::string("<failed>");
  }

  std::string Field(long form_id, const std::string& field) const {
    return e2e::QueryValue(
        e2e::DbaseConnection(install_->TableDir(kProject, kTable)),
        Format("SELECT %s FROM %s WHERE FormID = %ld", field.c_str(), kTable, form_id));
  }

  QString Sent(long rule, long record, const std::string& to) const {
    return QString::fromStdString(Format("VIGILO Rule# %ld , Record# %ld of 0\\%s\\%s\\%s -> %s",
                                         rule, record, kServerDirSource, kProject, kTable,
                                         to.c_str()));
  }

#ifdef VIGILO_HAS_SETUP_RULES
  // File > Setup Rules, the demo project chosen in Open Project; work runs in
  // the Setup Rules dialog, which is then closed.
  void SetupRules(CMainFrame& frame, std::function<void(CSetupRulesDlg*)> work) {
    std::string project_file = install_->ProjectDir(kProject) + "/" + kProject + ".dbf";
    bool done = false;
    AnswerModal<COpenProjectDlg>([&](COpenProjectDlg* open) {
      Child<QComboBox>(open, "DbmsType")->setCurrentIndex(0);
      Child<QLineEdit>(open, "Project")->setText(QString::fromStdString(project_file));
      AnswerModal<CSetupRulesDlg>([&](CSetupRulesDlg* setup) {
        Choose(Child<QComboBox>(setup, "ProjectTable"), QString("%1\\%2").arg(kProject, kTable));
        work(setup);
        done = true;
        QTest::mouseClick(Button(setup, "&Close"), Qt::LeftButton);
      });
      open->accept();
    });
    frame.action(kSetupRulesCommand)->trigger();
    QVERIFY(done);
  }

  // Values Browse of an Update rule: Resolution typed, Status chosen.
  static void ComposeUpdate(CSetupRulesDlg* setup) {
    Choose(Child<QComboBox>(setup, "Action"), "Update");
    AnswerModal<CFieldValuesDlg>([](CFieldValuesDlg* values) {
      AnswerModal<CInputValueDlg>([](CInputValueDlg* input) {
        QTest::keyClicks(Child<QLineEdit>(input, "Value"), "Verified");
        QTest::mouseClick(Button(input, "&Ok"), Qt::LeftButton);
      });
      DoubleClick(Child<QListWidget>(values, "FieldList"), "Resolution");
      ClickOk(values);
    });
    QTest::mouseClick(Button(setup, "&Browse..."), Qt::LeftButton);
  }

  // Rule Condition Browse: Visual Query Builder, one clause on Status; in
  // the value-list dialog, choose either a value or a change.
  static void ComposeStatusCondition(CSetupRulesDlg* setup,
                                     std::function<void(CValueListCondDlg*)> choose) {
    AnswerModal<CQueryTypeDlg>([choose](CQueryTypeDlg* type) {
      AnswerModal<CQueryBuilderDlg>([choose](CQueryBuilderDlg* builder) {
        AnswerModal<CValueListCondDlg>([choose](CValueListCondDlg* where) {
          choose(where);
          where->accept();
        });
        DoubleClick(Child<QListWidget>(builder, "FieldList"), "Status");
        builder->accept();
      });
      ClickOk(type);
    });
    QTest::mouseClick(Button(setup, "Bro&wse..."), Qt::LeftButton);
  }
#endif

 private slots:
  void init() {
    context_ = std::make_unique<ManagerContext>(prompts_);
    sink_ = std::make_unique<test::SmtpSink>();
    Install();
    setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
  }
  void cleanup() {
    unsetenv("VIGILO_MAPI_LIBRARY");
    UserNameList().clear();
    GroupNameList().clear();
    install_.reset();
    sink_.reset();
  }

  void rulesComposedInTheProgramFire() {
#ifndef VIGILO_HAS_SETUP_RULES
    QSKIP("the Setup Rules dialog is not built");
#else
    CMainFrame frame(*context_);
    FrameWindows windows(frame, prompts_);
    CVigiloApp app(*context_, windows);
    AnswerModal<CLoginDlg>([](CLoginDlg* login) {
      QTest::keyClicks(Child<QLineEdit>(login, "Password"), demo::kDemoSysopPassword);
      QTest::keyClick(Child<QLineEdit>(login, "Password"), Qt::Key_Return);
    });
    QVERIFY(app.InitInstance());

    SetupRules(frame, [](CSetupRulesDlg* setup) {
      ComposeUpdate(setup);
      QCOMPARE(Child<QLineEdit>(setup, "Values")->text(), QString("Resolution=Verified"));
      ComposeStatusCondition(setup, [](CValueListCondDlg* where) {
        Click(Child<QListWidget>(where, "Values"), "Fixed");
      });
      QCOMPARE(Child<QPlainTextEdit>(setup, "RuleCondition")->toPlainText(), QString("(Status is (Fixed))"));
      QTest::mouseClick(Button(setup, "&Add"), Qt::LeftButton);

      QTest::mouseClick(Button(setup, "&New"), Qt::LeftButton);
      Choose(Child<QComboBox>(setup, "Action"), "Notify");
      Choose(Child<QComboBox>(setup, "Target"), "User");
      AnswerModal<CNotifyListDlg>([](CNotifyListDlg* list) {
        Click(Child<QListWidget>(list, "List"), "erin");
        Click(Child<QListWidget>(list, "List"), "bob");
        ClickOk(list);
      });
      QTest::mouseClick(Button(setup, "&Browse..."), Qt::LeftButton);
      QCOMPARE(Child<QLineEdit>(setup, "Values")->text(), QString("bob,erin"));
      ComposeStatusCondition(setup, [](CValueListCondDlg* where) {
        AnswerModal<CFromToDlg>([](CFromToDlg* from_to) {
          Choose(Child<QComboBox>(from_to, "From"), "Open");
          Choose(Child<QComboBox>(from_to, "To"), "Closed");
          from_to->accept();
        });
        DoubleClick(Child<QListWidget>(where, "Values"), "->");
        QCOMPARE(Child<QLineEdit>(where, "Other")->text(), QString("Open->Closed"));
      });
      QCOMPARE(Child<QPlainTextEdit>(setup, "RuleCondition")->toPlainText(), QString("(Status is (Open->Closed))"));
      QTest::mouseClick(Button(setup, "&Add"), Qt::LeftButton);
      QCOMPARE(Child<CRuleListCtrl>(setup, "ListOfRules")->model()->rowCount(), 2);
    });

    std::string log = Tick();
    QCOMPARE(e2e::CountOf(log, "Updating records"), 0);
    install_->ChangeField(kProject, kTable, 1, "Status", "Fixed", "carl");
    install_->ChangeField(kProject, kTable, 2, "Status", "Closed", "carl");
    log = Tick();
    QVERIFY2(e2e::CountOf(log, "Updating records") == 1, log.c_str());
    QCOMPARE(Field(1, "Resolution"), std::string("Verified"));
    QCOMPARE(Field(2, "Resolution"), std::string(""));
    QCOMPARE(Envelopes(sink_->WaitForMessages(1)),
             QStringList{Sent(2, 2, "bob@example.org,erin@example.org")});
    log = Tick();
    QVERIFY2(e2e::CountOf(log, "Updating records") == 0, log.c_str());
    QTest::qWait(300);
    QCOMPARE(sink_->Messages().size(), size_t(1));

    // Replace the Update rule's value, delete the Notify rule.
    SetupRules(frame, [](CSetupRulesDlg* setup) {
      SelectRule(setup, "1");
      QTest::mouseClick(Button(setup, "&Edit"), Qt::LeftButton);
      QCOMPARE(Child<QLineEdit>(setup, "Values")->text(), QString("Resolution=Verified"));
      AnswerModal<CFieldValuesDlg>([](CFieldValuesDlg* values) {
        AnswerModal<CInputValueDlg>([](CInputValueDlg* input) {
          Child<QLineEdit>(input, "Value")->setText("Rechecked");
          QTest::mouseClick(Button(input, "&Ok"), Qt::LeftButton);
        });
        DoubleClick(Child<QListWidget>(values, "AssignmentList"), "Resolution=Verified");
        ClickOk(values);
      });
      QTest::mouseClick(Button(setup, "&Browse..."), Qt::LeftButton);
      SelectRule(setup, "1");
      AnswerYes();
      QTest::mouseClick(Button(setup, "&Replace"), Qt::LeftButton);
      SelectRule(setup, "2");
      AnswerYes();
      QTest::mouseClick(Button(setup, "&Delete"), Qt::LeftButton);
      QCOMPARE(Child<CRuleListCtrl>(setup, "ListOfRules")->model()->rowCount(), 1);
    });
    install_->ChangeField(kProject, kTable, 3, "Status", "Fixed", "carl");
    install_->ChangeField(kProject, kTable, 4, "Status", "Closed", "carl");
    log = Tick();
    QVERIFY2(e2e::CountOf(log, "Updating records") == 1, log.c_str());
    QCOMPARE(Field(3, "Resolution"), std::string("Rechecked"));
    QCOMPARE(Field(1, "Resolution"), std::string("Verified"));
    QTest::qWait(300);
    QCOMPARE(sink_->Messages().size(), size_t(1));
    app.ExitInstance();
#endif
  }

  void valuesComposedInTheDialogsFire() {
    FillProcessNameLists(CServerPaths(CServerPaths::Program::kManager).server_dir);
    ProjectSelection selection{"0", kServerDirSource, kProject, kTable};
    QtRuleBrowsers browsers(*context_, nullptr);
    AnswerModal<CFieldValuesDlg>([](CFieldValuesDlg* dialog) {
      AnswerModal<CInputValueDlg>([](CInputValueDlg* input) {
        QTest::keyClicks(Child<QLineEdit>(input, "Value"), "Verified");
        QTest::mouseClick(Button(input, "&Ok"), Qt::LeftButton);
      });
      DoubleClick(Child<QListWidget>(dialog, "FieldList"), "Resolution");
      ClickOk(dialog);
    });
    std::optional<std::string> update = browsers.FieldValues(selection, "");
    QCOMPARE(update, std::optional<std::string>("Resolution=Verified"));
    AnswerModal<CNotifyListDlg>([](CNotifyListDlg* dialog) {
      Click(Child<QListWidget>(dialog, "List"), "erin");
      Click(Child<QListWidget>(dialog, "List"), "bob");
      ClickOk(dialog);
    });
    std::optional<std::string> notify = browsers.NotifyList(selection, "User", "");
    QCOMPARE(notify, std::optional<std::string>("bob,erin"));

    std::string table = std::string(kProject) + "\\" + kTable;
    install_->AppendRules(
        {{1, 0, kServerDirSource, table, "Update", "Field", *update, "(Status is (Fixed))", 0, ""},
         {2, 0, kServerDirSource, table, "Notify", "User", *notify,
          "(ChngHist->ChngWhat is (Status)) .AND.(ChngHist->ChngFrom is (Open)) .AND."
          "(ChngHist->ChngTo is (Closed))",
          0, ""}});

    std::string log = Tick();
    QCOMPARE(e2e::CountOf(log, "Updating records"), 0);
    QCOMPARE(sink_->Messages().size(), size_t(0));

    install_->ChangeField(kProject, kTable, 1, "Status", "Fixed", "carl");
    install_->ChangeField(kProject, kTable, 2, "Status", "Closed", "carl");
    log = Tick();
    QVERIFY2(e2e::CountOf(log, "Updating records") == 1, log.c_str());
    QCOMPARE(Field(1, "Resolution"), std::string("Verified"));
    QCOMPARE(Field(2, "Resolution"), std::string(""));
    std::vector<test::ReceivedMail> mail = sink_->WaitForMessages(1);
    QCOMPARE(Envelopes(mail), QStringList{Sent(2, 2, "bob@example.org,erin@example.org")});

    log = Tick();
    QVERIFY2(e2e::CountOf(log, "Updating records") == 0, log.c_str());
    QTest::qWait(300);
    QCOMPARE(sink_->Messages().size(), size_t(1));
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::RulesComposedTest)
#include "rules_composed_test.moc"
