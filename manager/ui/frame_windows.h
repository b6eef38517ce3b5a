// FrameWindows: the start-up's windows (manager/vigilo_app.h) on the Qt main
// window: showing it, running the login dialog over it, and taking it down
// when the program ends before its message loop.
#pragma once

#include "manager/login.h"
#include "manager/vigilo_app.h"
#include "manager/ui/main_frame.h"

namespace vigilo {

class FrameWindows : public AppWindows {
 public:
  FrameWindows(CMainFrame& frame, Prompts& prompts,
               UserTableReader read_users = InstallationUserTable())
      : frame_(frame), prompts_(prompts), read_users_(std::move(read_users)) {}

  void ShowMainWindow() override;
  bool RunLogin() override;
  void DestroyMainWindow() override;

 private:
  CMainFrame& frame_;
  Prompts& prompts_;
  UserTableReader read_users_;
};

}  // namespace vigilo
