// The rule manager's catalogue connection against a real PostgreSQL server
// through psqlODBC. PostgreSQL's schema.table stands in for Oracle's
// owner.table, so the kind-2 catalogue queries run unchanged. A program of its
// own, as the server's odbc.ini must be in place before the first ODBC call.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ini_profile.h"
#include "data/login_info.h"
#include "data/odbc_connection.h"
#include "tests/support/temp_dir.h"
#include "tests/support/postgres_server.h"

namespace vigilo {
namespace {

class CatalogueConnection : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::PostgresServer::Available()) return;
    test::PostgresServer::Options options;
    options.extra_dsn_keys = {"SERVER=pgsrv"};
    server_ = new test::PostgresServer(options);
    server_->Psql(
        "CREATE SCHEMA orvik_master; "
        "CREATE TABLE orvik_master.projlist (projname char(20), dbname char(20)); "
        "INSERT INTO orvik_master.projlist VALUES ('Proj', 'projdb'), ('O''Brien', 'obdb');"
        "GRANT USAGE ON SCHEMA orvik_master TO vigilo; "
        "GRANT SELECT ON orvik_master.projlist TO vigilo;");
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (server_ == nullptr) GTEST_SKIP() << "PostgreSQL or psqlODBC is not installed";
    SetProgramDirectory(dir_.path());
    paths_ = std::make_unique<CServerPaths>(CServerPaths::Program::kManager);
    SetProgramDirectory("");
    paths_->orvik_ini_path = dir_.File("morvik.ini");
    SetLogin(server_->options().password);
  }

  void SetLogin(const std::string& password) {
    ASSERT_TRUE(WriteProfileString(paths_->orvik_ini_path, "Oracle", "pgsrv",
                                   *FormatLoginValue(server_->options().user, password)));
  }

  Reporter Collect() {
    return [this](const std::string& message) { messages_.push_back(message); };
  }

  static test::PostgresServer* server_;
  testing::TempDir dir_;
  std::unique_ptr<CServerPaths> paths_;
  std::vector<std::string> messages_;
};

test::PostgresServer* CatalogueConnection::server_ = nullptr;

TEST_F(CatalogueConnection, ListsProjectsAndFindsTheirDatabase) {
  EXPECT_EQ(ListCatalogueProjects(*paths_, Collect(), 2, "VGPG"),
            (std::vector<std::string>{"Proj", "O'Brien"}));
  EXPECT_EQ(CatalogueDatabaseName(*paths_, Collect(), 2, "VGPG", "Proj"), "projdb");
  EXPECT_EQ(CatalogueDatabaseName(*paths_, Collect(), 2, "VGPG", "O'Brien"), "obdb");
  EXPECT_EQ(CatalogueDatabaseName(*paths_, Collect(), 2, "VGPG", "None"), std::nullopt);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CatalogueConnection, WrongPasswordIsReported) {
  SetLogin("wrong");
  COdbcConnection connection(*paths_, Collect());
  EXPECT_FALSE(connection.Connect(2, "VGPG"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0],
            "Unable to connect to 'VGPG' data source!\n\nDatabase is not running or incorrect "
            "login information.");
}

TEST_F(CatalogueConnection, MissingLoginIsReported) {
  COdbcConnection connection(*paths_, Collect());
  EXPECT_FALSE(connection.Connect(1, "VGPG"));  // no [Microsoft SQL Server] entry
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Cannot find pgsrv in " + paths_->orvik_ini_path);
}

TEST_F(CatalogueConnection, QueryErrorsCarryStateAndCode) {
  COdbcConnection connection(*paths_, Collect());
  ASSERT_TRUE(connection.Connect(2, "VGPG"));
  EXPECT_EQ(connection.QueryColumn("select nothing from orvik_master.missing"), std::nullopt);
  ASSERT_FALSE(messages_.empty());
  EXPECT_EQ(messages_[0].rfind("SQL Error State:", 0), 0u) << messages_[0];
  EXPECT_NE(messages_[0].find(", Native Error Code: "), std::string::npos);
  EXPECT_NE(messages_[0].find(", ODBC Error: "), std::string::npos);
}

TEST_F(CatalogueConnection, OpensTheEngineCopysProjectDatabase) {
  Database database;
  EXPECT_TRUE(OpenProjectDatabase(database, *paths_, Collect(), 2, "VGPG", true));
  EXPECT_TRUE(database.IsOpen());
  Database missing;
  EXPECT_FALSE(OpenProjectDatabase(missing, *paths_, Collect(), 3, "VGPG", false));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "pgsrv server login information does not exists in " +
                              paths_->orvik_ini_path +
                              "!\n\nSetup the DBMS Login information through Orvik.");
}

}  // namespace
}  // namespace vigilo
