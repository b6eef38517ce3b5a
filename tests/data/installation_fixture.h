// A tiny installation in a temporary directory for the data tests: a program
// directory whose vigtab.ini names the same directory as server directory, a
// morvik.ini, and an odbc.ini with a few data sources.
#pragma once

#include <stdlib.h>

#include <memory>
#include <string>

#include "data/server_paths.h"
#include "tests/common/temp_dir.h"

namespace vigilo::testing {

// Points ODBCINI at an odbc.ini holding the data sources the tests use. Done
// once per process, before the first ODBC call, so no cached file is seen.
inline void UseTestDataSources() {
  static TempDir* odbc_dir = [] {
    auto* dir = new TempDir;
    WriteText(dir->File("odbc.ini"),
              "[BUGS]\nDriver=none\nSERVER=srv1\nServerName=other\n\n"
              "[NAMEONLY]\nDriver=none\nServerName=srv2\n\n"
              "[NOSERVER]\nDriver=none\n\n"
              "[ORA]\nDriver=none\nServer=orasrv\n");
    setenv("ODBCSYSINI", dir->path().c_str(), 1);
    setenv("ODBCINI", dir->File("odbc.ini").c_str(), 1);
    return dir;
  }();
  (void)odbc_dir;
}

class Installation {
 public:
  Installation() {
    UseTestDataSources();
    SetProgramDirectory(dir_.path());
    paths_ = std::make_unique<CServerPaths>();
    SetProgramDirectory("");
    paths_->orvik_ini_path = dir_.File("morvik.ini");
    paths_->server_dir = dir_.path();
  }

  const std::string& path() const { return dir_.path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  CServerPaths& paths() { return *paths_; }
  void Write(const std::string& name, const std::string& text) { WriteText(File(name), text); }

 private:
  TempDir dir_;
  std::unique_ptr<CServerPaths> paths_;
};

}  // namespace vigilo::testing
