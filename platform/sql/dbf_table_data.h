// The rows of one .dbf file as the embedded dBase engine reads them: the
// fields a statement reads decoded once into columns held in memory, kept
// while the file is unchanged, with equality indexes built on demand (a join
// key's index under a constant read from the records' bytes, neither column
// decoded) and the primary key (kept in a side file, see dbf_primary_key.h)
// enforced on writes. Writes go to the file through the xBase library at
// once and are mirrored here, so a connection does not re-read a table
// after its own writes.
//
// Values: character fields with trailing blanks removed (a blank field is
// "", never NULL; a NUL inside reads as a blank); N fields without decimals
// as 64-bit integers and with decimals (and F fields) as reals, blank ones as
// NULL; D fields as 'CCYY-MM-DD' text, blank ones as NULL; L fields as 1/0,
// NULL when unknown; M fields as their whole memo text.
//
// Memory: text, date and memo-pointer columns hold one code a row into the
// column's dictionary of distinct texts; integer columns one value a row,
// NULL as a value no field can hold; both in 1, 2, 4 or 8 bytes, as few as
// the column's values need (see packed_vector.h). Deletion marks take a bit
// a row. Equality indexes are counting sorts of codes, or of integer keys
// (one slot a key when the keys are as dense as record numbers, else sorted
// keys).
//
// Thread-safety: one thread at a time (that of its connection).
#pragma once

#include <sys/types.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/sql/packed_vector.h"
#include "platform/sql/text_dictionary.h"
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

// The rows of each key of one column, in record order, deleted ones
// included (readers skip them): the rows of slot s are rows[starts[s]] ..
// rows[starts[s + 1] - 1]. A slot is the text's code
// for text and date columns; for integer columns the key minus `base` when
// the keys are dense (as record numbers are), else the key's position in
// `keys`. When no key has two rows (a column of record numbers), `unique`
// is set, `starts` is empty and rows[s] is slot s's row (UINT32_MAX: none).
struct EqIndex {
  bool dense = false;
  bool unique = false;
  int64_t base = 0;
  std::vector<int64_t> keys;  // sorted, integer columns that are not dense
  std::vector<uint32_t> starts;
  std::vector<uint32_t> rows;
  size_t distinct = 0;  // slots holding rows
  // Rows appended after the index was built (from `covered` on) are not in
  // it; a look-up reads them after its range, so that appending to a table
  // (a flag table, the internal mail table) keeps its indexes instead of
  // building them again for every new row.
  uint32_t covered = 0;
};

// Makes an index of sorted keys (not dense) from (key, row) pairs sorted by
// key: keys, starts, rows and distinct.
void IndexSortedPairs(const std::vector<std::pair<int64_t, uint32_t>>& pairs, EqIndex& index);

// A value an equality compares a column with, resolved against the column:
// an integer, the code of a text, or nothing the column can hold.
struct EqKey {
  enum Kind { kNothing, kInteger, kCode } kind = kNothing;
  int64_t integer = 0;
  uint32_t code = 0;
};

// A constant an equality compares a column with, as the statement gives
// it: a text (compared without trailing blanks, as under RTRIM) on a text
// column, or an integer on an integer column.
struct EqConstant {
  bool is_text = false;
  int64_t integer = 0;
  std::string text;
  bool operator==(const EqConstant&) const = default;
};

class DbfTableData {
 public:
  // Opens the file (for writing when allowed). Throws DbfError.
  explicit DbfTableData(const std::string& path);

  const std::string& path() const { return path_; }
  // False once the file's fields changed under it: the table can serve no
  // statement any more.
  bool Usable() const { return usable_; }
  // For a table lent to another connection: true when the file still has
  // the fields the table was made for (a new connection then keeps what was
  // decoded); the next Refresh looks at the file whatever the epoch.
  bool TakeOver();
  const std::vector<DbfField>& fields() const { return fields_; }
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  // The column of a field name (any letter case); -1 when none.
  int ColumnNamed(std::string_view name) const { return table_->FieldIndex(name); }
  ColumnKind Kind(int column) const { return columns_[column].kind; }

  // Catches up with the file when it changed since it was read: records
  // whose bytes changed are decoded again and appended records are decoded
  // (a table that only grew costs its new records). The file is looked at
  // once per `epoch` (the connection counts statements), so a join does not
  // stat the file once per outer row. Call before any other use in a
  // statement.
  //
  // A file whose modification time lies within the file system's timestamp
  // granularity of the moment it was looked at is "racy": another write in
  // that same granule would leave (inode, size, mtime) as they are. What was
  // read from a racy file is read again by the next statement; after the
  // engine's own write, by the first statement once the granule has passed
  // (a reading before then would be racy again, and reading at every
  // statement of a burst of writes would make the burst quadratic).
  void Refresh(uint64_t epoch);
  // Decodes the deletion marks and the columns of the mask that are not in
  // memory yet, in one pass over the file. Throws DbfError.
  void EnsureColumns(ColumnMask mask);
  bool ColumnLoaded(int column) const { return columns_[column].loaded; }
  // Counts the changes of a column that may give its texts other codes (or
  // drop its indexes): a code found for a text stays the text's while the
  // count stays.
  uint64_t ColumnChanges(int column) const { return columns_[column].changes; }

  // Rows (records, deleted ones included); row r is record r + 1.
  uint32_t RowCount() const { return rows_; }
  // REQUIRES: EnsureColumns was called since the last Refresh.
  bool IsDeleted(uint32_t row) const { return any_deleted_ && deleted_[row] != 0; }

  // REQUIRES: the column is loaded.
  bool IsNull(uint32_t row, int column) const {
    const Column& c = columns_[column];
    switch (c.kind) {
      case ColumnKind::kInteger: return c.ints[row] == kNullInteger;
      case ColumnKind::kReal: return c.nulls[row] != 0;
      default: return c.codes[row] == TextDictionary::kNone;
    }
  }
  int64_t Integer(uint32_t row, int column) const { return columns_[column].ints[row]; }
  double Real(uint32_t row, int column) const { return columns_[column].reals[row]; }
  // kText, kDate; REQUIRES: not NULL. Valid until the next write.
  std::string_view Text(uint32_t row, int column) const {
    const Column& c = columns_[column];
    return c.dict.At(c.codes[row]);
  }
  std::string Memo(uint32_t row, int column);

  // The key an equality with an integer or a text has on the column
  // (indexable columns only). Text is compared without trailing blanks, as
  // under collation RTRIM (so the rows found are those of RTRIM and a
  // superset of those of BINARY); date columns take the dates' other forms.
  EqKey IntegerKey(int column, int64_t value) const;
  EqKey TextKey(int column, std::string_view text) const;
  // REQUIRES: the column is loaded.
  bool Matches(uint32_t row, int column, const EqKey& key) const {
    const Column& c = columns_[column];
    if (key.kind == EqKey::kInteger) return c.ints[row] == key.integer;
    return key.kind == EqKey::kCode && c.codes[row] == key.code;
  }
  // The range of index.rows whose rows have the key.
  std::pair<uint32_t, uint32_t> Range(const EqIndex& index, const EqKey& key) const;
  // The rows holding the key, counted by the column's index when it exists
  // (the planner's estimate of a constant); nullopt without one.
  std::optional<double> KeyRows(int column, const EqKey& key) const;

  // True when an equality on the column can use an index (text, date and
  // integer columns).
  bool Indexable(int column) const;
  // Rows one key of the column is expected to have: exact when its index
  // exists, otherwise estimated from a sample of the column, so that the
  // planner can choose an index without building every candidate.
  double RowsPerKey(int column);
  // The equality index of a column, built on first use after a change
  // (loading the column if need be). Rows appended since it was built are
  // its tail (from EqIndex::covered on), read row by row by each look-up;
  // once the look-ups have read about as many tail rows as a new index
  // costs, the index is built again.
  std::shared_ptr<const EqIndex> Index(int column);
  // The equality index of a column over only the rows whose filter column
  // holds one constant (as an index on (filter, column) serves a join on
  // the column under a constant condition): a probe reads the rows that
  // pass the condition instead of every row of its key. Kept, with a tail,
  // as Index() keeps its indexes, until either column changes.
  //
  // When either column is not in memory and the indexed one holds integers,
  // the index is read from the records' bytes: the constant is compared
  // with the filter field's raw bytes and only the rows that hold it have
  // their key parsed, so neither column is decoded (nor loaded by this
  // call). Such an index never has a tail: rows appended since it was read
  // are read into it. The columns of `also` are loaded in the same pass
  // over the file.
  std::shared_ptr<const EqIndex> PartialIndex(int column, int filter_column,
                                              const EqConstant& filter, ColumnMask also = 0);

  // Writes. Values follow the column order. An insert keeps the indexes
  // (the new row is in their tail); an update drops those of the columns it
  // changed; a delete drops none (the readers skip deleted rows). Throw
  // DbfError on a value the field cannot hold, DbException on a primary-key
  // violation.
  uint32_t Insert(const std::vector<CellValue>& values);  // returns the row
  // A batch of writes (a statement, or a transaction of several): the file
  // is locked and its header written once for all of them, and its stamp is
  // taken once, at the end. Batches nest; the outermost end counts. Throws
  // DbfError when the header cannot be written.
  void BeginBatch() { ++batch_depth_; }
  void EndBatch();
  void Update(uint32_t row, const std::vector<CellValue>& values);
  void Delete(uint32_t row);

 private:
  // No N field of at most 18 digits reads as this.
  static constexpr int64_t kNullInteger = INT64_MIN;
  static_assert(kNullInteger == PackedVector<int64_t>::kNull &&
                TextDictionary::kNone == PackedVector<uint32_t>::kNull);

  struct Column {
    ColumnKind kind;
    int field;
    bool loaded = false;
    PackedVector<int64_t> ints;   // kInteger, kNullInteger for NULL
    std::vector<double> reals;    // kReal, with nulls
    std::vector<uint8_t> nulls;
    TextDictionary dict;          // kText, kDate, kMemo (the block pointer)
    PackedVector<uint32_t> codes;  // TextDictionary::kNone for NULL
    std::shared_ptr<const EqIndex> index;
    double rows_per_key = -1;     // planning estimate of this table version; -1: none yet
    uint64_t tail_reads = 0;      // rows of the index's tail read by look-ups since it was built
    uint64_t changes = 0;         // counts the changes that drop the column's indexes
    void Clear();
  };
  struct Partial {
    int column = 0;
    int filter_column = 0;
    EqConstant filter;
    uint64_t column_changes = 0;
    uint64_t filter_changes = 0;
    std::shared_ptr<const EqIndex> index;
    uint64_t tail_reads = 0;
  };
  class ColumnDecoder;
  class PartialReader;
  // Called with the runs of records a pass over the file reads: the first
  // run's row, the records' bytes one after the other, their count.
  using RecordRuns = std::function<void(uint32_t, const char*, uint32_t)>;
  struct FileStamp {
    ino_t inode = 0;
    off_t size = -1;
    int64_t mtime_ns = -1;
    bool operator==(const FileStamp&) const = default;
  };
  enum class Racy { kNo, kNextStatement, kAfterGranule };

  // The file's stamp; `now` receives the clock read just before it.
  FileStamp Stamp(int64_t* now) const;
  void TakeStamp();
  void Reopen();
  void OpenAgain();
  // Forgets everything decoded.
  void Reset();
  void Reload();
  // A field's value: N and L fields as integers, others as a code of the
  // column's dictionary.
  static std::optional<int64_t> IntegerOf(const DbfField& f, std::string_view raw);
  static uint32_t CodeOf(ColumnKind kind, std::string_view raw, TextDictionary& dict);
  // The column's value of the record: into the end of its vectors (Push) or
  // in place of row's; true when the value changed.
  void Push(Column& c, std::string_view record);
  bool Replace(Column& c, uint32_t row, std::string_view record);
  std::string_view FieldBytes(const Column& c, std::string_view record) const {
    return record.substr(table_->FieldOffset(c.field), table_->Field(c.field).width);
  }
  // Whether the partial index of these columns is read from the records'
  // bytes (an integer key, and either column not in memory).
  bool ReadFromBytes(int column, int filter_column) const {
    return columns_[column].kind == ColumnKind::kInteger &&
           !(columns_[column].loaded && columns_[filter_column].loaded);
  }
  // An integer column's value of raw field bytes.
  static int64_t IntegerField(const DbfField& f, const char* raw);
  // EnsureColumns, also handing every record to `also` in the same pass.
  void LoadColumns(ColumnMask mask, const RecordRuns* also);
  // A partial index read from the records' bytes from earlier->covered on,
  // the rows of `earlier` (when given) kept.
  std::shared_ptr<EqIndex> ReadPartialIndex(int column, int filter_column,
                                            const EqConstant& filter, const EqIndex* earlier,
                                            ColumnMask also);
  void AppendDecoded(std::string_view record);
  bool RedecodeRow(uint32_t row, std::string_view record);  // true when it changed
  bool RedecodeRows(uint32_t first, const char* bytes, uint32_t n);  // n records from row first
  void AssignValue(int column, const CellValue& value);
  // Builds the equality index of the loaded column over the rows `keep`
  // accepts.
  template <typename Keep>
  std::shared_ptr<EqIndex> BuildIndex(const Column& c, Keep keep) const;
  // Whether an index covering up to index.covered may still serve after
  // `tail_reads` look-ups' worth of tail rows; counts this look-up's tail.
  bool TailAffordable(const EqIndex& index, uint64_t& tail_reads) const;
  ColumnMask KeyMask() const;
  std::string KeyPart(uint32_t row, int column) const;
  std::string KeyOf(uint32_t row) const;
  std::string KeyOfValues(const std::vector<CellValue>& values, uint32_t row) const;
  void BuildKeySet();
  void AfterWrite();
  void BeforeWrite();  // joins the file's batch when one is open

  std::string path_;
  std::unique_ptr<DbfTable> table_;
  std::vector<Column> columns_;
  std::vector<Partial> partials_;  // the most recently built first
  std::vector<DbfField> fields_;  // as at the first opening
  bool usable_ = true;
  std::vector<bool> deleted_;
  // Whether any row was marked deleted since the marks were read: most
  // tables have none, and a probe then reads no mark (a cache miss each in
  // a large table).
  bool any_deleted_ = false;
  bool deleted_loaded_ = false;
  // Checksums of each whole block of kHashBlock records, taken with the
  // deletion marks when columns are decoded with them, else by the first
  // reading after a change.
  static constexpr uint32_t kHashBlock = 256;
  std::vector<uint64_t> block_hashes_;
  // Rows the checksums cover: the whole blocks, then the checksum of the
  // records after them (tail_hash_). Rows the engine appended since are not
  // covered.
  uint32_t hashed_rows_ = 0;
  uint64_t tail_hash_ = 0;
  uint32_t rows_ = 0;
  bool valid_ = false;      // rows_ and stamp_ describe the file
  bool fresh_open_ = true;  // table_ was just opened and read nothing yet
  FileStamp stamp_;
  Racy racy_ = Racy::kNo;
  int64_t racy_until_ns_ = 0;  // end of the stamp's granule (kAfterGranule)
  uint64_t checked_epoch_ = 0;

  int batch_depth_ = 0;
  bool batch_wrote_ = false;  // a write of the batch awaits AfterWrite

  std::string key_name_;
  std::vector<int> key_columns_;  // primary key; empty when none
  std::optional<std::unordered_set<std::string>> key_set_;
};

}  // namespace vigilo::sql
