// A tiny installation for the notification tests: a program directory whose
// vigtab.ini names a server directory, morvik.ini, and the user, group and
// membership tables in orvhome, written by code through the xBase library.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/ini_profile.h"
#include "data/server_paths.h"
#include "platform/xbase/dbf_table.h"

namespace vigilo::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vgnotify.XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct UserRow {
  std::string login, password;
  long mail_type;
  std::string address;
};

class Installation {
 public:
  Installation() {
    program_dir_ = dir_.path() + "/program";
    server_dir_ = dir_.path() + "/server";
    std::filesystem::create_directories(program_dir_);
    std::filesystem::create_directories(server_dir_ + "/orvhome");
    WriteProfileString(program_dir_ + "/vigtab.ini", "Morvane Vigilo", "SERVERDIR", server_dir_);
    SetProgramDirectory(program_dir_);
  }
  ~Installation() { SetProgramDirectory(""); }

  const std::string& server_dir() const { return server_dir_; }
  const std::string& program_dir() const { return program_dir_; }
  std::string orvhome(const std::string& file) const { return server_dir_ + "/orvhome/" + file; }

  void SetMailKey(const std::string& key, const std::string& value) {
    WriteProfileString(server_dir_ + "/morvik.ini", "Mail", key, value);
  }

  // users.dbf: login, password, four unused fields, mail type, mail address.
  void WriteUsers(const std::vector<UserRow>& rows) {
    auto table = DbfTable::Create(orvhome("users.dbf"),
                                  {{"LOGIN", 'C', 20}, {"PASSWD", 'C', 20}, {"FULLNAME", 'C', 30},
                                   {"PHONE", 'C', 10}, {"DEPT", 'C', 10}, {"LEVEL", 'N', 3},
                                   {"MAILTYPE", 'N', 3}, {"MAILADDR", 'C', 80}});
    for (const UserRow& row : rows) {
      table->AppendStart();
      table->AssignText(0, row.login);
      table->AssignText(1, row.password);
      table->AssignLong(6, row.mail_type);
      table->AssignText(7, row.address);
      table->AppendWrite();
    }
    table->Close();
  }

  void WriteGroups(const std::vector<std::string>& names) {
    auto table = DbfTable::Create(orvhome("groups.dbf"), {{"GROUPNAME", 'C', 20}});
    for (const std::string& name : names) {
      table->AppendStart();
      table->AssignText(0, name);
      table->AppendWrite();
    }
    table->Close();
  }

  // usringrp.dbf: (member, group) pairs.
  void WriteMembership(const std::vector<std::pair<std::string, std::string>>& rows) {
    auto table = DbfTable::Create(orvhome("usringrp.dbf"),
                                  {{"USERNAME", 'C', 20}, {"GrpName", 'C', 20}});
    for (const auto& [member, group] : rows) {
      table->AppendStart();
      table->AssignText(0, member);
      table->AssignText(1, group);
      table->AppendWrite();
    }
    table->Close();
  }

 private:
  TempDir dir_;
  std::string program_dir_;
  std::string server_dir_;
};

}  // namespace vigilo::testing
