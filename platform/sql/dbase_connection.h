// The embedded dBase engine as a Connection: an in-memory SQLite database in
// which every .dbf file of the connection's DefaultDir (and every file named
// as "dir\FILE.DBF" in a statement) becomes a virtual table of the "dbf"
// module on first mention. Statements are first rewritten from the dBase
// dialect (see dbase_sql_rewriter.h); CREATE TABLE makes a new .dbf file.
// Character columns compare under RTRIM, date columns under DBDATE
// (date_collation.h); values as dbf_table_data.h says.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sql/connection.h"
#include "platform/sql/dbf_vtab.h"

namespace vigilo::sql {

class DbaseConnection : public Connection {
 public:
  // Reads DefaultDir (or DBQ) from the connection string. Throws
  // DbException when it is missing or not a directory.
  explicit DbaseConnection(const std::string& connection_string);

  long Execute(const std::string& statement) override;
  // Prepared once and run for each value in one transaction, so that each
  // file written is locked, and its header written, once for the batch.
  long ExecuteForEach(const std::string& statement, const std::vector<int64_t>& values,
                      size_t* done) override;
  std::unique_ptr<Cursor> Query(const std::string& statement) override;
  bool IsDbase() const override { return true; }
  // Looked at every kStopCheckSteps steps of the engine.
  void SetStopCheck(std::function<bool()> check) override;

  const std::string& default_dir() const { return state_->ctx.default_dir; }

 private:
  struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

  // Rewrites and prepares the statement, creating the virtual table of each
  // table that SQLite reports missing ("no such table: X") and preparing
  // again.
  Stmt Prepare(const std::string& statement);
  // Makes the virtual table for name; false when no file stands for it.
  bool AttachTable(const std::string& name);
  long CreateTable(const std::string& statement);
  // Writes a new table without memo fields at path through a file beside it.
  void CreateBesideAndRename(const std::string& path, const std::vector<DbfField>& fields);

  // The engine, shared with the results opened on it, so that a result
  // outliving its Database stays valid.
  struct State {
    DbaseContext ctx;
    sqlite3* db = nullptr;
    std::function<bool()> stop_check;
    ~State() { sqlite3_close_v2(db); }
  };
  std::shared_ptr<State> state_;
  DbaseContext& ctx_;
  sqlite3*& db_;
};

}  // namespace vigilo::sql
