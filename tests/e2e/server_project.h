// The kind-2 project "proj" that the end-to-end tests run on a real PostgreSQL
// server through psqlODBC: schema proj with the table bugs and its change
// history bugshist, the server's login in section "Oracle" of morvik.ini, and
// the table's INI file with its field definitions in the server directory.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/format.h"
#include "common/ini_profile.h"
#include "data/login_info.h"
#include "tests/support/postgres_server.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {

class ServerProjectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (test::PostgresServer::Available()) server_ = new test::PostgresServer();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  // Recreates schema proj with bugs (its column list given) and bugshist,
  // then runs the inserts. Skips the test when no server can be started.
  void CreateProject(const std::string& bugs_columns, const std::string& inserts) {
    if (server_ == nullptr) GTEST_SKIP() << "PostgreSQL or psqlODBC is not installed";
    server_->Psql(
        "DROP SCHEMA IF EXISTS proj CASCADE; CREATE SCHEMA proj AUTHORIZATION vigilo; "
        "SET ROLE vigilo; "
        "CREATE TABLE proj.bugs (" + bugs_columns + "); "
        "CREATE TABLE proj.bugshist (FormID int, ChngDate varchar(12), ChngBy varchar(10), "
        "ChngWhat varchar(10), ChngFrom varchar(20), ChngTo varchar(20)); " + inserts);
  }

  // Writes the server's login and the table INI of bugs into an installation.
  static void WriteServerTable(const demo::Installation& install,
                               const std::vector<demo::FieldDescription>& fields) {
    WriteProfileString(install.morvik_ini(), "Oracle", "127.0.0.1",
                       *FormatLoginValue(server_->options().user, server_->options().password));
    const std::string ini = install.server_dir() + "/bugs.INI";
    WriteProfileString(ini, "Morvane Orvik", "ChngHist Datafile", "D:\\orvik\\bugshist.dbf");
    WriteProfileString(ini, "Morvane Orvik", "FormNames", "bugs");
    int n = 0;
    for (const demo::FieldDescription& field : fields) {
      WriteProfileString(ini, "bugs", Format("Field%d", ++n), demo::FieldDefinitionLine(field));
    }
  }

  std::string Sql(const std::string& sql) { return server_->Psql(sql); }

  inline static test::PostgresServer* server_ = nullptr;
};

}  // namespace vigilo::e2e
