// Faults injected behind Database through the connection factory, as tests
// of code that opens its own connections do it.
#include <gtest/gtest.h>

#include "platform/sql/connection.h"
#include "tests/platform/sql/dbase_fixture.h"

namespace vigilo::test {
namespace {

// Passes statements to the real backend and fails the one that holds a
// given text.
class FailingConnection : public sql::Connection {
 public:
  FailingConnection(std::unique_ptr<sql::Connection> inner, std::string fail_on,
                    std::string sql_state = {})
      : inner_(std::move(inner)), fail_on_(std::move(fail_on)), sql_state_(std::move(sql_state)) {}
  long Execute(const std::string& statement) override {
    Check(statement);
    return inner_->Execute(statement);
  }
  std::unique_ptr<sql::Cursor> Query(const std::string& statement) override {
    Check(statement);
    return inner_->Query(statement);
  }
  bool IsDbase() const override { return inner_->IsDbase(); }

 private:
  void Check(const std::string& statement) {
    if (statement.find(fail_on_) != std::string::npos) {
      throw DbException("Injected failure", sql_state_);
    }
  }
  std::unique_ptr<sql::Connection> inner_;
  std::string fail_on_;
  std::string sql_state_;
};

class ConnectionFactoryTest : public DbaseProjectTest {
 protected:
  void TearDown() override { sql::SetConnectionFactory(nullptr); }
};

TEST_F(ConnectionFactoryTest, WrappedBackendFailsChosenStatementsOnly) {
  sql::SetConnectionFactory([](const std::string& connection_string) {
    return std::make_unique<FailingConnection>(sql::OpenDefaultConnection(connection_string),
                                               "INSERT");
  });
  Database db;
  db.Open(DbaseConnectionString(Dir()), Database::kNoOdbcDialog);
  EXPECT_TRUE(db.IsDbase());
  EXPECT_EQ(QueryRows(db, "SELECT COUNT(*) FROM Bugs"), (std::vector<Record>{{"4"}}));
  try {
    db.ExecuteSQL("INSERT INTO Bugs (FormID) VALUES (5)");
    ADD_FAILURE();
  } catch (const DbException& e) {
    EXPECT_EQ(e.Message(), "Injected failure\n");
  }
  sql::SetConnectionFactory(nullptr);
  Database plain;
  plain.Open(DbaseConnectionString(Dir()), Database::kNoOdbcDialog);
  EXPECT_EQ(plain.ExecuteSQL("INSERT INTO Bugs (FormID) VALUES (5)"), 1);
}

TEST_F(ConnectionFactoryTest, AdoptedBackendServesRecordsets) {
  Database db;
  db.Adopt(std::make_unique<FailingConnection>(
               sql::OpenDefaultConnection(DbaseConnectionString(Dir())), "ChHist"),
           "test");
  EXPECT_EQ(db.ConnectionString(), "test");
  EXPECT_EQ(QueryRows(db, "SELECT FormID FROM Bugs WHERE FormID = 2"),
            (std::vector<Record>{{"2"}}));
  Recordset rs;
  EXPECT_THROW(rs.Open(db, "SELECT * FROM ChHist"), DbException);
  EXPECT_FALSE(rs.IsOpen());
}

TEST(ConnectionLostTest, ConnectionClassStatesAndServerShutdownsCount) {
  for (const char* state : {"08S01", "08001", "08003", "HYT01", "57P01", "57P02", "57P03"}) {
    EXPECT_TRUE(DbException("gone", state).IsConnectionLost()) << state;
  }
  for (const char* state : {"", "HY000", "42P01", "23000", "22003"}) {
    EXPECT_FALSE(DbException("not gone", state).IsConnectionLost()) << state;
  }
  // A later diagnostic record of the same call counts too.
  EXPECT_TRUE(DbException("two", std::vector<DbDiagnostic>{{"HY000", 1, "first"},
                                                           {"08S01", 35, "second"}})
                  .IsConnectionLost());
}

TEST_F(ConnectionFactoryTest, StatementThatLosesTheConnectionClosesIt) {
  Database db;
  db.Adopt(std::make_unique<FailingConnection>(
               sql::OpenDefaultConnection(DbaseConnectionString(Dir())), "ChHist", "08S01"),
           "test");
  Recordset rs;
  EXPECT_THROW(rs.Open(db, "SELECT * FROM ChHist"), DbException);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_TRUE(db.ConnectionLost());
  EXPECT_EQ(db.LostMessage(), "Injected failure\n");
  db.Open(DbaseConnectionString(Dir()), Database::kNoOdbcDialog);
  EXPECT_FALSE(db.ConnectionLost());

  // Any other failure leaves the connection as it was.
  db.Adopt(std::make_unique<FailingConnection>(
               sql::OpenDefaultConnection(DbaseConnectionString(Dir())), "ChHist", "42S02"),
           "test");
  EXPECT_THROW(db.ExecuteSQL("DELETE FROM ChHist"), DbException);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_FALSE(db.ConnectionLost());
}

}  // namespace
}  // namespace vigilo::test
