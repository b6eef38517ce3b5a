#include "manager/vigilo_app.h"

#include "data/name_lists.h"
#include "notify/orvik_tables.h"

namespace vigilo {

CVigiloApp::CVigiloApp(Prompts& prompts, AppWindows& windows, MailLoader load_mail)
    : prompts_(prompts), windows_(windows), load_mail_(std::move(load_mail)) {}

CVigiloApp::~CVigiloApp() { ExitInstance(); }

bool CVigiloApp::InitInstance() {
  mail_ = load_mail_(ProgramDirectory());
  // A provider that lacks one of its functions cannot send either; it ends
  // the program as a missing one does rather than fail at the first message.
  if (mail_.load.status != PluginLoad::Status::kLoaded) {
    mail_ = MapiPlugin();
    prompts_.Message(kMailLibraryMissingMessage, PromptIcon::kWarning, kApplicationTitle);
    windows_.DestroyMainWindow();
    return false;
  }
  windows_.ShowMainWindow();
  if (!windows_.RunLogin()) {
    windows_.DestroyMainWindow();
    return false;
  }
  paths_ = std::make_unique<CServerPaths>(CServerPaths::Program::kManager);
  FillProcessNameLists(paths_->server_dir, prompts_.AsMessageReporter());
  return true;
}

void CVigiloApp::ExitInstance() {
  mail_ = MapiPlugin();
  UserNameList().clear();
  UserNameList().shrink_to_fit();
  GroupNameList().clear();
  GroupNameList().shrink_to_fit();
  paths_.reset();
}

}  // namespace vigilo
