// The rule manager's installations, from the fixture kit: one directory that
// is program and server directory at once, read with the rule manager's
// settings, for the logic tests; the demo installation for the dialogs.
#pragma once

#include "data/server_paths.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_installation.h"

namespace vigilo::testing {

inline InstallationBuilder ManagerHomeBuilder() {
  return std::move(InstallationBuilder::OneDirectory().ReadBy(CServerPaths::Program::kManager));
}

}  // namespace vigilo::testing
