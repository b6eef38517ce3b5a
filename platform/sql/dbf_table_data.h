// The rows of one .dbf file as the embedded dBase engine reads them: every
// field decoded once into columns held in memory, kept while the file is
// unchanged, with equality indexes built on demand and the primary key (kept
// in a side file, see dbf_primary_key.h) enforced on writes. Writes go to the
// file through the xBase library at once and are mirrored here, so a
// connection does not re-read a table after its own writes.
//
// Values: character fields with trailing blanks removed (a blank field is
// "", never NULL); N fields without decimals as 64-bit integers and with
// decimals (and F fields) as reals, blank ones as NULL; D fields as
// 'CCYY-MM-DD' text, blank ones as NULL; L fields as 1/0, NULL when unknown;
// M fields as their whole memo text.
//
// Thread-safety: one thread at a time (that of its connection).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/xbase/dbf_table.h"

namespace vigilo::sql {

enum class ColumnKind { kText, kInteger, kReal, kDate, kMemo };

// Columns as a bit set: bit c stands for column c, bit 63 for every column
// from 63 on (as SQLite's colUsed).
using ColumnMask = uint64_t;
constexpr ColumnMask kAllColumns = ~ColumnMask{0};

// A value given to a write. kUnchanged leaves the field as it is.
struct CellValue {
  enum Kind { kNull, kInteger, kReal, kText, kUnchanged } kind = kNull;
  int64_t integer = 0;
  double real = 0;
  std::string text;
};

// The rows of each key of one column: the rows of slot s are
// rows[starts[s]] .. rows[starts[s + 1] - 1], in record order. Text keys
// are views into the table's data and live as long as the index is current.
struct EqIndex {
  std::unordered_map<int64_t, uint32_t> int_slots;            // integer columns
  std::unordered_map<std::string_view, uint32_t> text_slots;  // text columns
  std::vector<uint32_t> starts;
  std::vector<uint32_t> rows;
  // Rows appended after the index was built (from built_rows on) are not in
  // it; a look-up reads them as well, so appending keeps an integer column's
  // index instead of rebuilding it for every new row.
  uint32_t built_rows = 0;
  size_t distinct() const { return starts.empty() ? 0 : starts.size() - 1; }
};

class DbfTableData {
 public:
  // Opens the file (for writing when allowed). Throws DbfError.
  explicit DbfTableData(const std::string& path);

  const std::string& path() const { return path_; }
  const std::vector<DbfField>& fields() const { return table_->Fields(); }
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  ColumnKind Kind(int column) const { return columns_[column].kind; }

  // Forgets what was read when the file changed since. The file is looked
  // at once per `epoch` (the connection counts statements), so a join does
  // not stat the file once per outer row. Call before any other use in a
  // statement.
  void Refresh(uint64_t epoch);
  // Decodes the deletion marks and the columns of the mask that are not in
  // memory yet, in one pass over the file. Throws DbfError.
  void EnsureColumns(ColumnMask mask);
  bool ColumnLoaded(int column) const { return columns_[column].loaded; }

  // Rows (records, deleted ones included); row r is record r + 1.
  uint32_t RowCount() const { return rows_; }
  // REQUIRES: EnsureColumns was called since the last Refresh.
  bool IsDeleted(uint32_t row) const { return deleted_[row] != 0; }

  // REQUIRES: the column is loaded.
  bool IsNull(uint32_t row, int column) const;
  int64_t Integer(uint32_t row, int column) const;
  double Real(uint32_t row, int column) const;
  std::string_view Text(uint32_t row, int column) const;  // kText, kDate
  std::string Memo(uint32_t row, int column);

  // True when an equality on the column can use an index (text, date and
  // integer columns).
  bool Indexable(int column) const;
  // Rows one key of the column is expected to have: exact when its index
  // exists, otherwise estimated from a sample of the column, so that the
  // planner can choose an index without building every candidate.
  double RowsPerKey(int column);
  // The equality index of a column, built on first use after a change
  // (loading the column if need be).
  std::shared_ptr<const EqIndex> Index(int column);

  // Writes. Values follow the column order. An insert drops the indexes; an
  // update drops those of the columns it changed; a delete drops none (the
  // readers skip deleted rows). Throw DbfError on a value the
  // field cannot hold, DbException on a primary-key violation.
  uint32_t Insert(const std::vector<CellValue>& values);  // returns the row
  void Update(uint32_t row, const std::vector<CellValue>& values);
  void Delete(uint32_t row);

 private:
  struct Column {
    ColumnKind kind;
    int field;
    bool loaded = false;
    std::vector<int64_t> ints;
    std::vector<double> reals;
    std::string arena;            // texts of all rows, one after the other
    std::vector<uint64_t> ends;   // end of row r's text in arena
    std::vector<uint8_t> nulls;
    std::unordered_map<uint32_t, std::string> overrides;  // texts rewritten since loading
    std::shared_ptr<const EqIndex> index;
  };
  // One decoded field value.
  struct Decoded {
    bool null = false;
    int64_t integer = 0;
    double real = 0;
    std::string text;
  };
  struct FileStamp {
    ino_t inode = 0;
    off_t size = -1;
    int64_t mtime_ns = -1;
    bool operator==(const FileStamp&) const = default;
  };

  FileStamp Stamp() const;
  void Reopen();
  void Reset();
  void Decode(const Column& c, std::string_view record, Decoded* out) const;
  void Push(Column& c, Decoded&& value);
  void AppendDecoded(std::string_view record);
  void RedecodeRow(uint32_t row, std::string_view record);
  void AssignValue(int column, const CellValue& value);
  ColumnMask KeyMask() const;
  std::string KeyPart(uint32_t row, int column) const;
  std::string KeyOf(uint32_t row) const;
  std::string KeyOfValues(const std::vector<CellValue>& values, uint32_t row) const;
  void BuildKeySet();
  void DropIndexes();
  // After an append: text indexes view the column's text storage, which the
  // new row may have moved, so they go; integer indexes stay, the new row
  // being read as part of their tail.
  void DropIndexesAfterAppend();
  void AfterWrite();

  std::string path_;
  std::unique_ptr<DbfTable> table_;
  std::vector<Column> columns_;
  std::vector<uint8_t> deleted_;
  bool deleted_loaded_ = false;
  uint32_t rows_ = 0;
  bool valid_ = false;      // rows_ and stamp_ describe the file
  bool fresh_open_ = true;  // table_ was just opened and read nothing yet
  FileStamp stamp_;
  uint64_t checked_epoch_ = 0;

  std::string key_name_;
  std::vector<int> key_columns_;  // primary key; empty when none
  std::optional<std::unordered_set<std::string>> key_set_;
};

}  // namespace vigilo::sql
