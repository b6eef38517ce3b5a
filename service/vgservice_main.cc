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
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "common/program_info.h"
#include "data/server_paths.h"
#include "platform/host/signal_control.h"
#include "data/clock.h"
#include "service/explain_command.h"
#include "service/flag_rebuild_command.h"
#include "service/history_command.h"
#include "service/installation_check.h"
#include "service/rule_preview.h"
#include "service/rule_service.h"

namespace {

constexpr char kUsage[] =
    "Usage: vgservice [--once] [--home DIR]\n"
    "       vgservice --dry-run [--rule ID]... [--json] [--home DIR]\n"
    "       vgservice --mark-current ID... [--home DIR]\n"
    "       vgservice --rebuild-flags TABLE [--mark-current] [--home DIR]\n"
    "       vgservice --check [--home DIR]\n"
    "       vgservice --history [--rule ID] [--record FORMID] [--table NAME]\n"
    "                 [--since TIME] [--json] [--home DIR]\n"
    "       vgservice --explain RULE FORMID [--json] [--home DIR]\n"
    "       vgservice -h|--help | --version\n"
    "Runs the Vigilo rule service in the foreground.\n"
    "  --once      initialise, run one firing tick, write the run log and exit\n"
    "              (status 1 when the initialisation failed)\n"
    "  --home DIR  program directory holding vigtab.ini and mapi.ini (default:\n"
    "              VIGILO_HOME, else the directory of this program)\n"
    "  --dry-run   one tick that changes nothing: per rule its selection, how many\n"
    "              records meet it now and the records it would act on, with the\n"
    "              statements (Update) or subject and recipients (Notify)\n"
    "  --rule ID   limit --dry-run to that rule (may be repeated)\n"
    "  --json      --dry-run prints one JSON object per rule and line\n"
    "  --mark-current ID...\n"
    "              flag every record that meets the rules now without acting, so\n"
    "              they act only on records that newly meet them (refused while\n"
    "              another engine runs on the installation)\n"
    "  --rebuild-flags TABLE\n"
    "              replace the flag table of TABLE (PROJECT\\TABLE) that the\n"
    "              engine reports damaged by an empty one, keeping a dBase file\n"
    "              as FILE.damaged; with --mark-current the records that meet\n"
    "              the table's rules now are marked as already handled, else\n"
    "              the next tick acts on all of them (refused while another\n"
    "              engine runs on the installation)\n"
    "  --check     read the installation as a start would and print one line per\n"
    "              problem; writes nothing (status 1 when there is a problem)\n"
    "  --history   list what the engine did, newest first, from the firing\n"
    "              history (read-only; works while the service runs)\n"
    "  --record FORMID, --table NAME, --since TIME\n"
    "              limit --history to a record, a table, or to actions since\n"
    "              TIME (YYYY-MM-DD[ HH:MM[:SS]], or 30m, 12h, 7d before now)\n"
    "  --explain RULE FORMID\n"
    "              show, clause by clause, whether the rule's condition holds for\n"
    "              the record now, whether the record is flagged, what the next\n"
    "              tick would do and the rule's last actions on it; changes nothing\n"
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
    "SIGHUP reloads the configuration and the rule table between ticks.\n";

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

// A rule id argument: digits only.
bool IsRuleId(const char* text) {
  if (*text == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

int main(int argc, char** argv) {
  bool once = false;
  bool dry_run = false;
  bool mark_current = false;
  bool json = false;
  bool check = false;
  bool history = false;
  bool explain = false;
  const char* rebuild_table = nullptr;
  long long explain_record = 0;
  vigilo::HistoryFilter filter;
  std::vector<int32_t> rule_ids;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--once") == 0) {
      once = true;
    } else if (std::strcmp(argv[i], "--dry-run") == 0) {
      dry_run = true;
    } else if (std::strcmp(argv[i], "--check") == 0) {
      check = true;
    } else if (std::strcmp(argv[i], "--history") == 0) {
      history = true;
    } else if (std::strcmp(argv[i], "--explain") == 0) {
      if (i + 2 >= argc || !IsRuleId(argv[i + 1]) || !IsRuleId(argv[i + 2])) {
        std::fprintf(stderr, "vgservice: --explain needs a rule id and a record number\n%s",
                     kUsage);
        return 2;
      }
      explain = true;
      rule_ids.push_back(static_cast<int32_t>(std::atol(argv[++i])));
      explain_record = std::atoll(argv[++i]);
    } else if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc && IsRuleId(argv[i + 1])) {
      filter.record = std::atoll(argv[++i]);
    } else if (std::strcmp(argv[i], "--table") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
      filter.table = argv[++i];
    } else if (std::strcmp(argv[i], "--since") == 0 && i + 1 < argc) {
      const auto since = vigilo::ParseSinceTime(argv[++i], vigilo::Now());
      if (!since) {
        std::fprintf(stderr, "vgservice: --since '%s' is no time (YYYY-MM-DD[ HH:MM[:SS]], "
                     "or a number with s, m, h or d)\n", argv[i]);
        return 2;
      }
      filter.since = *since;
    } else if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--rule") == 0 && i + 1 < argc && IsRuleId(argv[i + 1])) {
      rule_ids.push_back(static_cast<int32_t>(std::atol(argv[++i])));
    } else if (std::strcmp(argv[i], "--mark-current") == 0) {
      mark_current = true;
      while (i + 1 < argc && IsRuleId(argv[i + 1])) {
        rule_ids.push_back(static_cast<int32_t>(std::atol(argv[++i])));
      }
    } else if (std::strcmp(argv[i], "--rebuild-flags") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0' || argv[i + 1][0] == '-') {
        std::fprintf(stderr, "vgservice: --rebuild-flags needs a table\n%s", kUsage);
        return 2;
      }
      rebuild_table = argv[++i];
    } else if (std::strcmp(argv[i], "--home") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "vgservice: --home needs a directory\n%s", kUsage);
        return 2;
      }
      vigilo::UseHomeDirectory(argv[++i]);
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
  const bool rebuild = rebuild_table != nullptr;
  if (rebuild && !rule_ids.empty()) {
    std::fprintf(stderr, "vgservice: --rebuild-flags --mark-current marks every rule of the "
                 "table and takes no ids\n");
    return 2;
  }
  if (dry_run + (mark_current && !rebuild) + once + check + history + explain + rebuild > 1) {
    std::fprintf(stderr,
                 "vgservice: --once, --dry-run, --mark-current, --rebuild-flags, --check, "
                 "--history and --explain exclude each other\n");
    return 2;
  }
  if (rebuild) return vigilo::RunRebuildFlags(rebuild_table, mark_current, std::cout, std::cerr);
  if (history) {
    if (rule_ids.size() > 1) {
      std::fprintf(stderr, "vgservice: --history takes one --rule\n");
      return 2;
    }
    if (!rule_ids.empty()) filter.rule_id = rule_ids.front();
    return vigilo::RunHistory(filter, json, std::cout, std::cerr);
  }
  if (explain) return vigilo::RunExplain(rule_ids.front(), explain_record, json, std::cout, std::cerr);
  if (check) return vigilo::RunInstallationCheck(std::cout);
  if (dry_run) {
    return vigilo::RunDryRun(
        rule_ids, json ? vigilo::PreviewFormat::kJsonLines : vigilo::PreviewFormat::kText,
        std::cout, std::cerr);
  }
  if (mark_current) return vigilo::RunMarkCurrent(rule_ids, std::cout, std::cerr);
  if (once) {
    vigilo::CRuleService service;
    return service.RunOnce();
  }
  return RunService(argc, argv);
}
