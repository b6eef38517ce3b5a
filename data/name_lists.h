// The process-wide lists of all login names and group names of the
// defect-management product's users, filled once at start (by the recipient
// code) and read afterwards, e.g. as the choices of user fields.
//
// Fill them before other threads read them; they are not locked.
#pragma once

#include <string>
#include <vector>

namespace vigilo {

std::vector<std::string>& UserNameList();
std::vector<std::string>& GroupNameList();

}  // namespace vigilo
