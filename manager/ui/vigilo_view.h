// CVigiloView: the main window's view. It shows the installation's activity
// (ActivityView) and holds
// the in-process server (ServerControl) and gives it the window's parts: the
// status bar pane, the "Vigilo Server" status window, the timers and the
// way back to the user-interface thread.
#pragma once

#include <map>
#include <memory>

#include <QPointer>
#include <QWidget>

#include "manager/server_control.h"
#include "manager/ui/server_status_dialog.h"

class QTimer;

namespace vigilo {

class ActivityView;
class CMainFrame;

class CVigiloView : public QWidget, public ServerWindow {
  Q_OBJECT

 public:
  CVigiloView(CMainFrame& frame, Prompts& prompts, ServerControlOptions options = {});
  ~CVigiloView() override;

  ServerControl& server() { return *server_; }
  // The status window while it exists, else null.
  CServerStatusDlg* status_window() const { return status_.data(); }
  bool TimerActive(int id) const;

  // ServerWindow
  bool IsMinimized() const override;
  bool ShowStatusWindow(const std::string& text) override;
  void DestroyStatusWindow() override;
  void SetPaneText(int pane, const std::string& text) override;
  void SetServerRunning(bool running) override;
  void RepaintMainWindow() override;
  void CloseMainWindow() override;
  void StartTimer(int id, std::chrono::milliseconds interval) override;
  void KillTimer(int id) override;
  void PostToUi(std::function<void()> task) override;

 private:
  CMainFrame& frame_;
  std::map<int, QTimer*> timers_;
  QPointer<CServerStatusDlg> status_;
  std::unique_ptr<ServerControl> server_;
  ActivityView* activity_ = nullptr;
};

}  // namespace vigilo
