// DbfTable: one open dBase III or dBase IV table (.dbf, with its .dbt memo
// file when it has memo fields). It reads and writes the file format exactly as
// other dBase tools do, so the defect-tracking product, GDAL and the ODBC dBase
// driver read what it writes and it reads what they write.
//
// Conventions of this interface:
//   - field positions are 0-based (field 1 of a table is Field(0));
//   - record numbers are 1-based, as RECNO() counts them; 0 means "none";
//   - texts are single-byte and pass through unchanged (no code-page change);
//   - every failure throws DbfError with a message naming the file and fault.
//
// Sharing: the file may be written by another program while this one reads.
// The record count is re-read from the header on open, by RecordCount(), and
// whenever a read asks for a record past the count known so far. Appending,
// rewriting, deleting and packing hold an advisory write lock (fcntl, whole
// file) for the duration of the write. Readers take no lock.
//
// The table roles of the rule engine map onto this class as: open data file =
// Open, close = Close (or destruction), create data file = Create, first /
// last / skip = GoFirst / GoLast / Skip (true where the roles answer 0),
// field at position = the 0-based index (FieldIndex for a name), field text,
// field long, assign text, assign long, append start / write, flush, delete
// record, pack, tag by name and select tag under their own names. Queries
// over one table (relations) are DbfQuery.
//
// Thread safety: a DbfTable is used by one thread at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/dbf_error.h"
#include "platform/xbase/dbf_file_io.h"

namespace vigilo {

class DbfMemoFile;
class XbaseExpression;

// One field descriptor. type is one of 'C' (character), 'N' (numeric),
// 'F' (float, numeric in text form), 'D' (date, CCYYMMDD), 'L' (logical) and
// 'M' (memo: a block number into the .dbt file). name keeps its letter case.
struct DbfField {
  std::string name;  // at most 10 characters
  char type = 'C';
  uint8_t width = 1;     // bytes in the record
  uint8_t decimals = 0;  // digits after the point, N and F only
  bool operator==(const DbfField&) const = default;
};

// The file layouts this library writes. Both produce a .dbf that dBase III,
// dBase IV and their successors read; they differ in the version byte of a
// table with memo fields (0x83 / 0x8B) and in the .dbt block layout.
enum class DbfVersion {
  kDbase3,  // version byte 0x03, or 0x83 with memo; dBase III memo blocks
  kDbase4,  // version byte 0x03, or 0x8B with memo; dBase IV memo blocks
};

class DbfTable {
 public:
  // Opens an existing table. writable asks for read-write access (needed by
  // every Assign*/Append*/Delete*/Pack call). The .dbt memo file, when the
  // table has memo fields, is opened on first use; a missing .dbt is an error
  // only when a memo is read or written. A production-index flag in the header
  // is accepted and the index file ignored (tags are built in memory).
  // Throws DbfError when the file cannot be opened or is malformed.
  static std::unique_ptr<DbfTable> Open(const std::string& path, bool writable);

  // Creates a new, empty table (replacing an existing file of that name) and
  // returns it open for writing. tags names the fields that serve as sort tags;
  // each must name a non-memo field (see TagByName). A table with memo fields
  // also gets an empty .dbt of the chosen layout. Throws DbfError on an invalid
  // field list (name longer than 10 or duplicated, unknown type, impossible
  // width) or when the file cannot be written.
  static std::unique_ptr<DbfTable> Create(const std::string& path,
                                          const std::vector<DbfField>& fields,
                                          DbfVersion version = DbfVersion::kDbase4,
                                          const std::vector<std::string>& tags = {});

  // Writes a pending change of the current record (a record started with
  // AppendStart but not written by AppendWrite is dropped), then closes the
  // files.
  // Errors of that last write are swallowed by the destructor; call Close()
  // (or FlushDataFile()) first to see them.
  ~DbfTable();
  void Close();

  DbfTable(const DbfTable&) = delete;
  DbfTable& operator=(const DbfTable&) = delete;

  // --- Description -------------------------------------------------------
  const std::string& path() const { return path_; }
  bool writable() const { return writable_; }
  uint8_t version_byte() const { return version_byte_; }
  DbfVersion version() const;
  bool has_memo_fields() const;
  bool announces_production_index() const { return production_index_; }
  uint16_t header_length() const { return header_length_; }
  uint16_t record_length() const { return record_length_; }
  // The header's last-update date as CCYYMMDD.
  std::string LastUpdate() const;

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  const DbfField& Field(int index) const;  // REQUIRES: 0 <= index < FieldCount()
  const std::vector<DbfField>& Fields() const { return fields_; }
  // Byte offset of the field inside a record (the deletion flag is byte 0).
  size_t FieldOffset(int index) const { return offsets_.at(index); }
  // Position of the field whose name equals name without regard to letter
  // case (surrounding blanks ignored); -1 when there is none.
  int FieldIndex(std::string_view name) const;

  // The number of records, freshly read from the header (a count that grew
  // since the last look is taken; a count past the end of the file is cut to
  // the whole records present, as another writer may be mid-append).
  uint32_t RecordCount();

  // --- Direct record access (used by the SQL engine) ---------------------
  // Makes record recno current, whether deleted or not. Returns false (and
  // leaves no current record) when recno is 0 or past the record count.
  // A pending change of the previous current record is written first.
  bool Read(uint32_t recno);
  uint32_t RecNo() const { return recno_; }  // 0 when no record is current
  bool IsDeleted() const;                    // REQUIRES: a current record

  // Field values of the current record (REQUIRES: a current record).
  std::string_view Raw(int index) const;  // the stored bytes, blank-padded
  // Character value with trailing blanks removed; for other types the stored
  // text with blanks at both ends removed; memo: the memo text.
  std::string Text(int index);
  // Numeric value of an N or F field (or of the leading number of any other
  // field); nullopt when the field is blank.
  std::optional<double> Number(int index) const;
  // Logical field: T/t/Y/y true, F/f/N/n false, anything else nullopt.
  std::optional<bool> Logical(int index) const;
  // Whole memo text ("" when the field holds no block). Throws DbfError when
  // the pointer lies outside the .dbt or the .dbt is missing.
  std::string Memo(int index);

  // Assignment to the current record (or to the record being appended). The
  // change is written by Update(), AppendWrite(), FlushDataFile(), by moving
  // to another record, or on Close(). REQUIRES: writable.
  //   C: cut or blank-padded to the width.  N/F: a number text is reformatted
  //   right-aligned with the field's decimals; blank text stores blanks.
  //   D: "CCYYMMDD" or blank.  L: first character (T/F/Y/N/?).  M: memo text.
  // Throws DbfError on a value that does not fit the field (number too wide,
  // bad date, non-numeric text for N/F).
  void AssignText(int index, std::string_view value);
  void AssignLong(int index, long value);
  void AssignNumber(int index, double value);
  void AssignLogical(int index, bool value);
  void AssignBlank(int index);
  // Writes the current record now if it has pending changes.
  void Update();

  // A batch of writes: from BeginBatch to EndBatch the write lock is held
  // once for all records rewritten, appended or deleted, and the header's
  // record count and date are written once, at EndBatch, not at every write
  // (the records appended so far are past the count other readers see until
  // then, as during any append). Pack ends a batch; Close ends it too.
  void BeginBatch();
  void EndBatch();
  bool InBatch() const { return batch_lock_ != nullptr; }

  // --- The table roles of the rule engine --------------------------------
  // Record order or, after SelectTag, the tag's order. Deleted records are
  // skipped unless ShowDeleted(true). Each returns true when positioned on a
  // record, false at the end (no current record then).
  bool GoFirst();
  bool GoLast();
  bool Skip(long count = 1);
  bool Eof() const { return recno_ == 0; }
  void ShowDeleted(bool show) { show_deleted_ = show; }

  // Blank-padded text of the field (the whole stored width; memo: the memo
  // text) and its contents as a whole number (leading number, 0 when blank).
  std::string FieldText(int index);
  long FieldLong(int index) const;

  // Starts a new blank record to fill with Assign*; AppendWrite adds it at the
  // end of the file (under the write lock, after re-reading the count) and
  // makes it current. Returns the new record number. Moving to a record
  // (Read, GoFirst, ...) between the two drops the started record unwritten.
  void AppendStart();
  uint32_t AppendWrite();
  // Writes pending changes of the current record and syncs both files.
  void FlushDataFile();
  // Marks the current record deleted (or no longer deleted) on disk now.
  void DeleteRecord();
  void RecallRecord();
  // Removes deleted records from the file (memo blocks of removed records
  // stay unused in the .dbt). Leaves no current record.
  void PackDataFile();

  // Tags: every non-memo field serves as a sort tag named like the field.
  // TagByName returns the tag (the field's position) or -1; SelectTag(-1)
  // returns to record order. Keys are compared as dBase sorts them: character
  // fields byte-wise, N/F numerically (blank first), D by CCYYMMDD; equal keys
  // keep record order. The order is rebuilt at GoFirst/GoLast.
  int TagByName(std::string_view name) const;
  void SelectTag(int tag);
  int SelectedTag() const { return tag_; }

  // --- For the expression evaluator and queries ---------------------------
  // The current record's bytes (record_length() bytes, deletion flag first).
  std::string_view RecordBytes() const { return record_; }
  // Memo text of a stored block pointer (the 10 bytes of a memo field).
  std::string MemoAt(std::string_view pointer_field);
  // Calls visit(recno, bytes) for records from..last (at most the count last
  // read by RecordCount) in record order, whether deleted or not, reading the
  // file in large blocks; stops early when visit returns false.
  template <typename Visit>
  void Scan(uint32_t from, uint32_t last, Visit&& visit);
  bool showing_deleted() const { return show_deleted_; }
  // Records the read cache holds at once; a scan that stops at the end of a
  // block and then reads its matches reads each block once.
  uint32_t RecordsPerBlock() const { return ScanBlockCount(); }
  // The same records a block at a time: visit(first recno, bytes of count
  // records one after the other, count) -> bool (false stops). The bytes
  // stay valid until the visit returns.
  template <typename VisitBlock>
  void ScanBlocks(uint32_t from, uint32_t last, VisitBlock&& visit);

 private:
  DbfTable() = default;
  void ReadHeader();
  void RequireWritable(const char* what) const;
  void RequireCurrent(const char* what) const;
  const char* FetchRecord(uint32_t recno);  // into the block cache; null past end
  void ReadBlock(uint32_t first);
  void WritePending();
  void WriteRecordLocked(uint32_t recno);
  void WriteHeaderCountAndDate(uint32_t count);
  void StoreMemos();
  DbfMemoFile& Memos();
  std::string MemoPath() const;
  uint32_t ReadHeaderCount();
  bool PositionAt(size_t order_pos, int direction);
  void BuildOrder();
  uint32_t ScanBlockCount() const;
  [[noreturn]] void Fail(const std::string& detail) const;

  std::string path_;
  UniqueFd fd_;
  bool writable_ = false;
  uint8_t version_byte_ = 0x03;
  bool production_index_ = false;
  uint16_t header_length_ = 0;
  uint16_t record_length_ = 0;
  uint32_t record_count_ = 0;
  uint64_t file_size_ = 0;
  std::vector<DbfField> fields_;
  std::vector<size_t> offsets_;
  std::unique_ptr<DbfMemoFile> memo_;
  std::unique_ptr<DbfWriteLock> batch_lock_;  // held from BeginBatch to EndBatch
  uint32_t batch_count_ = 0;                   // records in the file during a batch
  bool batch_header_ = false;                  // the header's count and date are due

  uint32_t recno_ = 0;         // current record, 0 = none
  bool appending_ = false;     // record_ is a new record not yet written
  bool changed_ = false;       // record_ differs from the file
  std::string record_;         // current record bytes
  std::map<int, std::string> pending_memos_;  // memo texts not yet stored

  std::string block_;          // read cache: consecutive records
  uint32_t block_first_ = 0;   // record number of the first cached record
  uint32_t block_count_ = 0;

  bool show_deleted_ = false;
  int tag_ = -1;
  std::vector<uint32_t> order_;  // record numbers in tag order
  size_t order_pos_ = 0;
  bool order_pos_known_ = true;  // false after Read() in tag order
};

template <typename Visit>
void DbfTable::Scan(uint32_t from, uint32_t last, Visit&& visit) {
  if (last > record_count_) last = record_count_;
  for (uint32_t recno = from == 0 ? 1 : from; recno <= last;) {
    if (FetchRecord(recno) == nullptr) return;
    uint32_t end = block_first_ + block_count_;
    for (; recno < end && recno <= last; ++recno) {
      if (!visit(recno, std::string_view(
                            block_.data() + size_t(recno - block_first_) * record_length_,
                            record_length_))) {
        return;
      }
    }
  }
}

template <typename VisitBlock>
void DbfTable::ScanBlocks(uint32_t from, uint32_t last, VisitBlock&& visit) {
  if (last > record_count_) last = record_count_;
  for (uint32_t recno = from == 0 ? 1 : from; recno <= last;) {
    const char* bytes = FetchRecord(recno);
    if (bytes == nullptr) return;
    uint32_t count = std::min(block_first_ + block_count_, last + 1) - recno;
    if (!visit(recno, bytes, count)) return;
    recno += count;
  }
}

}  // namespace vigilo
