// Rules composed in the rule manager's dialogs and fired by the daemon: on a
// generated installation with a dBase project, an Update rule and a Notify
// rule get their Values from the real values dialogs; then the build's
// vgservice runs one tick per start (--once) and mails through the SMTP sink
// the tests start on 127.0.0.1.
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "common/format.h"
#include "data/name_lists.h"
#include "data/server_paths.h"
#include "manager/ui/field_values_dialog.h"
#include "manager/ui/input_value_dialog.h"
#include "manager/ui/notify_list_dialog.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/rule_browsers_qt.h"
#include "notify/orvik_tables.h"
#include "tests/common/temp_dir.h"
#include "tests/e2e/e2e_support.h"
#include "tests/manager/ui/dialog_helpers.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/demo_installation.h"
#include "tools/demo/installation_writer.h"

namespace vigilo {

using demo::FieldDescription;
using demo::RecordDescription;
using testing::AnswerModal;
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

RecordDescription Bug(long id, const std::string& title, const std::string& owner) {
  return RecordDescription{
      id, "Reported by sysop.", {{"Title", title}, {"Status", "Open"}, {"Owner", owner}}, "", ""};
}

// Subject and recipients of each message, sorted.
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
  std::unique_ptr<::vigilo::testing::TempDir> dir_;
  std::unique_ptr<test::SmtpSink> sink_;
  std::unique_ptr<demo::Installation> install_;
  QtPrompts prompts_;

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
                    Bug(3, "Slow report", "bob")};
    demo::InstallationDescription description;
    description.projects = {demo::ProjectDescription{kProject, "", {bugs}}};
    description.users = {
        {"sysop", demo::kDemoSysopPasswordSum, 5, "sysop@example.org", "System Operator"},
        {"bob", "", 5, "bob@example.org", "Bob B."},
        {"carl", "", 5, "carl@example.org", "Carl C."},
        {"erin", "", 5, "erin@example.org", "Erin E."}};
    description.groups = {{"QA", {"carl", "erin"}, "Quality"}};
    description.mail.smtp_server = sink_->host_port();
    install_ = std::make_unique<demo::Installation>(
        demo::Installation::Write(dir_->path(), description));
    SetProgramDirectory(install_->program_dir());
    CServerPaths paths(CServerPaths::Program::kManager);
    FillProcessNameLists(paths.server_dir);
  }

  // One tick of the daemon; returns the run log it leaves.
  std::string Tick() {
    int status = e2e::RunServiceOnce(
        install_->program_dir(),
        {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN, "VIGILO_SMTP_CONNECT_TIMEOUT=2"});
    if (status != 0) {
      qWarning("%s", ::vigilo::testing::ReadText(install_->program_dir() + "/vgservice.stderr")
                         .c_str());
    }
    return status == 0 ? install_->ReadRunLog() : std::string("<failed>");
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

 private slots:
  void init() {
    dir_ = std::make_unique<::vigilo::testing::TempDir>();
    sink_ = std::make_unique<test::SmtpSink>();
    Install();
  }
  void cleanup() {
    UserNameList().clear();
    GroupNameList().clear();
    SetProgramDirectory("");
    install_.reset();
    sink_.reset();
    dir_.reset();
  }

  void valuesComposedInTheDialogsFire() {
    ProjectSelection selection{"0", kServerDirSource, kProject, kTable};
    QtRuleBrowsers browsers(prompts_, nullptr);
    AnswerModal<CFieldValuesDlg>([](CFieldValuesDlg* dialog) {
      AnswerModal<CInputValueDlg>([](CInputValueDlg* input) {
        QTest::keyClicks(input->value_edit(), "Verified");
        QTest::mouseClick(Button(input, "&Ok"), Qt::LeftButton);
      });
      DoubleClick(dialog->field_list(), "Resolution");
      ClickOk(dialog);
    });
    std::optional<std::string> update = browsers.FieldValues(selection, "");
    QCOMPARE(update, std::optional<std::string>("Resolution=Verified"));
    AnswerModal<CNotifyListDlg>([](CNotifyListDlg* dialog) {
      Click(dialog->list(), "erin");
      Click(dialog->list(), "bob");
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
