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
  // Without a reader the login reads the installation's user table and
  // shows its opening failure through the prompts.
  FrameWindows(CMainFrame& frame, Prompts& prompts, UserTableReader read_users = nullptr)
      : frame_(frame),
        prompts_(prompts),
        read_users_(read_users ? std::move(read_users)
                               : InstallationUserTable(prompts.AsMessageReporter())) {}

  void ShowMainWindow() override;
  bool RunLogin() override;
  void DestroyMainWindow() override;

 private:
  CMainFrame& frame_;
  Prompts& prompts_;
  UserTableReader read_users_;
};

}  // namespace vigilo
