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
  FailingConnection(std::unique_ptr<sql::Connection> inner, std::string fail_on)
      : inner_(std::move(inner)), fail_on_(std::move(fail_on)) {}
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
      throw DbException("Injected failure");
    }
  }
  std::unique_ptr<sql::Connection> inner_;
  std::string fail_on_;
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

}  // namespace
}  // namespace vigilo::test
