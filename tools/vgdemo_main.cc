// vgdemo: writes the demo installation (program directory, server directory,
// one dBase project with two tables, users, groups and rules) into a directory,
// replacing a demo written there before. A directory that holds anything else
// is left alone: the tool only ever deletes what it made itself.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/program_info.h"
#include "tools/demo/demo_installation.h"
#include "tools/demo/installation_writer.h"

namespace {

namespace fs = std::filesystem;

// Marks a directory as a demo written by this tool, so a later run may replace it.
constexpr const char* kMarker = ".vigilo-demo";

constexpr char kUsage[] =
    "Usage: vgdemo DIR [--empty] [--smtp HOST:PORT] [--plugin FILE]...\n"
    "Writes the demo installation into DIR (a demo written there before is replaced).\n"
    "  --empty           a minimal installation instead: a program directory and a\n"
    "                    server directory with no projects, users or rules, to fill\n"
    "                    with the rule manager or vgrules\n"
    "  --smtp HOST:PORT  SMTP server for SMTP users and the mail-system provider;\n"
    "                    without it SMTP is off and MAPI mail is appended to\n"
    "                    DIR/program/mapi-outbox.txt\n"
    "  --plugin FILE     link FILE (libvgmapi.so, libvgsmtp.so) into the program\n"
    "                    directory, where the service looks for its mail plugins\n"
    "  -h, --help        show this text\n"
    "  --version         show the release\n"
    "Then run: vgservice --once --home DIR/program\n";

bool PrepareDirectory(const std::string& dir) {
  std::error_code ec;
  if (fs::exists(dir, ec)) {
    if (!fs::is_directory(dir, ec)) {
      std::fprintf(stderr, "vgdemo: %s exists and is not a directory\n", dir.c_str());
      return false;
    }
    bool empty = fs::is_empty(dir, ec);
    if (!empty && !fs::exists(fs::path(dir) / kMarker, ec)) {
      std::fprintf(stderr,
                   "vgdemo: %s is not empty and holds no earlier demo; "
                   "name a new or empty directory\n",
                   dir.c_str());
      return false;
    }
    if (!empty) {
      fs::remove_all(dir, ec);
      if (ec) {
        std::fprintf(stderr, "vgdemo: cannot remove the earlier demo in %s: %s\n", dir.c_str(),
                     ec.message().c_str());
        return false;
      }
    }
  }
  fs::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "vgdemo: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
    return false;
  }
  std::ofstream marker(fs::path(dir) / kMarker);
  marker << "Demo installation written by vgdemo; vgdemo may replace this directory.\n";
  return static_cast<bool>(marker);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  bool empty = false;
  vigilo::demo::DemoOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      vigilo::PrintVersion("vgdemo");
      return 0;
    } else if (arg == "--empty") {
      empty = true;
    } else if (arg == "--smtp" || arg == "--plugin") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vgdemo: %s needs %s\n%s", arg.c_str(),
                     arg == "--smtp" ? "HOST:PORT" : "a FILE", kUsage);
        return 2;
      }
      if (arg == "--smtp") {
        options.smtp_server = argv[++i];
      } else {
        options.program_files.push_back(argv[++i]);
      }
    } else if (!arg.empty() && arg[0] != '-' && dir.empty()) {
      dir = arg;
    } else {
      std::fprintf(stderr, "vgdemo: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (dir.empty()) {
    std::fprintf(stderr, "vgdemo: no DIR given\n%s", kUsage);
    return 2;
  }
  if (!PrepareDirectory(dir)) return 1;

  try {
    std::string root = fs::absolute(dir).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    vigilo::demo::InstallationDescription description =
        vigilo::demo::DemoInstallationDescription(options, root + "/program");
    if (empty) {
      // What the tracker's installer leaves before any project exists: the
      // settings files, an empty rule table and user tables, the mail setup.
      vigilo::demo::InstallationDescription minimal;
      minimal.mail = description.mail;
      minimal.mail.address_book.clear();
      minimal.program_files = description.program_files;
      description = std::move(minimal);
    }
    auto installation = vigilo::demo::Installation::Write(root, description);
    if (empty) {
      std::printf("Empty installation written to %s\n", installation.root().c_str());
      std::printf("  program directory : %s\n", installation.program_dir().c_str());
      std::printf("  server directory  : %s\n", installation.server_dir().c_str());
      std::printf("Check it with: vgservice --check --home %s\n",
                  installation.program_dir().c_str());
      return 0;
    }
    std::printf("Demo installation written to %s\n", installation.root().c_str());
    std::printf("  program directory : %s\n", installation.program_dir().c_str());
    std::printf("  server directory  : %s\n", installation.server_dir().c_str());
    std::printf("  project Demo      : %s (tables Bugs, Tasks)\n",
                installation.ProjectDir("Demo").c_str());
    std::printf("  rules             : %zu in %s\n", description.rules.size(),
                installation.rule_table().c_str());
    std::printf("  SMTP              : %s\n",
                options.smtp_server.empty() ? "off" : options.smtp_server.c_str());
    std::printf("Run: vgservice --once --home %s\n", installation.program_dir().c_str());
    std::printf("The run log is written to %s\n", installation.run_log().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vgdemo: %s\n", e.what());
    return 1;
  }
  return 0;
}
