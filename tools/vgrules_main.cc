// vgrules: the rule manager's Setup Rules dialog on the command line, for
// servers without a display. Finds the installation as vgservice does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "common/program_info.h"
#include "data/server_paths.h"
#include "manager/rule_editor.h"

namespace {

constexpr char kUsage[] =
    "Usage: vgrules [--home DIR] list [--table PROJECT\\TABLE]\n"
    "       vgrules [--home DIR] show ID\n"
    "       vgrules [--home DIR] add --kind K [--dsn DSN] --table PROJECT\\TABLE\n"
    "                            --action A [--target T] --values V --cond C [--run-always]\n"
    "       vgrules [--home DIR] replace ID [--action A] [--target T] [--values V]\n"
    "                            [--cond C] [--run-always|--no-run-always]\n"
    "       vgrules [--home DIR] delete ID | disable ID | enable ID\n"
    "       vgrules -h|--help | --version\n"
    "Lists and edits the rules of the Vigilo rule table with the checks of the\n"
    "rule manager's Setup Rules dialog.\n"
    "  list        one rule a line: id, kind, data source, table, action, target,\n"
    "              values, condition, flag, enabled/disabled (tab-separated)\n"
    "  show ID     every field of the rule\n"
    "  add         a new rule; its id is one more than the highest\n"
    "  replace ID  the rule with the options given changed, keeping its id\n"
    "  delete ID   the rule removed from the rule table\n"
    "  disable ID  the rule kept in the table but not loaded by the service\n"
    "  enable ID   the rule loaded by the service again\n"
    "  --kind K    database kind: 0 dBase, 1 SQL Server, 2 Oracle, 3 Sybase\n"
    "  --dsn DSN   ODBC data source (kinds 1 to 3; SERVERDIR for kind 0)\n"
    "  --table PROJECT\\TABLE  a table of the project's INI file\n"
    "  --action A  Notify or Update\n"
    "  --target T  Notify: User, Group, Field or Address; Update: Field\n"
    "  --values V  recipients joined by \",\", or FIELD=VALUE joined by \";\"\n"
    "  --cond C    condition as the Query Builder stores it, or FROM ... WHERE (...)\n"
    "  --run-always, --no-run-always  the Run Always switch\n"
    "  --home DIR  program directory holding vigtab.ini (default: VIGILO_HOME,\n"
    "              else the directory of this program)\n"
    "The service reads the rules at its start and when reloaded (SIGHUP).\n"
    "Exit status: 0 done, 1 refused or failed, 2 wrong usage.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--home") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "vgrules: --home needs a directory\n%s", kUsage);
        return 2;
      }
      vigilo::UseHomeDirectory(argv[++i]);
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      vigilo::PrintVersion("vgrules");
      return 0;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  std::string error;
  std::optional<vigilo::RuleEditorCommand> command = vigilo::ParseRuleEditorCommand(args, &error);
  if (!command) {
    std::fprintf(stderr, "vgrules: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  return vigilo::RunRuleEditor(*command, std::cout, std::cerr);
}
