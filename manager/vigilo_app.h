// CVigiloApp: the rule manager's start-up and exit, in their order.
//
// Start-up loads the mail-system provider first (without it the program
// ends), then shows the main window, runs the login, and only after "sysop"
// has logged in loads the manager context: the settings and the user-name
// and group-name lists. The toolkit's part (the windows and the modal login) is
// behind AppWindows, so the order is tested without a display.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "data/server_paths.h"
#include "manager/manager_context.h"
#include "manager/prompts.h"
#include "platform/loader/mail_plugins.h"

namespace vigilo {

inline constexpr const char* kMailLibraryMissingMessage = "Error loading MAPI32.DLL.";

class AppWindows {
 public:
  virtual ~AppWindows() = default;
  virtual void ShowMainWindow() = 0;
  // The login dialog, modal; false when it ended with Cancel.
  virtual bool RunLogin() = 0;
  virtual void DestroyMainWindow() = 0;
};

// Loads and binds the mail-system provider found from a program directory.
using MailLoader = std::function<MapiPlugin(const std::string& program_dir)>;

class CVigiloApp {
 public:
  CVigiloApp(ManagerContext& context, AppWindows& windows,
             MailLoader load_mail = LoadMapiPlugin);
  ~CVigiloApp();

  // Runs the start-up after the main window exists: true when the program
  // goes on to its message loop; false when it ends (the main window is then
  // destroyed). A missing or incomplete provider is shown as "Error loading
  // MAPI32.DLL." captioned "Vigilo" with a warning icon.
  bool InitInstance();

  // Releases the provider and unloads the context (name lists, settings).
  void ExitInstance();

  // The settings; null before a successful login and after exit.
  const CServerPaths* paths() const {
    return context_.loaded() ? &context_.paths() : nullptr;
  }
  bool mail_loaded() const { return mail_.load.library != nullptr; }

 private:
  ManagerContext& context_;
  AppWindows& windows_;
  MailLoader load_mail_;
  MapiPlugin mail_;
};

}  // namespace vigilo
