// TestInstallation: the tests' one installation on disk. The installation
// writer (the code vgdemo uses) writes it into a fresh temporary directory,
// and it is the program directory for its lifetime, so tests meet the layout
// the programs really meet. A test names on an InstallationBuilder only what
// it needs: these projects and records, these rules, SMTP on or off, these
// users and groups; or starts from the demo, or from a bare installation
// whose tables it writes itself.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/ini_profile.h"
#include "data/server_paths.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_installation.h"
#include "tools/demo/installation_tables.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::testing {

class TestInstallation;

// What to write. By default what the writer writes for an empty
// description: vigtab.ini (firing every 5 minutes), mapi.ini, an empty
// morvik.ini, empty rule, user, group, membership and internal mail tables,
// no projects and SMTP off.
class InstallationBuilder {
 public:
  InstallationBuilder() : dir_(std::make_unique<TempDir>()) {}
  // Written under base rather than $TMPDIR (benchmark data too big for /tmp).
  explicit InstallationBuilder(const std::string& base)
      : dir_(base.empty() ? std::make_unique<TempDir>() : std::make_unique<TempDir>(base)) {}

  // Only the directories, vigtab.ini and morvik.ini: no tables, no mapi.ini.
  static InstallationBuilder Bare(const std::string& base = "") {
    InstallationBuilder builder(base);
    builder.description_.mail.write_mapi_ini = false;
    builder.description_.write_orvkpost = false;
    builder.description_.write_master_tables = false;
    return builder;
  }
  // A bare installation whose program directory is its server directory too,
  // as on a single machine, and without a firing interval.
  static InstallationBuilder OneDirectory() {
    InstallationBuilder builder = Bare();
    builder.description_.program_dir = builder.root();
    builder.description_.server_dir = builder.root();
    builder.description_.firing_interval = -1;
    return builder;
  }
  // The demo installation of vgdemo, rules and all.
  static InstallationBuilder Demo(const demo::DemoOptions& options = {}) {
    InstallationBuilder builder;
    builder.description_ =
        demo::DemoInstallationDescription(options, builder.dir_->File("program"));
    return builder;
  }

  InstallationBuilder& Project(demo::ProjectDescription project) {
    description_.projects.push_back(std::move(project));
    return *this;
  }
  InstallationBuilder& Rules(std::vector<demo::RuleDescription> rules) {
    description_.rules = std::move(rules);
    description_.write_master_tables = true;
    return *this;
  }
  InstallationBuilder& Users(std::vector<demo::UserDescription> users) {
    description_.users = std::move(users);
    description_.write_master_tables = true;
    return *this;
  }
  InstallationBuilder& Groups(std::vector<demo::GroupDescription> groups) {
    description_.groups = std::move(groups);
    description_.write_master_tables = true;
    return *this;
  }
  // SMTP delivery through host:port; "" leaves SMTP off.
  InstallationBuilder& Smtp(const std::string& host_port) {
    description_.mail.smtp_server = host_port;
    return *this;
  }
  InstallationBuilder& ProgramDir(const std::string& dir) {
    description_.program_dir = dir;
    return *this;
  }
  // Which program's settings paths() reads (the service's by default).
  InstallationBuilder& ReadBy(CServerPaths::Program program) {
    program_ = program;
    return *this;
  }
  // Anything else the description holds.
  demo::InstallationDescription& description() { return description_; }
  // The directory the installation is written into.
  const std::string& root() const { return dir_->path(); }
  std::string File(const std::string& name) const { return dir_->File(name); }

 private:
  friend class TestInstallation;
  std::unique_ptr<TempDir> dir_;
  demo::InstallationDescription description_;
  CServerPaths::Program program_ = CServerPaths::Program::kService;
};

class TestInstallation : public demo::Installation {
 public:
  // A bare installation (InstallationBuilder::Bare).
  TestInstallation() : TestInstallation(InstallationBuilder::Bare()) {}
  explicit TestInstallation(InstallationBuilder&& builder)
      : demo::Installation(demo::Installation::Write(builder.root(), builder.description_)),
        dir_(std::move(builder.dir_)),
        paths_(MakePaths(program_dir(), builder.program_)) {}
  TestInstallation(const TestInstallation&) = delete;
  TestInstallation& operator=(const TestInstallation&) = delete;
  // An installation made since this one keeps the program directory.
  ~TestInstallation() {
    if (ProgramDirectory() == program_dir()) SetProgramDirectory("");
  }

  std::string File(const std::string& name) const { return dir_->File(name); }
  // Leaves the files in place when the installation goes.
  void Keep() { dir_->Keep(); }
  std::string ServerFile(const std::string& name) const { return server_dir() + "/" + name; }
  std::string orvhome(const std::string& file) const { return server_dir() + "/orvhome/" + file; }
  void WriteServerFile(const std::string& name, const std::string& text) const {
    WriteText(ServerFile(name), text);
  }

  // The settings the program named by the builder read from this
  // installation when it was written.
  CServerPaths& paths() { return *paths_; }

  // Settings changed after writing.
  void SetMailKey(const std::string& key, const std::string& value) const {
    WriteProfileString(morvik_ini(), "Mail", key, value);
  }
  void SetOption(const std::string& key, const std::string& value) const {
    WriteProfileString(vigtab_ini(), "OPTIONS", key, value);
  }

  // The master tables one by one in the writer's layout, for rows a
  // description cannot hold (a group named twice, members of no group).
  void WriteUsers(const std::vector<demo::UserDescription>& users) const {
    std::vector<Record> rows;
    for (const demo::UserDescription& user : users) {
      rows.push_back({user.login, user.password, user.full_name, "", "", "",
                      std::to_string(user.mail_type), user.address});
    }
    WriteDbf(users_table(), demo::UserTableFields(), rows);
  }
  void WriteGroups(const std::vector<std::string>& names) const {
    std::vector<Record> rows;
    for (const std::string& name : names) rows.push_back({name});
    WriteDbf(groups_table(), demo::GroupTableFields(), rows);
  }
  // An empty internal mail table in the writer's layout.
  void WriteInternalMailTable() const { demo::WriteInternalMailTable(orvkpost_table()); }
  // (member, group) pairs.
  void WriteMembership(const std::vector<std::pair<std::string, std::string>>& pairs) const {
    std::vector<Record> rows;
    for (const auto& [member, group] : pairs) rows.push_back({member, group});
    WriteDbf(membership_table(), demo::MembershipTableFields(), rows);
  }

 private:
  // Makes program_dir the program directory before reading the settings.
  static std::unique_ptr<CServerPaths> MakePaths(const std::string& program_dir,
                                                 CServerPaths::Program program) {
    SetProgramDirectory(program_dir);
    return std::make_unique<CServerPaths>(program);
  }

  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<CServerPaths> paths_;
};

}  // namespace vigilo::testing
