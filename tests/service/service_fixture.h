// Helpers for the rule service tests: environment overrides and a project
// table's INI. Installations come from the fixture kit (tests/support).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/ini_profile.h"
#include "data/server_paths.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/test_installation.h"

namespace vigilo::testing {

// Sets or clears an environment variable and restores it when destroyed.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvOverride() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The environment every service test runs in: dates in the pattern M/d/yy,
// and the firing interval the installation names rather than a test's own.
struct ServiceEnvironment {
  EnvOverride interval{"VIGILO_TEST_INTERVAL_SECONDS", nullptr};
  EnvOverride date{"VIGILO_SHORTDATE", "M/d/yy"};
};

// A table INI naming a change-history data file, so that the table gets its
// change-history and flag table names, and defining one text field, Status,
// for the rules' conditions and assignments.
inline void WriteTableIni(const std::string& dir, const std::string& table) {
  const std::string ini = dir + "/" + table + ".INI";
  WriteProfileString(ini, "Morvane Orvik", "ChngHist Datafile", table + "Hist.dbf");
  WriteProfileString(ini, "Morvane Orvik", "FormNames", table);
  WriteProfileString(ini, table, "Field1", "Status,Status,0,10,0,,0,,100,100,100,24,513,0,0,,,0,,");
  const std::string data = dir + "/" + table + ".dbf";
  if (!std::filesystem::exists(data))
    WriteDbf(data, {{"FormID", 'N', 11, 0}, {"Status", 'C', 10, 0}});
}

}  // namespace vigilo::testing
