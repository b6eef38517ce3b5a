// The demo installation: one dBase project "Demo" with the tables Bugs and
// Tasks, users of every mail type, two groups, and a handful of Update and
// Notify rules, so that one firing tick of the service shows every kind of
// rule at work. vgdemo writes it; end-to-end tests may start from it too.
#pragma once

#include <string>
#include <vector>

#include "tools/demo/installation_description.h"

namespace vigilo::demo {

struct DemoOptions {
  // SMTP server as host:port for "SMTP Mail" and the provider's delivery;
  // empty: SMTP off, and the provider appends MAPI mail to a file in the
  // program directory (mapi-outbox.txt) instead of sending it.
  std::string smtp_server;
  // Files linked into the program directory (the mail plugins).
  std::vector<std::string> program_files;
};

// The supervisor's login of the demo for the rule manager: user "sysop" with
// this password; the user table stores its sum as the product does.
constexpr const char* kDemoSysopPassword = "vigilo";
constexpr const char* kDemoSysopPasswordSum = "24796";

// The file the demo's provider delivers MAPI mail to when there is no SMTP
// server, relative to the program directory.
constexpr const char* kDemoMapiOutbox = "mapi-outbox.txt";

// The demo's description. program_dir is the absolute program directory the
// installation will have (the outbox command names a file in it).
InstallationDescription DemoInstallationDescription(const DemoOptions& options,
                                      const std::string& program_dir);

}  // namespace vigilo::demo
