// Helpers for the rule service tests: environment overrides and a minimal
// installation (program directory with vigtab.ini naming a server directory).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/ini_profile.h"
#include "data/server_paths.h"
#include "platform/xbase/dbf_table.h"
#include "tests/common/temp_dir.h"

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

// <tmp>/prog holds vigtab.ini; <tmp>/server is the server directory with an
// orvhome folder. The program directory is set for the test's lifetime.
class Installation {
 public:
  Installation() {
    std::filesystem::create_directories(ServerDir() + "/orvhome");
    std::filesystem::create_directories(ProgramDir());
    WriteProfileString(ProgramDir() + "/vigtab.ini", "Morvane Vigilo", "SERVERDIR",
                       ServerDir());
    WriteProfileString(ProgramDir() + "/vigtab.ini", "OPTIONS", "FIRING_INTERVAL", "5");
    SetProgramDirectory(ProgramDir());
  }
  ~Installation() { SetProgramDirectory(""); }

  std::string ProgramDir() const { return dir_.path() + "/prog"; }
  std::string ServerDir() const { return dir_.path() + "/server"; }
  std::string LogFile() const { return ServerDir() + "/vglog.ini"; }
  std::string OrvhomeDir() const { return ServerDir() + "/orvhome"; }
  std::string ReadLog() const { return ReadText(LogFile()); }

 private:
  TempDir dir_;
  EnvOverride interval_{"VIGILO_TEST_INTERVAL_SECONDS", nullptr};
  EnvOverride date_{"VIGILO_SHORTDATE", "M/d/yy"};
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
  if (!std::filesystem::exists(data)) {
    DbfTable::Create(data, {{"FormID", 'N', 11, 0}, {"Status", 'C', 10, 0}})->Close();
  }
}

}  // namespace vigilo::testing
