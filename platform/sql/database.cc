#include "platform/sql/database.h"

#include <climits>

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/connection.h"

namespace vigilo {

DbException::DbException(std::string message, std::string sql_state,
                         long native_error)
    : message_(std::move(message)),
      sql_state_(std::move(sql_state)),
      native_error_(native_error) {
  if (message_.empty() || message_.back() != '\n') message_ += '\n';
}

DbException::DbException(std::string message, std::vector<DbDiagnostic> diagnostics)
    : DbException(std::move(message),
                  diagnostics.empty() ? std::string() : diagnostics.front().sql_state,
                  diagnostics.empty() ? 0 : diagnostics.front().native_error) {
  diagnostics_ = std::move(diagnostics);
}

bool DbException::IsConnectionLost() const {
  auto lost = [](const std::string& state) {
    return state.rfind("08", 0) == 0 || state == "HYT01" || state == "57P01" ||
           state == "57P02" || state == "57P03";
  };
  if (lost(sql_state_)) return true;
  for (const DbDiagnostic& diagnostic : diagnostics_) {
    if (lost(diagnostic.sql_state)) return true;
  }
  return false;
}

// ---------------------------------------------------------------- Database

Database::Database() = default;
Database::~Database() { Close(); }
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&&) noexcept = default;

bool Database::Open(const std::string& connection_string, int /*options*/) {
  Close();
  connection_lost_ = false;
  lost_message_.clear();
  connection_ = sql::OpenConnection(connection_string);
  connection_string_ = connection_string;
  return true;
}

void Database::Adopt(std::unique_ptr<sql::Connection> connection,
                     std::string connection_string) {
  Close();
  connection_ = std::move(connection);
  connection_string_ = std::move(connection_string);
}

bool Database::IsOpen() const { return connection_ != nullptr; }

void Database::Close() {
  connection_.reset();
  connection_string_.clear();
}

long Database::ExecuteSQL(const std::string& statement) {
  sql::Connection& backend = connection();
  try {
    return backend.Execute(statement);
  } catch (const DbException& error) {
    NoteFailure(error);
    throw;
  }
}

long Database::ExecuteForEach(const std::string& statement, const std::vector<int64_t>& values,
                              size_t* done) {
  sql::Connection& backend = connection();
  size_t completed = 0;
  try {
    const long changed = backend.ExecuteForEach(statement, values, &completed);
    if (done != nullptr) *done = completed;
    return changed;
  } catch (const DbException& error) {
    if (done != nullptr) *done = completed;
    NoteFailure(error);
    throw;
  }
}

long Database::ExecuteAsOne(const std::vector<std::string>& statements) {
  sql::Connection& backend = connection();
  try {
    return backend.ExecuteAsOne(statements);
  } catch (const DbException& error) {
    NoteFailure(error);
    throw;
  }
}

bool Database::IsConnectionDead() const {
  return connection_ != nullptr && connection_->IsDead();
}

void Database::NoteFailure(const DbException& error) {
  if (connection_ == nullptr) return;
  if (!error.IsConnectionLost() && !connection_->IsDead()) return;
  connection_lost_ = true;
  lost_message_ = error.Message();
  // Results still open keep their own share of the session.
  connection_.reset();
  connection_string_.clear();
}

bool Database::IsDbase() const {
  return connection_ != nullptr && connection_->IsDbase();
}

void Database::SetStopCheck(std::function<bool()> check) {
  if (connection_ != nullptr) connection_->SetStopCheck(std::move(check));
}

sql::Connection& Database::connection() {
  if (!connection_) throw DbException("The database is not open.");
  return *connection_;
}

// --------------------------------------------------------------- Recordset

Recordset::Recordset() = default;
Recordset::~Recordset() { Close(); }
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;

void Recordset::Open(Database& db, const std::string& statement) {
  Close();
  sql::Connection& backend = db.connection();
  try {
    auto cursor = backend.Query(statement);
    eof_ = !cursor->Fetch();
    cursor_ = std::move(cursor);
  } catch (const DbException& error) {
    db.NoteFailure(error);
    throw;
  }
}

bool Recordset::IsOpen() const { return cursor_ != nullptr; }

bool Recordset::IsEOF() const { return cursor_ == nullptr || eof_; }

void Recordset::MoveNext() {
  if (IsEOF()) throw DbException("Attempt to move past the end of the result.");
  eof_ = !cursor_->Fetch();
}

void Recordset::Close() {
  cursor_.reset();
  eof_ = true;
}

int Recordset::ColumnCount() const {
  return cursor_ ? cursor_->ColumnCount() : 0;
}

std::string Recordset::ColumnName(int index) const {
  if (!cursor_ || index < 0 || index >= cursor_->ColumnCount()) {
    throw DbException(Format("No column %d in the result.", index));
  }
  return cursor_->ColumnName(index);
}

int Recordset::FindColumn(std::string_view name) const {
  if (!cursor_) return -1;
  int count = cursor_->ColumnCount();
  for (int i = 0; i < count; ++i) {
    if (EqualsNoCase(cursor_->ColumnName(i), name)) return i;
  }
  return -1;
}

int Recordset::ColumnIndex(std::string_view name) const {
  int index = FindColumn(name);
  if (index < 0) {
    throw DbException(Format("Column %.*s is not in the result.",
                             static_cast<int>(name.size()), name.data()));
  }
  return index;
}

void Recordset::CheckRow(int index) const {
  if (IsEOF()) throw DbException("No current row in the result.");
  if (index < 0 || index >= cursor_->ColumnCount()) {
    throw DbException(Format("No column %d in the result.", index));
  }
}

std::string Recordset::GetText(int index) const {
  CheckRow(index);
  return cursor_->IsNull(index) ? std::string() : cursor_->Text(index);
}

std::string Recordset::GetText(std::string_view name) const {
  return GetText(ColumnIndex(name));
}

int32_t Recordset::GetLong(int index) const {
  long value = LeadingNumber(GetText(index));
  return static_cast<int32_t>(value);
}

int32_t Recordset::GetLong(std::string_view name) const {
  return GetLong(ColumnIndex(name));
}

int64_t Recordset::GetInt64(int index) const {
  return static_cast<int64_t>(LeadingNumber(GetText(index)));
}

std::optional<int64_t> Recordset::LargestWholeNumber(int index) const {
  if (!cursor_ || index < 0 || index >= cursor_->ColumnCount()) return std::nullopt;
  return cursor_->LargestWholeNumber(index);
}

bool Recordset::IsNull(int index) const {
  CheckRow(index);
  return cursor_->IsNull(index);
}

}  // namespace vigilo
