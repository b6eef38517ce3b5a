#include "manager/vigilo_app.h"

namespace vigilo {

CVigiloApp::CVigiloApp(ManagerContext& context, AppWindows& windows, MailLoader load_mail)
    : context_(context), windows_(windows), load_mail_(std::move(load_mail)) {}

CVigiloApp::~CVigiloApp() { ExitInstance(); }

bool CVigiloApp::InitInstance() {
  mail_ = load_mail_(ProgramDirectory());
  // A provider that lacks one of its functions cannot send either; it ends
  // the program as a missing one does rather than fail at the first message.
  if (mail_.load.status != PluginLoad::Status::kLoaded) {
    mail_ = MapiPlugin();
    context_.prompts().Message(kMailLibraryMissingMessage, PromptIcon::kWarning, kApplicationTitle);
    windows_.DestroyMainWindow();
    return false;
  }
  windows_.ShowMainWindow();
  if (!windows_.RunLogin()) {
    windows_.DestroyMainWindow();
    return false;
  }
  context_.Load();
  return true;
}

void CVigiloApp::ExitInstance() {
  mail_ = MapiPlugin();
  context_.Unload();
}

}  // namespace vigilo
