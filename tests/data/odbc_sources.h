// The ODBC data sources the data tests resolve servers through: ODBCINI
// points at an odbc.ini of a few sources. Set once per process, before main,
// so that no ODBC call can have read another file first.
#pragma once

#include <stdlib.h>

#include "tests/support/temp_dir.h"

namespace vigilo::testing {

inline void UseTestDataSources() {
  static const TempDir* odbc_dir = [] {
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

inline const bool kTestDataSourcesSet = (UseTestDataSources(), true);

}  // namespace vigilo::testing
