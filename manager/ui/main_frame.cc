#include "manager/ui/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include "common/format.h"
#include "manager/commands.h"
#include "manager/help_topics.h"
#include "manager/project_selection.h"
#include "manager/server_control.h"
#include "manager/ui/about_dialog.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/help_window.h"
#include "manager/ui/open_project_dialog.h"
#include "manager/ui/options_dialog.h"
#include "manager/rule_list_table.h"
#include "manager/rule_printing.h"
#include "manager/ui/rule_browsers_qt.h"
#include "manager/ui/setup_rules_dialog.h"
#include "manager/ui/view_rules_dialog.h"
#include "manager/ui/vigilo_view.h"

namespace vigilo {
namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QIcon CommandIcon(int command) {
  QStyle* style = QApplication::style();
  switch (command) {
    case kSetupRulesCommand:
      return QIcon::fromTheme("document-edit", style->standardIcon(QStyle::SP_FileDialogDetailedView));
    case kViewRulesCommand:
      return QIcon::fromTheme("document-preview", style->standardIcon(QStyle::SP_FileDialogContentsView));
    case kHelpContentsCommand:
      return QIcon::fromTheme("help-contents", style->standardIcon(QStyle::SP_DialogHelpButton));
    case kStartServerCommand:
      return QIcon::fromTheme("media-playback-start", style->standardIcon(QStyle::SP_MediaPlay));
    case kStopServerCommand:
      return QIcon::fromTheme("media-playback-stop", style->standardIcon(QStyle::SP_MediaStop));
    default:
      return QIcon();
  }
}

}  // namespace

CMainFrame::CMainFrame(ManagerContext& context, QWidget* parent,
                       ServerControlOptions server_options)
    : QMainWindow(parent),
      context_(context),
      prompts_(context.prompts()),
      choose_printer_(PrintDialogChooser(this)) {
  setObjectName("MainFrame");
  setWindowTitle(kProgramCaption);
  setWindowIcon(ProgramIcon());
  SetHelpTopic(this, kHelpContentsTopic);
  CreateActions();
  CreateMenus();
  CreateToolbar();
  CreateStatusBar();
  view_ = new CVigiloView(*this, prompts_, std::move(server_options));
  setCentralWidget(view_);
  UpdateCommands();
  resize(640, 420);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (view_ != nullptr && !view_->server().CanClose()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void CMainFrame::CreateActions() {
  for (const CommandText& command : MainCommands()) {
    auto* action = new QAction(CommandIcon(command.id), Text(command.menu_text), this);
    action->setObjectName(QString("command%1").arg(command.id));
    action->setStatusTip(Text(command.status_prompt));
    if (!command.tool_tip.empty()) action->setToolTip(Text(command.tool_tip));
    action->setShortcut(QKeySequence(Text(CommandShortcut(command.id))));
    const int id = command.id;
    connect(action, &QAction::triggered, this, [this, id] { Run(id); });
    actions_[id] = action;
  }
}

void CMainFrame::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(action(kSetupRulesCommand));
  file->addAction(action(kViewRulesCommand));
  file->addSeparator();
  file->addAction(action(kPrintCommand));
  file->addAction(action(kPrintPreviewCommand));
  file->addSeparator();
  file->addAction(action(kOptionsCommand));
  file->addSeparator();
  file->addAction(action(kExitCommand));
  QMenu* server = menuBar()->addMenu("Ser&ver");
  server->addAction(action(kStartServerCommand));
  server->addAction(action(kStopServerCommand));
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(action(kHelpContentsCommand));
  help->addSeparator();
  help->addAction(action(kAboutCommand));
}

void CMainFrame::CreateToolbar() {
  toolbar_ = addToolBar("Toolbar");
  toolbar_->setObjectName("MainToolbar");
  toolbar_->setIconSize(QSize(32, 32));
  toolbar_->setMovable(false);
  for (int command : kToolbarCommands) toolbar_->addAction(action(command));
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setAccessibleName(kStatusPaneName);
  server_pane_ = new QLabel(bar);
  server_pane_->setObjectName("pane1");
  server_pane_->setAccessibleName(kServerPaneName);
  server_pane_->setFrameShape(QFrame::Panel);
  server_pane_->setFrameShadow(QFrame::Sunken);
  server_pane_->setAlignment(Qt::AlignCenter);
  server_pane_->hide();
  bar->addPermanentWidget(server_pane_);
  // The message pane falls back to the idle text whenever a prompt ends.
  connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& message) {
    if (message.isEmpty()) bar->showMessage(kIdleStatusText);
  });
  bar->showMessage(kIdleStatusText);
}

QAction* CMainFrame::action(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::SetServerRunning(bool running) {
  server_running_ = running;
  UpdateCommands();
}

void CMainFrame::UpdateCommands() {
  for (auto& [id, action] : actions_) action->setEnabled(CommandEnabled(id, server_running_));
}

void CMainFrame::SetPaneText(int pane, const QString& text) {
  if (pane == 0) {
    statusBar()->showMessage(text);
  } else if (pane == kServerPane) {
    server_pane_->setText(text);
    server_pane_->setVisible(!text.isEmpty());
  }
}

QString CMainFrame::PaneText(int pane) const {
  if (pane == 0) return statusBar()->currentMessage();
  if (pane == kServerPane) return server_pane_->text();
  return QString();
}

void CMainFrame::Run(int command) {
  // A command whose rule forbids it now (a shortcut racing the update) does nothing.
  if (!CommandEnabled(command, server_running_)) return;
  switch (command) {
    case kSetupRulesCommand: OnSetupRules(); break;
    case kViewRulesCommand: OnViewRules(); break;
    case kPrintCommand: OnPrint(false); break;
    case kPrintPreviewCommand: OnPrint(true); break;
    case kOptionsCommand: OnOptions(); break;
    case kExitCommand: close(); break;
    case kHelpContentsCommand: ShowHelpTopic(kHelpContentsTopic); break;
    case kAboutCommand: CAboutDlg(this).exec(); break;
    case kStartServerCommand: view_->server().Start(); break;
    case kStopServerCommand: view_->server().Stop(); break;
    default: break;
  }
}

void CMainFrame::OnSetupRules() {
  ProjectSelection selection;
  COpenProjectDlg open_project(selection, context_, this);
  if (open_project.exec() != QDialog::Accepted) return;
  QtRuleBrowsers browsers(context_, this);
  CSetupRulesDlg setup_rules(selection, context_, browsers, this);
  browsers.set_rule_source([&setup_rules] { return setup_rules.logic().RuleInDialog(); });
  setup_rules.exec();
}

void CMainFrame::OnViewRules() {
  CViewRulesDlg view_rules(context_, this);
  view_rules.exec();
}

void CMainFrame::OnPrint(bool preview) {
  // Without lines prepared by a dialog, Print gives every rule in short form.
  std::string error;
  std::vector<std::string> lines = SummaryPrintLines(context_.paths().rule_table_path, &error);
  if (!error.empty()) {
    prompts_.Message(Format(kRuleTableUnreadableMessage, error.c_str()), PromptIcon::kWarning);
  }
  const PrintHeading heading = HeadingNow(context_.paths().server_dir);
  if (preview) {
    PreviewRuleLines(lines, heading, this);
  } else {
    RunRulePrint(lines, heading, choose_printer_);
  }
}

void CMainFrame::OnOptions() {
  COptionsDlg options(context_.paths().program_ini_path, prompts_, this);
  options.exec();
}

}  // namespace vigilo
