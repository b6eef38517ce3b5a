#include "manager/ui/window_gallery.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include "data/date_settings.h"
#include "data/field_defs_reader.h"
#include "data/project_source.h"
#include "data/server_paths.h"
#include "manager/manager_context.h"
#include "manager/help_topics.h"
#include "manager/field_values.h"
#include "manager/login.h"
#include "manager/notify_list.h"
#include "manager/open_project.h"
#include "manager/select_tables.h"
#include "manager/ui/about_dialog.h"
#include "manager/ui/field_values_dialog.h"
#include "manager/ui/help_window.h"
#include "manager/ui/input_value_dialog.h"
#include "manager/ui/list_controls.h"
#include "manager/ui/login_dialog.h"
#include "manager/ui/main_frame.h"
#include "manager/ui/notify_list_dialog.h"
#include "manager/ui/open_project_dialog.h"
#include "manager/ui/options_dialog.h"
#include "manager/ui/project_dialog_view.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/query_builder_dialog.h"
#include "manager/ui/query_type_dialog.h"
#include "manager/ui/range_dialog.h"
#include "manager/ui/rule_browsers_qt.h"
#include "manager/ui/server_status_dialog.h"
#include "manager/ui/rule_test_dialog.h"
#include "manager/ui/setup_rules_dialog.h"
#include "manager/ui/sql_query_dialog.h"
#include "manager/ui/values_dialog_view.h"
#include "manager/ui/view_rules_dialog.h"
#include "manager/ui/where_dialogs.h"
#include "notify/orvik_tables.h"

namespace vigilo {
namespace {

// The visitor of the window gallery being walked.
const WindowVisitor* visitor = nullptr;

void Save(QWidget* widget, const char* name) { (*visitor)(widget, name); }

// The dialogs of the Values Browse button, on the demo's Bugs table.
void SaveValuesDialogs(vigilo::ManagerContext& context, QWidget* parent) {
  context.Load();
  const vigilo::CServerPaths& paths = context.paths();
  vigilo::Prompts& prompts = context.prompts();
  vigilo::ProjectSelection bugs{"0", vigilo::kServerDirSource, "Demo", "Bugs"};
  vigilo::CNotifyListDlg users(
      "User", vigilo::NotifyListLogic::Entries("User", paths, bugs, prompts), "ann,erin", prompts,
      parent);
  Save(&users, "notify-list-users");
  vigilo::CNotifyListDlg fields(
      "Field", vigilo::NotifyListLogic::Entries("Field", paths, bugs, prompts), "Owner,Manager",
      prompts, parent);
  Save(&fields, "notify-list-fields");
  vigilo::CInputValueDlg address(vigilo::kInternetAddressLabel, "qa-lead@demo.example", prompts,
                                 parent);
  Save(&address, "input-value-address");
  std::vector<vigilo::CFieldDef> definitions = vigilo::ReadSelectionFields(paths, bugs, prompts);
  vigilo::CFieldValuesDlg field_values(definitions, "Resolution=Awaiting verification;Status=Fixed",
                                       prompts, parent);
  Save(&field_values, "field-values");
  if (const vigilo::CFieldDef* status = vigilo::FindField(definitions, "Status")) {
    vigilo::CValuesDlg values(*status, "Fixed", prompts, parent);
    Save(&values, "values");
  }
}

// The rule dialogs on the demo's dBase project: Setup Rules with a rule being
// composed (nothing is written) and View of Rules with every rule.
void SaveRuleDialogs(QWidget* frame, vigilo::ManagerContext& context) {
  vigilo::Prompts& prompts = context.prompts();
  vigilo::ProjectSelection selection{"0", vigilo::kServerDirSource, "Demo", ""};
  vigilo::QtRuleBrowsers browsers(context, frame);
  vigilo::CSetupRulesDlg setup_rules(selection, context, browsers, frame);
  setup_rules.findChild<QComboBox*>("ProjectTable")->setCurrentIndex(1);  // Demo\Bugs, with the demo's rules listed
  setup_rules.findChild<QComboBox*>("Action")->setCurrentIndex(0);
  setup_rules.logic().set_values("ann,bob");
  setup_rules.logic().set_condition("(Status is (Open,Reopened)) .AND.(Priority is (1))");
  setup_rules.Refresh();
  Save(&setup_rules, "setup-rules");

  // The preview of a Test button for a saved notification rule of the Bugs
  // table, once the count has ended.
  vigilo::TestedRule rule;
  rule.dsn = vigilo::kServerDirSource;
  rule.project_table = "Demo\\Bugs";
  rule.action = "Notify";
  rule.target = "User";
  rule.values = "ann,bob,carl,dave,erin";
  rule.condition = "(Status is (Open,Reopened)) .AND.(Priority is (1))";
  rule.rule_id = 3;  // the demo's rule of that condition
  vigilo::CRuleTestDlg test(rule, prompts, vigilo::CRuleTestDlg::MarkOffer::kEnabled, frame);
  while (test.busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  Save(&test, "rule-test");

  vigilo::CViewRulesDlg view_rules(context, frame);
  Save(&view_rules, "view-rules");
}

// The in-process server's status window, and the status bar of a window
// whose server runs.
void SaveServerWindows(vigilo::CMainFrame& frame) {
  frame.SetServerRunning(true);
  frame.SetPaneText(vigilo::kServerPane, vigilo::kServerRunningPane);
  frame.resize(640, 360);
  Save(&frame, "main-window-server-running");
  QMenu* server_menu = frame.menuBar()->actions().value(1)->menu();
  frame.show();
  server_menu->popup(frame.mapToGlobal(QPoint(0, frame.menuBar()->height())));
  Save(server_menu, "main-window-server-menu");
  frame.SetServerRunning(false);
  frame.SetPaneText(vigilo::kServerPane, "");

  auto* status = new vigilo::CServerStatusDlg(&frame);
  status->SetText(vigilo::kServerStartingText);
  Save(status, "server-status");
  delete status;
}

// The condition dialogs on the demo's Bugs table, each holding a value.
void SaveConditionDialogs(QWidget* parent, vigilo::ManagerContext& context) {
  using namespace vigilo;
  const CServerPaths& paths = context.paths();
  Prompts& prompts = context.prompts();
  std::vector<CFieldDef> fields;
  ReadFieldDefs(FieldDefsIniPath(paths, 0, "Demo", "Bugs"), fields);
  DateSettings dates = DateSettingsOf(paths);

  CQueryTypeDlg query_type(parent);
  Save(&query_type, "select-query-type");

  CQueryBuilderDlg builder(0, fields,
                           "(Status is (Open,Fixed)) .AND.((Priority is .NOT.(=1)) "
                           ".OR.(Title is (*crash*)))",
                           dates, prompts, parent);
  builder.set_tester([](const std::string&) {});
  builder.resize(760, 320);
  Save(&builder, "query-builder");

  Clause priority;
  priority.column = "Priority";
  priority.values = "1-3";
  COperatorCondDlg op(FindField(fields, "Priority"), priority, dates, prompts, parent);
  Save(&op, "where-operator");
  // A date typed in another format than the user's: the hint and the reason.
  Clause created;
  created.column = "Created";
  COperatorCondDlg date_op(FindField(fields, "Created"), created, dates, prompts, parent);
  date_op.findChild<QLineEdit*>("Expression")->setText("=2024-12-24");
  Save(&date_op, "where-operator-date");

  std::vector<CFieldDef> editable = fields;
  Clause status;
  status.column = "Status";
  status.values = "Open,Fixed";
  for (CFieldDef& field : editable) {
    if (field.name != "Status") continue;
    CValueListCondDlg shown(&field, status, prompts, parent);
    Save(&shown, "where-value-list");
  }

  Clause title;
  title.column = "Title";
  title.values = "*abc*,*crash*";
  CKeywordCondDlg keywords(title, WhereCaption(title, FindField(fields, "Title")), prompts,
                           parent);
  Save(&keywords, "where-keyword");

  CRangeDlg range("Priority", dates.separator, "1-3", prompts, parent);
  Save(&range, "range");
  CFromToDlg from_to(FindField(fields, "Status"), "Status", "Open->Fixed", prompts, parent);
  Save(&from_to, "from-to");

  CSqlQueryDlg sql("FROM Bugs WHERE (Status = 'Open')", nullptr, prompts, parent);
  Save(&sql, "sql-query");
  CSelectTablesDlg tables(ProjectTableFromNames(paths, 0, kServerDirSource, "Demo"), "Demo",
                          prompts, parent);
  Save(&tables, "select-tables");
}

}  // namespace


void VisitWindowGallery(ManagerContext& context, const WindowVisitor& visit) {
  visitor = &visit;
  NameComboBoxesByLabel();  // as the program does at start-up
  Prompts& prompts = context.prompts();
  CMainFrame frame(context);
  frame.resize(640, 360);
  Save(&frame, "main-window");
  frame.show();
  QMenu* file_menu = frame.menuBar()->actions().value(0)->menu();
  file_menu->popup(frame.mapToGlobal(QPoint(0, frame.menuBar()->height())));
  Save(file_menu, "main-window-file-menu");

  CLoginDlg login(prompts, InstallationUserTable(), &frame);
  login.findChild<QLineEdit*>("Password")->setText("******");
  Save(&login, "login");

  QMessageBox refused(QMessageBox::NoIcon, kProgramCaption,
                      kInvalidPasswordMessage, QMessageBox::Ok, &frame);
  Save(&refused, "login-invalid-password");

  CAboutDlg about(&frame);
  Save(&about, "about");

  const CServerPaths& paths = context.paths();
  COptionsDlg options(paths.program_ini_path, prompts, &frame);
  Save(&options, "options");

  ProjectSelection selection;
  COpenProjectDlg open_project(selection, context, &frame);
  Save(&open_project, "open-project");
  // As after Browse on the demo's dBase project.
  open_project.findChild<QComboBox*>("DbmsType")->setCurrentIndex(0);
  open_project.findChild<QLineEdit*>("Project")->setText(
      QString::fromStdString(DbaseProjectDirectory(paths, "Demo") + "/Demo.dbf"));
  Save(&open_project, "open-project-dbase");

  ProjectSelection catalogue_selection{"2", "", "", ""};
  std::vector<std::string> sources = MachineDataSources();
  if (sources.empty()) sources = {"ORVIKDB"};
  CProjectDlg project(catalogue_selection, sources, context, &frame);
  Save(&project, "project");

  SaveValuesDialogs(context, &frame);
  SaveRuleDialogs(&frame, context);
  SaveServerWindows(frame);

  HelpWindow help;
  help.ShowTopic(kHelpContentsTopic);
  Save(&help, "help-contents");
  help.ShowTopic(618);
  Save(&help, "help-618");
  SaveConditionDialogs(&frame, context);
  visitor = nullptr;
}

}  // namespace vigilo
