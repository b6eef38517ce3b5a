// SqliteFile: a plain SQLite database file of the engine's own (not a project
// database), with prepared statements bound by position. The firing history
// is kept in one.
//
// Errors are DbException (platform/sql/database.h), raised by every call that
// fails. A file opened read-only is never written, also not created; a
// writable one is created with mode 0640 when missing, since it may hold
// record contents.
//
// Thread-safety: one object belongs to one thread at a time; several objects
// (also in several processes) may use one file, as SQLite allows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vigilo::sql {

class SqliteStatement;

class SqliteFile {
 public:
  SqliteFile() = default;
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  // Opens the file. busy_ms is how long a call waits for another
  // connection's lock before it fails. Throws DbException when the file
  // cannot be opened (a missing file opened read-only among them).
  void Open(const std::string& path, bool read_only, int busy_ms);
  bool IsOpen() const { return db_ != nullptr; }
  void Close();

  // Runs statements without results (several, separated by ";").
  void Execute(std::string_view sql);
  int64_t LastInsertId() const;
  // Rows the last INSERT, UPDATE or DELETE changed.
  int64_t Changes() const;

  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// One prepared statement; Step() walks its rows.
class SqliteStatement {
 public:
  SqliteStatement(SqliteFile& file, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Positions count from 1, as in SQL.
  SqliteStatement& Bind(int position, int64_t value);
  SqliteStatement& Bind(int position, std::string_view text);
  // True while a row is current; false once the statement is done.
  bool Step();
  // Ready for new bindings and another run.
  void Reset();

  // Columns count from 0.
  int64_t Int(int column) const;
  std::string Text(int column) const;

 private:
  SqliteFile& file_;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace vigilo::sql
