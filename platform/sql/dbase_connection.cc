#include "platform/sql/dbase_connection.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

#include "common/file_system.h"
#include "common/format.h"
#include "common/text.h"
#include "platform/sql/connection_string.h"
#include "platform/sql/create_table_statement.h"
#include "platform/sql/date_collation.h"
#include "platform/sql/dbase_sql_rewriter.h"
#include "platform/sql/dbf_not_listed.h"
#include "platform/sql/dbf_file_names.h"
#include "platform/sql/dbf_primary_key.h"
#include "platform/sql/sql_tokens.h"
#include "platform/sql/sqlite_error.h"

namespace vigilo::sql {

namespace {

constexpr std::string_view kNoSuchTable = "no such table: ";

// Rows of one prepared statement.
class DbaseCursor : public Cursor {
 public:
  DbaseCursor(std::shared_ptr<void> state, sqlite3* db, sqlite3_stmt* stmt)
      : state_(std::move(state)), db_(db), stmt_(stmt) {}
  ~DbaseCursor() override { sqlite3_finalize(stmt_); }

  bool Fetch() override {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw SqliteError(db_, rc);
  }
  int ColumnCount() const override { return sqlite3_column_count(stmt_); }
  std::string ColumnName(int index) const override {
    const char* name = sqlite3_column_name(stmt_, index);
    return name ? name : "";
  }
  bool IsNull(int index) const override {
    return sqlite3_column_type(stmt_, index) == SQLITE_NULL;
  }
  std::string Text(int index) const override {
    const unsigned char* text = sqlite3_column_text(stmt_, index);
    if (!text) return "";
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(stmt_, index)));
  }

 private:
  std::shared_ptr<void> state_;  // released after the statement is finalized
  sqlite3* db_;
  sqlite3_stmt* stmt_;
};

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void DbaseConnection::SetStopCheck(std::function<bool()> check) {
  // A few thousand engine steps take well under a millisecond, so a stop is
  // seen at once even in a long scan that yields no row.
  constexpr int kStopCheckSteps = 4000;
  state_->stop_check = std::move(check);
  if (!state_->stop_check) {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    return;
  }
  sqlite3_progress_handler(
      db_, kStopCheckSteps,
      [](void* state) { return static_cast<State*>(state)->stop_check() ? 1 : 0; },
      state_.get());
}

DbaseConnection::DbaseConnection(const std::string& connection_string)
    : state_(std::make_shared<State>()), ctx_(state_->ctx), db_(state_->db) {
  auto dir = ConnectionStringValue(connection_string, "DefaultDir");
  if (!dir || dir->empty()) dir = ConnectionStringValue(connection_string, "DBQ");
  if (!dir || dir->empty()) {
    throw DbException("The dBase connection string names no DefaultDir.");
  }
  std::string path = *dir;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  auto resolved = ResolveFileCase(path);
  if (!resolved || !IsDirectory(*resolved)) {
    throw DbException(Format("The dBase directory %s does not exist.", dir->c_str()));
  }
  ctx_.default_dir = *resolved;
  int rc = sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                           nullptr);
  if (rc != SQLITE_OK) {
    DbException error = SqliteError(db_, rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw error;
  }
  rc = RegisterDateCollation(db_);
  if (rc == SQLITE_OK) rc = RegisterDbfModule(db_, &ctx_);
  if (rc == SQLITE_OK) rc = RegisterNotListedFunction(db_, &ctx_);
  if (rc != SQLITE_OK) {
    DbException error = SqliteError(db_, rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw error;
  }
}

bool DbaseConnection::AttachTable(const std::string& name) {
  auto path = ResolveFileCase(TablePath(ctx_.default_dir, name));
  if (!path) return false;
  std::string create = "CREATE VIRTUAL TABLE main." + QuoteIdentifier(name) +
                       " USING dbf(" + QuoteString(*path) + ")";
  int rc = sqlite3_exec(db_, create.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw SqliteError(db_, rc);
  return true;
}

DbaseConnection::Stmt DbaseConnection::Prepare(const std::string& statement) {
  std::string text = RewriteDbaseSql(statement);
  // Each round attaches one more table; a statement names only so many.
  for (int round = 0; round < 256; ++round) {
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()),
                                &stmt, &tail);
    if (rc == SQLITE_OK) {
      if (!stmt) throw DbException("The statement is empty.");
      Stmt prepared(stmt);
      // A second statement would be ignored silently: refuse it instead.
      for (; tail && *tail; ++tail) {
        if (*tail != ';' && !std::isspace(static_cast<unsigned char>(*tail))) {
          throw DbException("Only one statement can be run at a time.");
        }
      }
      return prepared;
    }
    std::string message = sqlite3_errmsg(db_);
    if (message.rfind(kNoSuchTable, 0) != 0) throw SqliteError(db_, rc);
    std::string name = message.substr(kNoSuchTable.size());
    if (StartsWithNoCase(name, "main.") && !AttachTable(name)) name = name.substr(5);
    if (!AttachTable(name)) {
      throw DbException(Format("%s (no file %s)", message.c_str(),
                               TablePath(ctx_.default_dir, name).c_str()),
                        "42S02", rc);
    }
  }
  throw DbException("The statement names too many tables.");
}

long DbaseConnection::CreateTable(const std::string& statement) {
  std::optional<CreateTableStatement> create = ParseCreateTable(statement);
  std::string path = TablePath(ctx_.default_dir, create->table);
  if (ResolveFileCase(path)) {
    throw DbException(Format("Table %s already exists.", create->table.c_str()),
                      "42S01");
  }
  auto target = ResolveNewFile(path);
  if (!target) {
    throw DbException(Format("Cannot create table %s: its directory does not exist.",
                             create->table.c_str()));
  }
  // The key's side file comes first: alone it is harmless, and the table
  // never appears without its key.
  if (!create->primary_key.empty()) {
    WritePrimaryKey(*target, PrimaryKey{create->key_name, create->primary_key});
  }
  const bool memo = std::any_of(create->fields.begin(), create->fields.end(),
                                [](const DbfField& f) { return f.type == 'M'; });
  try {
    if (memo) {
      // The memo file is named after the table's file: made in place.
      DbfTable::Create(*target, create->fields)->Close();
    } else {
      CreateBesideAndRename(*target, create->fields);
    }
  } catch (const DbfError& e) {
    throw DbException(e.what());
  }
  ctx_.tables.erase(*target);  // a file of that name read before is gone
  return 0;
}

void DbaseConnection::CreateBesideAndRename(const std::string& path,
                                            const std::vector<DbfField>& fields) {
  // Built under another name and renamed into place, so that a full disk or
  // a crash leaves either no table or a whole one, never a file without its
  // header that every later creation would take for an existing table.
  const std::string building = path + ".new";
  auto fail = [&](const char* what) {
    const int error = errno;
    Files().Unlink(building);
    throw DbException(FileErrorText(building, what, error));
  };
  try {
    DbfTable::Create(building, fields)->Close();
  } catch (const DbfError&) {
    Files().Unlink(building);
    throw;
  }
  {
    UniqueFd fd(Files().Open(building, O_RDWR));
    if (!fd.valid() || Files().Sync(fd.get()) != 0) fail("cannot be written to disk");
  }
  if (Files().Rename(building, path) != 0) fail("cannot be renamed into place");
}

long DbaseConnection::Execute(const std::string& statement) {
  ++ctx_.epoch;
  std::vector<Token> tokens = Tokenize(statement);
  if (tokens.size() >= 2 && EqualsNoCase(tokens[0].text, "CREATE") &&
      EqualsNoCase(tokens[1].text, "TABLE")) {
    return CreateTable(statement);
  }
  Stmt stmt = Prepare(statement);
  for (;;) {
    int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw SqliteError(db_, rc);
  }
  return sqlite3_stmt_readonly(stmt.get()) ? 0 : sqlite3_changes(db_);
}

long DbaseConnection::ExecuteForEach(const std::string& statement,
                                     const std::vector<int64_t>& values, size_t* done) {
  *done = 0;
  if (values.empty()) return 0;
  ++ctx_.epoch;
  Stmt stmt = Prepare(statement);
  if (sqlite3_bind_parameter_count(stmt.get()) != 1) {
    throw DbException("The statement must hold exactly one parameter.");
  }
  const bool own_transaction = sqlite3_get_autocommit(db_) != 0;
  auto run = [&](const char* sql) {
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw SqliteError(db_, rc);
  };
  if (own_transaction) run("BEGIN");
  long changed = 0;
  try {
    for (int64_t value : values) {
      sqlite3_bind_int64(stmt.get(), 1, value);
      int rc;
      while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) throw SqliteError(db_, rc);
      sqlite3_reset(stmt.get());
      changed += sqlite3_changes(db_);
      ++*done;
    }
    if (own_transaction) run("COMMIT");
  } catch (...) {
    // The files keep what was written before the failure; ending the
    // transaction ends their batch.
    if (own_transaction && sqlite3_get_autocommit(db_) == 0) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    throw;
  }
  return sqlite3_stmt_readonly(stmt.get()) ? 0 : changed;
}

std::unique_ptr<Cursor> DbaseConnection::Query(const std::string& statement) {
  ++ctx_.epoch;
  Stmt stmt = Prepare(statement);
  return std::make_unique<DbaseCursor>(state_, db_, stmt.release());
}

}  // namespace vigilo::sql
