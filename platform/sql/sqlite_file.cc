#include "platform/sql/sqlite_file.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/file_system.h"
#include "platform/sql/sqlite_error.h"

namespace vigilo::sql {

SqliteFile::~SqliteFile() { Close(); }

void SqliteFile::Open(const std::string& path, bool read_only, int busy_ms) {
  Close();
  if (!read_only) {
    // SQLite would create the file world-readable; its journal files take
    // the mode of the file itself, so it is created here as a private file.
    const int fd = OpenPrivateFile(path, O_WRONLY | O_CREAT | O_CLOEXEC);
    if (fd < 0) {
      throw DbException("unable to open database file " + path + ": " + std::strerror(errno),
                        "HY000");
    }
    Files().Close(fd);
  }
  const int flags = read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    DbException error = db != nullptr ? SqliteError(db, rc)
                                      : DbException("unable to open database file " + path);
    sqlite3_close(db);
    throw error;
  }
  db_ = db;
  sqlite3_busy_timeout(db_, busy_ms);
}

void SqliteFile::Close() {
  if (db_ == nullptr) return;
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

void SqliteFile::Execute(std::string_view sql) {
  if (db_ == nullptr) throw DbException("database not open");
  const std::string text(sql);
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    sqlite3_free(message);
    throw SqliteError(db_, rc);
  }
}

int64_t SqliteFile::LastInsertId() const {
  return db_ != nullptr ? sqlite3_last_insert_rowid(db_) : 0;
}

int64_t SqliteFile::Changes() const { return db_ != nullptr ? sqlite3_changes(db_) : 0; }

SqliteStatement::SqliteStatement(SqliteFile& file, std::string_view sql) : file_(file) {
  if (file.handle() == nullptr) throw DbException("database not open");
  const int rc = sqlite3_prepare_v2(file.handle(), sql.data(), static_cast<int>(sql.size()),
                                    &statement_, nullptr);
  if (rc != SQLITE_OK) throw SqliteError(file.handle(), rc);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

SqliteStatement& SqliteStatement::Bind(int position, int64_t value) {
  const int rc = sqlite3_bind_int64(statement_, position, value);
  if (rc != SQLITE_OK) throw SqliteError(file_.handle(), rc);
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int position, std::string_view text) {
  const int rc = sqlite3_bind_text(statement_, position, text.data(),
                                   static_cast<int>(text.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) throw SqliteError(file_.handle(), rc);
  return *this;
}

bool SqliteStatement::Step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw SqliteError(file_.handle(), rc);
}

void SqliteStatement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

std::string SqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
}

}  // namespace vigilo::sql
