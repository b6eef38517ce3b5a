// A program directory for the rule manager's logic tests: a vigtab.ini whose
// server directory is the same temporary directory, or the whole demo
// installation. The settings of the rule manager are built from it.
#pragma once

#include <memory>
#include <string>

#include "data/server_paths.h"
#include "tests/common/temp_dir.h"
#include "tools/demo/demo_installation.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::testing {

class ManagerHome {
 public:
  ManagerHome() {
    WriteText(dir_.File("vigtab.ini"), "[Morvane Vigilo]\nSERVERDIR=" + dir_.path() + "\n");
    SetProgramDirectory(dir_.path());
    paths_ = std::make_unique<CServerPaths>(CServerPaths::Program::kManager);
  }
  ~ManagerHome() { SetProgramDirectory(""); }

  const std::string& path() const { return dir_.path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  void Write(const std::string& name, const std::string& text) { WriteText(File(name), text); }
  CServerPaths& paths() { return *paths_; }

 private:
  TempDir dir_;
  std::unique_ptr<CServerPaths> paths_;
};

// The demo installation written into a temporary directory and made the
// program directory.
class DemoHome {
 public:
  DemoHome()
      : installation_(demo::Installation::Write(
            dir_.path(), demo::DemoInstallationDescription({}, dir_.File("program")))) {
    SetProgramDirectory(installation_.program_dir());
  }
  ~DemoHome() { SetProgramDirectory(""); }

  const demo::Installation& installation() const { return installation_; }

 private:
  TempDir dir_;
  demo::Installation installation_;
};

}  // namespace vigilo::testing
