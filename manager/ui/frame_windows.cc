#include "manager/ui/frame_windows.h"

#include "manager/ui/login_dialog.h"

namespace vigilo {

void FrameWindows::ShowMainWindow() {
  frame_.show();
  frame_.repaint();
}

bool FrameWindows::RunLogin() {
  CLoginDlg login(prompts_, read_users_, &frame_);
  return login.exec() == QDialog::Accepted;
}

void FrameWindows::DestroyMainWindow() { frame_.hide(); }

}  // namespace vigilo
