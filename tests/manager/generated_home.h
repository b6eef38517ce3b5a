// The demo installation with its Bugs table replaced by a generated one of
// any size, made the program directory: record i (from 1) is titled "Bug i",
// its Status cycles Open, Fixed, Closed, Reopened (so records 1, 5, 9, ...
// are open) and its Priority cycles 1 to 5. The demo's rules stay.
#pragma once

#include <string>

#include "common/format.h"
#include "data/server_paths.h"
#include "tests/common/temp_dir.h"
#include "tools/demo/demo_installation.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::testing {

inline demo::InstallationDescription GeneratedBugsDescription(long records,
                                                              const std::string& program_dir) {
  demo::InstallationDescription description = demo::DemoInstallationDescription({}, program_dir);
  static const char* const kStatuses[] = {"Open", "Fixed", "Closed", "Reopened"};
  for (demo::ProjectDescription& project : description.projects) {
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
  return description;
}

class GeneratedHome {
 public:
  explicit GeneratedHome(long records)
      : installation_(demo::Installation::Write(
            dir_.path(), GeneratedBugsDescription(records, dir_.File("program")))) {
    SetProgramDirectory(installation_.program_dir());
  }
  ~GeneratedHome() { SetProgramDirectory(""); }

  const demo::Installation& installation() const { return installation_; }

 private:
  TempDir dir_;
  demo::Installation installation_;
};

}  // namespace vigilo::testing
