// The demo installation with its Bugs table replaced by a generated one of
// any size: record i (from 1) is titled "Bug i", its Status cycles Open,
// Fixed, Closed, Reopened (so records 1, 5, 9, ... are open) and its Priority
// cycles 1 to 5. The demo's rules stay.
#pragma once

#include "common/format.h"
#include "tests/support/test_installation.h"

namespace vigilo::testing {

inline InstallationBuilder GeneratedBugsBuilder(long records) {
  InstallationBuilder builder = InstallationBuilder::Demo();
  static const char* const kStatuses[] = {"Open", "Fixed", "Closed", "Reopened"};
  for (demo::ProjectDescription& project : builder.description().projects) {
    for (demo::TableDescription& table : project.tables) {
      if (table.name != "Bugs") continue;
      table.records.clear();
      for (long id = 1; id <= records; ++id) {
        table.records.push_back({id,
                                 "",
                                 {{"Title", Format("Bug %ld", id)},
                                  {"Status", kStatuses[(id - 1) % 4]},
                                  {"Priority", Format("%ld", (id - 1) % 5 + 1)},
                                  {"Owner", "ann"}},
                                 "",
                                 ""});
      }
    }
  }
  return builder;
}

}  // namespace vigilo::testing
