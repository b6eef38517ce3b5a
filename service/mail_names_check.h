// The part of vgservice --check that concerns the names mail goes to: a
// provider profile that morvik.ini names but the provider's mapi.ini does not
// hold (the packaged mapi.ini has its profile line commented out), and a
// group a notification rule names that has no member.
#pragma once

#include <string>
#include <vector>

#include "data/rule.h"
#include "data/server_paths.h"

namespace vigilo {

// Appends one problem line for each such profile and group.
void CheckMailNames(const CServerPaths& paths, const std::vector<CRule>& rules,
                    std::vector<std::string>& problems);

}  // namespace vigilo
