// The Open Project dialog through its real Browse: a dBase project picked in
// the file chooser, and an Oracle-kind project listed by the master catalogue
// of a real PostgreSQL server reached through psqlODBC.
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTextBrowser>

#include "common/ini_profile.h"
#include "data/login_info.h"
#include "manager/ui/help_window.h"
#include "manager/ui/open_project_dialog.h"
#include "manager/ui/project_dialog_view.h"
#include "manager/ui/qt_prompts.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/ui/dialog_helpers.h"
#include "tests/support/postgres_server.h"

namespace vigilo {

using testing::AcceptNextMessage;
using testing::Child;
using testing::Button;
using testing::ShownMessage;

class OpenProjectDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::PostgresServer> server_;
  std::unique_ptr<testing::TestInstallation> home_;
  QtPrompts prompts_;
  // Settings built at their first use, after the test has made its home.
  std::unique_ptr<ManagerContext> context_;

  std::string LastDsn() {
    CServerPaths paths(CServerPaths::Program::kManager);
    return GetProfileString(paths.program_ini_path, "Misc", "LastDsn", "<none>");
  }

 private slots:
  void initTestCase() {
    // The server's odbc.ini must be in place before the first ODBC call.
    if (!test::PostgresServer::Available()) return;
    test::PostgresServer::Options options;
    options.extra_dsn_keys = {"SERVER=pgsrv"};
    server_ = std::make_unique<test::PostgresServer>(options);
    server_->Psql(
        "CREATE SCHEMA orvik_master; "
        "CREATE TABLE orvik_master.projlist (projname char(20), dbname char(20)); "
        "INSERT INTO orvik_master.projlist VALUES ('Alpha', 'alphadb'), ('Proj', 'projdb');"
        "GRANT USAGE ON SCHEMA orvik_master TO vigilo; "
        "GRANT SELECT ON orvik_master.projlist TO vigilo;");
  }
  void cleanupTestCase() { server_.reset(); }
  void init() {
    context_ = std::make_unique<ManagerContext>(prompts_);
    home_ = std::make_unique<testing::TestInstallation>(testing::InstallationBuilder::Demo());
  }
  void cleanup() { home_.reset(); }

  void showsItsTextsAndKinds() {
    ProjectSelection selection;
    COpenProjectDlg dialog(selection, *context_);
    QCOMPARE(dialog.windowTitle(), QString("Open Project"));
    QCOMPARE(Child<QComboBox>(&dialog, "DbmsType")->count(), 3);
    QCOMPARE(Child<QComboBox>(&dialog, "DbmsType")->itemText(0), QString("ORVIK Database"));
    QCOMPARE(Child<QComboBox>(&dialog, "DbmsType")->itemText(2), QString("Oracle Database"));
    QCOMPARE(Child<QComboBox>(&dialog, "DbmsType")->currentIndex(), -1);
    QVERIFY(!Child<QLineEdit>(&dialog, "Project")->isEnabled());
    QCOMPARE(testing::LabelOf(&dialog, Child<QComboBox>(&dialog, "DbmsType")), QString("DBMS &Type:"));
    QCOMPARE(testing::LabelOf(&dialog, Child<QLineEdit>(&dialog, "Project")), QString("&Project:"));
    for (const char* button : {"&Browse...", "&OK", "&Cancel", "&Help"}) {
      QVERIFY2(Button(&dialog, button) != nullptr, button);
    }
    QString missing;
    QVERIFY2(testing::EveryInputHasALabel(&dialog, &missing), qPrintable(missing));

    dialog.show();
    QTest::mouseClick(Button(&dialog, "&Help"), Qt::LeftButton);
    QVERIFY(ProgramHelpWindow()->isVisible());
    QCOMPARE(Child<QTextBrowser>(ProgramHelpWindow(), "HelpText")->documentTitle(), QString("Choosing a project"));
    ProgramHelpWindow()->close();
  }

  void helpFromAModalDialogIsNotBlockedByIt() {
    ProjectSelection selection;
    COpenProjectDlg dialog(selection, *context_);
    bool help_blocked = true;
    testing::AnswerModal<COpenProjectDlg>([&](COpenProjectDlg* shown) {
      QTest::mouseClick(Button(shown, "&Help"), Qt::LeftButton);
      help_blocked = QApplication::activeModalWidget() != shown ||
                     ProgramHelpWindow()->window()->parentWidget() != shown ||
                     !ProgramHelpWindow()->isVisible();
      shown->reject();
    });
    dialog.exec();
    QVERIFY(!help_blocked);
  }

  void dbaseProjectThroughTheFileChooser() {
    const std::string file = home_->ProjectDir("Demo") + "/Demo.dbf";
    ProjectSelection selection;
    COpenProjectDlg dialog(selection, *context_);
    dialog.show();
    Child<QComboBox>(&dialog, "DbmsType")->setCurrentIndex(0);
    QString start_dir, filter;
    testing::AnswerModal<QFileDialog>([&](QFileDialog* chooser) {
      start_dir = chooser->directory().absolutePath();
      filter = chooser->nameFilters().value(0);
      chooser->selectFile(QString::fromStdString(file));
      static_cast<QDialog*>(chooser)->accept();
    });
    QTest::mouseClick(Child<QPushButton>(&dialog, "Browse"), Qt::LeftButton);
    QCOMPARE(filter, QString("Database Files (*.dbf)"));
    QCOMPARE(start_dir.toStdString(), home_->server_dir());
    QCOMPARE(Child<QLineEdit>(&dialog, "Project")->text().toStdString(), file);

    QTest::mouseClick(Button(&dialog, "&OK"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(selection.kind, std::string("0"));
    QCOMPARE(selection.dsn, std::string("SERVERDIR"));
    QCOMPARE(selection.project, std::string("Demo"));
    QCOMPARE(LastDsn(), std::string("0\\SERVERDIR\\Demo\\"));

    // Opened again, the dialog offers the same project.
    ProjectSelection again;
    COpenProjectDlg reopened(again, *context_);
    QCOMPARE(Child<QComboBox>(&reopened, "DbmsType")->currentIndex(), 0);
    QCOMPARE(Child<QLineEdit>(&reopened, "Project")->text().toStdString(),
             home_->ProjectDir("Demo") + "/Demo");
  }

  void changingTheKindEmptiesTheField() {
    ProjectSelection selection;
    COpenProjectDlg dialog(selection, *context_);
    dialog.show();
    Child<QComboBox>(&dialog, "DbmsType")->setCurrentIndex(0);
    Child<QLineEdit>(&dialog, "Project")->setText("somewhere/Demo");
    Child<QComboBox>(&dialog, "DbmsType")->setCurrentIndex(1);
    QVERIFY(Child<QLineEdit>(&dialog, "Project")->text().isEmpty());
    QTest::mouseClick(Button(&dialog, "&OK"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
  }

  void oracleProjectThroughTheCatalogue() {
    if (!server_) QSKIP("PostgreSQL or psqlODBC is not installed");
    CServerPaths paths(CServerPaths::Program::kManager);
    QVERIFY(WriteProfileString(paths.orvik_ini_path, "Oracle", "pgsrv",
                               *FormatLoginValue(server_->options().user,
                                                 server_->options().password)));
    QVERIFY(WriteProfileString(paths.server_dir + "/Proj.ini", "Morvane Orvik",
                               "LinkInfo Datafile", "proj.lnk"));

    ProjectSelection selection;
    COpenProjectDlg dialog(selection, *context_);
    dialog.show();
    Child<QComboBox>(&dialog, "DbmsType")->setCurrentIndex(2);
    QStringList sources, projects;
    QString title, labels;
    testing::AnswerModal<CProjectDlg>([&](CProjectDlg* chooser) {
      title = chooser->windowTitle();
      labels = testing::LabelOf(chooser, Child<QComboBox>(chooser, "DataSource")) + "|" +
               testing::LabelOf(chooser, Child<QComboBox>(chooser, "ProjectList"));
      for (int i = 0; i < Child<QComboBox>(chooser, "DataSource")->count(); ++i) {
        sources << Child<QComboBox>(chooser, "DataSource")->itemText(i);
      }
      // OK before both are chosen only beeps.
      QTest::mouseClick(Button(chooser, "&OK"), Qt::LeftButton);
      Child<QComboBox>(chooser, "DataSource")->setCurrentIndex(sources.indexOf("VGPG"));
      for (int i = 0; i < Child<QComboBox>(chooser, "ProjectList")->count(); ++i) {
        projects << Child<QComboBox>(chooser, "ProjectList")->itemText(i);
      }
      Child<QComboBox>(chooser, "ProjectList")->setCurrentIndex(1);
      QTest::mouseClick(Button(chooser, "&OK"), Qt::LeftButton);
    });
    QTest::mouseClick(Child<QPushButton>(&dialog, "Browse"), Qt::LeftButton);
    QCOMPARE(title, QString("Project"));
    QCOMPARE(labels, QString("Data &Source:|&Project:"));
    QVERIFY(sources.contains("VGPG"));
    QCOMPARE(projects, QStringList({"Alpha", "Proj"}));
    QCOMPARE(Child<QLineEdit>(&dialog, "Project")->text(), QString("VGPG\\Proj"));

    QTest::mouseClick(Button(&dialog, "&OK"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(selection.kind, std::string("2"));
    QCOMPARE(LastDsn(), std::string("2\\VGPG\\Proj\\"));
  }

  void projectWithoutLinkInfoIsRefused() {
    if (!server_) QSKIP("PostgreSQL or psqlODBC is not installed");
    CServerPaths paths(CServerPaths::Program::kManager);
    WriteProfileString(paths.program_ini_path, "Misc", "LastDsn", "2\\VGPG\\Alpha\\");
    ProjectSelection selection;
    COpenProjectDlg dialog(selection, *context_);
    dialog.show();
    QCOMPARE(Child<QLineEdit>(&dialog, "Project")->text(), QString("VGPG\\Alpha"));
    ShownMessage shown;
    AcceptNextMessage(&shown);
    QTest::mouseClick(Button(&dialog, "&OK"), Qt::LeftButton);
    QCOMPARE(shown.text.toStdString(), "Invalid Project Name " + paths.server_dir + "/Alpha.ini!");
    QCOMPARE(shown.caption, QString("Morvane Vigilo"));
    QVERIFY(dialog.isVisible());
  }
};

}  // namespace vigilo

QTEST_MAIN(vigilo::OpenProjectDialogTest)
#include "open_project_dialog_test.moc"
