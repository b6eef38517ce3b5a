// The embedded dBase engine as a Connection: an in-memory SQLite database in
// which every .dbf file of the connection's DefaultDir (and every file named
// as "dir\FILE.DBF" in a statement) becomes a virtual table of the "dbf"
// module on first mention. Statements are first rewritten from the dBase
// dialect (see dbase_sql_rewriter.h); CREATE TABLE makes a new .dbf file.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

#include "platform/sql/connection.h"
#include "platform/sql/dbf_vtab.h"

namespace vigilo::sql {

class DbaseConnection : public Connection {
 public:
  // Reads DefaultDir (or DBQ) from the connection string. Throws
  // DbException when it is missing or not a directory.
  explicit DbaseConnection(const std::string& connection_string);
  ~DbaseConnection() override;

  long Execute(const std::string& statement) override;
  std::unique_ptr<Cursor> Query(const std::string& statement) override;
  bool IsDbase() const override { return true; }

  const std::string& default_dir() const { return ctx_.default_dir; }

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

  DbaseContext ctx_;
  sqlite3* db_ = nullptr;
};

}  // namespace vigilo::sql
