// vgservice --rebuild-flags TABLE [--mark-current]: the administrator's repair
// of a flag table the engine cannot use. The damaged table is moved aside (a
// dBase file is kept beside as FILE.damaged, a server table is dropped) and
// created empty; with --mark-current every record that meets one of the
// table's rules now is flagged at once, so that only records that newly meet
// a rule fire, instead of every record the empty table would let through.
#pragma once

#include <ostream>
#include <string>

namespace vigilo {

// TABLE is PROJECT\TABLE as the rule table names it, or the table's name alone
// when one project has it. Refused (status 1) while another engine holds the
// installation's lock, when no loaded rule watches the table or the name is
// ambiguous. Returns the process exit status.
int RunRebuildFlags(const std::string& table, bool mark_current, std::ostream& out,
                    std::ostream& err);

}  // namespace vigilo
