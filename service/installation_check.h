// vgservice --check: reads the installation as a start would (settings, mail
// systems, rule table, every project and every rule) and names each problem
// that would keep a rule from working, one line each, without writing
// anything: no default settings, no run log, no flag tables.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vigilo {

// The problem lines of the installation of the current program directory,
// each naming the file or the rule id it concerns.
std::vector<std::string> CheckInstallation();

// Prints the lines to out. Returns the exit status: 0 when there is none,
// else 1.
int RunInstallationCheck(std::ostream& out);

}  // namespace vigilo
