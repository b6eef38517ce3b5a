// CMainFrame: the rule manager's main window. It shows nothing itself: its
// menus (File, Server, Help), toolbar and status bar lead to the dialogs,
// one action per command (manager/commands.h) with that command's status
// prompt, tool tip and enable rule.
//
// The actions are the place later dialogs hook into: action(id) gives the
// action of a command, SetServerRunning applies the enable rules whenever the
// in-process server starts or stops, and SetPaneText writes a status pane.
#pragma once

#include <map>

#include <QMainWindow>

#include "manager/manager_context.h"
#include "manager/prompts.h"
#include "manager/server_control.h"
#include "manager/ui/rule_printing_view.h"

class QAction;
class QLabel;
class QToolBar;

namespace vigilo {

class CVigiloView;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // Every dialog the frame opens works with context, which outlives it.
  explicit CMainFrame(ManagerContext& context, QWidget* parent = nullptr,
                      ServerControlOptions server_options = {});

  QAction* action(int command) const;
  bool server_running() const { return server_running_; }
  // The view, which holds the in-process server.
  CVigiloView* view() const { return view_; }

  void SetServerRunning(bool running);
  // Where File > Print prints (the print dialog unless a test says otherwise).
  void set_printer_chooser(PrinterChooser choose) { choose_printer_ = std::move(choose); }
  // Pane 0 is the message pane; 1 to 3 are the indicator panes.
  void SetPaneText(int pane, const QString& text);
  QString PaneText(int pane) const;

 protected:
  // Put off while the in-process server runs: it is stopped first and the
  // window closes by itself afterwards.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolbar();
  void CreateStatusBar();
  void Run(int command);
  void UpdateCommands();

  void OnSetupRules();
  void OnViewRules();
  void OnPrint(bool preview);
  void OnOptions();

  ManagerContext& context_;
  Prompts& prompts_;
  std::map<int, QAction*> actions_;
  QToolBar* toolbar_ = nullptr;
  QLabel* server_pane_ = nullptr;
  bool server_running_ = false;
  CVigiloView* view_ = nullptr;
  PrinterChooser choose_printer_;
};

}  // namespace vigilo
