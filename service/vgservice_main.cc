// vgservice: the rule service as a Linux daemon.
//
// Runs in the foreground (under systemd as a Type=notify service): the main
// thread reads the controls from signals (SIGTERM/SIGINT stop, SIGUSR1 pause,
// SIGUSR2 continue, SIGHUP interrogate) while the service main thread starts
// the engine and paces its ticks. --once initialises, runs one tick and ends.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "common/program_info.h"
#include "data/server_paths.h"
#include "platform/host/signal_control.h"
#include "service/rule_service.h"

namespace {

constexpr char kUsage[] =
    "Usage: vgservice [--once] [--home DIR]\n"
    "       vgservice -h|--help | --version\n"
    "Runs the Vigilo rule service in the foreground.\n"
    "  --once      initialise, run one firing tick, write the run log and exit\n"
    "              (status 1 when the initialisation failed)\n"
    "  --home DIR  program directory holding vigtab.ini and mapi.ini (default:\n"
    "              VIGILO_HOME, else the directory of this program)\n"
    "  -h, --help  show this text\n"
    "  --version   show the release\n"
    "Environment:\n"
    "  VIGILO_HOME          program directory, as --home\n"
    "  VIGILO_MAPI_LIBRARY  the mail-system provider to load instead of\n"
    "                       libvgmapi.so from the program or plugin directory\n"
    "  VIGILO_SMTP_LIBRARY  the SMTP library to load instead of libvgsmtp.so\n"
    "  VIGILO_MAPI_INI      the provider's configuration instead of mapi.ini\n"
    "  VIGILO_SHORTDATE     short-date pattern (e.g. DD/MM/YY) instead of the\n"
    "                       one of the LC_TIME locale\n"
    "  VIGILO_SMTP_CONNECT_TIMEOUT, VIGILO_SMTP_TIMEOUT\n"
    "                       seconds allowed to connect to and deliver through an\n"
    "                       SMTP server (defaults 5 and 30)\n"
    "  NOTIFY_SOCKET        set by systemd: readiness and status go there\n"
    "Controls: SIGTERM/SIGINT stop, SIGUSR1 pause, SIGUSR2 continue,\n"
    "SIGHUP reports the status again.\n";

int RunService(int argc, char** argv) {
  // Before any thread exists, so that every thread inherits the blocked
  // control signals and only the reader below receives them.
  vigilo::host::SignalControlReader controls;
  vigilo::CRuleService service;

  std::atomic<bool> main_done{false};
  int main_result = 1;
  std::thread service_main([&] {
    main_result = service.ServiceMain(argc, argv);
    main_done = true;
  });
  for (;;) {
    if (auto control = controls.Wait(std::chrono::milliseconds(250))) {
      service.ControlHandler(*control);
    }
    if (service.CurrentState() == vigilo::host::kServiceStopped) break;
    // The service main routine gave up before the service ran.
    if (main_done && main_result == 0) break;
  }
  service_main.join();
  return service.start_failed() || main_result == 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool once = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--once") == 0) {
      once = true;
    } else if (std::strcmp(argv[i], "--home") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "vgservice: --home needs a directory\n%s", kUsage);
        return 2;
      }
      vigilo::SetProgramDirectory(argv[++i]);
      // The mail-system provider, loaded later, reads its mapi.ini from the
      // program directory it finds through VIGILO_HOME.
      setenv("VIGILO_HOME", argv[i], 1);
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      vigilo::PrintVersion("vgservice");
      return 0;
    } else {
      std::fprintf(stderr, "vgservice: unknown argument '%s'\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (once) {
    vigilo::CRuleService service;
    return service.RunOnce();
  }
  return RunService(argc, argv);
}
