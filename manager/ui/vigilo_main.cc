// vigilo: the rule manager, in which the supervisor sets up the rules that the
// rule service fires.
//
// Start-up runs in the order of CVigiloApp: the mail-system provider, the main
// window, the login of "sysop", then the manager context (settings and name
// lists) that every dialog works with.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QApplication>

#include "manager/prompts.h"
#include "manager/vigilo_app.h"
#include "manager/ui/dialog_buttons.h"
#include "manager/ui/frame_windows.h"
#include "manager/ui/list_controls.h"
#include "manager/ui/main_frame.h"
#include "manager/ui/qt_prompts.h"

namespace {

constexpr char kUsage[] =
    "Usage: vigilo [--home DIR] [Qt options]\n"
    "Starts the Vigilo rule manager; only the user sysop can log in.\n"
    "  --home DIR  program directory holding vigtab.ini (default: VIGILO_HOME,\n"
    "              else the directory of this program)\n"
    "  --help      show this text\n";

}  // namespace

int main(int argc, char** argv) {
  // --home is taken before Qt sees the arguments; Qt's own options pass through.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--home") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vigilo: --home needs a directory\n%s", kUsage);
        return 2;
      }
      vigilo::UseHomeDirectory(argv[i + 1]);
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      --i;
    }
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(vigilo::kApplicationTitle);
  QApplication::setOrganizationName("Local AppWizard-Generated Applications");
  vigilo::InstallHelpKey(application);
  vigilo::NameComboBoxesByLabel();

  vigilo::QtPrompts prompts;
  vigilo::ManagerContext context(prompts);
  vigilo::CMainFrame frame(context);
  vigilo::FrameWindows windows(frame, prompts);
  vigilo::CVigiloApp app(context, windows);
  if (!app.InitInstance()) return app.mail_loaded() ? 0 : 1;
  int status = QApplication::exec();
  app.ExitInstance();
  return status;
}
