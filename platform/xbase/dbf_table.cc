// Opening, header checks, record reading, navigation and tags of DbfTable.
// Writing (create, assign, append, delete, pack) is in dbf_table_write.cc.
#include "platform/xbase/dbf_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/format.h"
#include "common/text.h"
#include "platform/xbase/dbf_memo_file.h"
#include "platform/xbase/dbf_table_format.h"

namespace vigilo {

using dbf_format::Le16;
using dbf_format::Le32;

namespace {

// Records read at once by sequential reads and scans: small enough to stay
// in the processor's second-level cache between the read and the evaluation,
// large enough that the read calls cost little beside the copy (at 128 KB
// and less the calls' own cost shows in a filtered scan).
constexpr size_t kBlockBytes = 256 * 1024;

bool IsKnownVersion(uint8_t version) {
  switch (version) {
    case 0x03:  // dBase III / IV without memo
    case 0x83:  // dBase III with memo
    case 0x8B:  // dBase IV with memo
    case 0xCB:  // dBase IV SQL table with memo
    case 0x43:  // dBase IV SQL table
    case 0x63:  // dBase IV SQL system table
      return true;
    default:
      return false;
  }
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::unique_ptr<DbfTable> DbfTable::Open(const std::string& path, bool writable) {
  std::unique_ptr<DbfTable> table(new DbfTable());
  table->path_ = path;
  table->writable_ = writable;
  table->fd_.reset(Files().Open(path, (writable ? O_RDWR : O_RDONLY)));
  if (table->fd_.get() < 0) ThrowErrno(path, "cannot open the table");
  table->ReadHeader();
  return table;
}

DbfTable::~DbfTable() {
  try {
    Close();
  } catch (const DbfError&) {
    // Documented: Close() or FlushDataFile() report this write's failure.
  }
}

void DbfTable::Close() {
  if (fd_.get() < 0) return;
  WritePending();
  EndBatch();
  memo_.reset();
  fd_.reset();
}

void DbfTable::Fail(const std::string& detail) const {
  throw DbfError(path_ + ": " + detail);
}

void DbfTable::ReadHeader() {
  file_size_ = FileSize(fd_.get(), path_);
  if (file_size_ < dbf_format::kFileHeaderSize) {
    Fail(Format("file is too short for a dBase header (%llu bytes)",
                static_cast<unsigned long long>(file_size_)));
  }
  char head[dbf_format::kFileHeaderSize];
  ReadAt(fd_.get(), path_, 0, head, sizeof head);
  version_byte_ = static_cast<uint8_t>(head[0]);
  if (!IsKnownVersion(version_byte_)) {
    Fail(Format("not a dBase III or IV table (version byte 0x%02X)", version_byte_));
  }
  uint32_t count = Le32(head + 4);
  header_length_ = Le16(head + 8);
  record_length_ = Le16(head + 10);
  production_index_ = head[28] != 0;
  if (header_length_ < dbf_format::kFileHeaderSize + dbf_format::kDescriptorSize + 1) {
    Fail(Format("header length %u is too small for one field", header_length_));
  }
  if (header_length_ > file_size_) {
    Fail(Format("header length %u lies past the end of the file (%llu bytes)",
                header_length_, static_cast<unsigned long long>(file_size_)));
  }
  std::string header(header_length_, '\0');
  ReadAt(fd_.get(), path_, 0, header.data(), header.size());

  fields_.clear();
  offsets_.clear();
  size_t offset = 1;  // byte 0 of a record is the deletion flag
  size_t pos = dbf_format::kFileHeaderSize;
  while (true) {
    if (pos >= header.size()) Fail("field descriptor list has no terminator");
    if (header[pos] == dbf_format::kHeaderTerminator) break;
    if (pos + dbf_format::kDescriptorSize > header.size()) {
      Fail("field descriptor list has no terminator");
    }
    const char* d = header.data() + pos;
    DbfField field;
    size_t name_length = 0;
    while (name_length < 11 && d[name_length] != '\0') ++name_length;
    field.name = TrimmedRight(std::string_view(d, name_length));
    field.type = d[11];
    field.width = static_cast<uint8_t>(d[16]);
    field.decimals = static_cast<uint8_t>(d[17]);
    if (std::string_view("CNFDLM").find(field.type) == std::string_view::npos ||
        field.type == '\0') {
      Fail(Format("field %zu (%s) has the unsupported type '%c' (0x%02X)", fields_.size() + 1,
                  field.name.c_str(), field.type >= 32 && field.type < 127 ? field.type : '?',
                  static_cast<uint8_t>(field.type)));
    }
    if (field.width == 0) {
      Fail(Format("field %zu (%s) has width 0", fields_.size() + 1, field.name.c_str()));
    }
    fields_.push_back(field);
    offsets_.push_back(offset);
    offset += field.width;
    pos += dbf_format::kDescriptorSize;
  }
  if (fields_.empty()) Fail("table has no fields");
  if (offset != record_length_) {
    Fail(Format("record length %u in the header does not match the fields (%zu bytes)",
                record_length_, offset));
  }
  uint64_t whole = (file_size_ - header_length_) / record_length_;
  if (count > whole) {
    Fail(Format("header states %u records but the file holds only %llu",
                static_cast<unsigned>(count), static_cast<unsigned long long>(whole)));
  }
  record_count_ = count;
  record_.assign(record_length_, ' ');
}

DbfVersion DbfTable::version() const {
  return version_byte_ == 0x8B || version_byte_ == 0xCB ? DbfVersion::kDbase4
                                                         : DbfVersion::kDbase3;
}

bool DbfTable::has_memo_fields() const {
  return std::any_of(fields_.begin(), fields_.end(),
                     [](const DbfField& f) { return f.type == 'M'; });
}

std::string DbfTable::LastUpdate() const {
  char head[4];
  ReadAt(fd_.get(), path_, 0, head, 4);
  return Format("%04d%02d%02d", 1900 + static_cast<uint8_t>(head[1]),
                static_cast<uint8_t>(head[2]), static_cast<uint8_t>(head[3]));
}

const DbfField& DbfTable::Field(int index) const { return fields_.at(index); }

int DbfTable::FieldIndex(std::string_view name) const {
  std::string wanted = Trimmed(name);
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (EqualsNoCase(fields_[i].name, wanted)) return static_cast<int>(i);
  }
  return -1;
}

uint32_t DbfTable::ReadHeaderCount() {
  char count[4];
  if (ReadAt(fd_.get(), path_, 4, count, 4) < 4) Fail("header is truncated");
  return Le32(count);
}

uint32_t DbfTable::RecordCount() {
  // Holding the batch's lock, this table is the file's only writer.
  if (batch_lock_) {
    record_count_ = batch_count_;
    return record_count_;
  }
  uint32_t count = ReadHeaderCount();
  file_size_ = FileSize(fd_.get(), path_);
  uint64_t whole =
      file_size_ > header_length_ ? (file_size_ - header_length_) / record_length_ : 0;
  record_count_ = static_cast<uint32_t>(std::min<uint64_t>(count, whole));
  return record_count_;
}

uint32_t DbfTable::ScanBlockCount() const {
  return static_cast<uint32_t>(std::max<size_t>(1, kBlockBytes / record_length_));
}

void DbfTable::ReadBlock(uint32_t first) {
  uint32_t wanted = std::min(ScanBlockCount(), record_count_ - first + 1);
  block_.resize(size_t(wanted) * record_length_);
  size_t got = ReadAt(fd_.get(), path_,
                      header_length_ + uint64_t(first - 1) * record_length_, block_.data(),
                      block_.size());
  block_first_ = first;
  block_count_ = static_cast<uint32_t>(got / record_length_);
}

const char* DbfTable::FetchRecord(uint32_t recno) {
  if (recno == 0) return nullptr;
  if (recno >= block_first_ && recno < block_first_ + block_count_) {
    return block_.data() + size_t(recno - block_first_) * record_length_;
  }
  if (recno > record_count_ && recno > RecordCount()) return nullptr;
  ReadBlock(recno);
  if (block_count_ == 0) return nullptr;
  return block_.data();
}

bool DbfTable::Read(uint32_t recno) {
  if (appending_ || changed_) WritePending();
  appending_ = false;
  // A query makes its matches current one after the other, mostly from the
  // block already cached.
  const char* bytes = recno - block_first_ < block_count_ && recno != 0
                          ? block_.data() + size_t(recno - block_first_) * record_length_
                          : FetchRecord(recno);
  if (bytes == nullptr) {
    recno_ = 0;
    return false;
  }
  if (record_.size() == record_length_) {
    // A scan makes many short records current in turn: copied in fixed-size
    // pieces the compiler inlines rather than by a library call each, the
    // last piece ending at the record's end (overlapping the one before).
    char* to = record_.data();
    const size_t n = record_length_;
    if (n >= 32) {
      for (size_t i = 0; i + 32 < n; i += 32) std::memcpy(to + i, bytes + i, 32);
      std::memcpy(to + n - 32, bytes + n - 32, 32);
    } else if (n >= 8) {
      for (size_t i = 0; i + 8 < n; i += 8) std::memcpy(to + i, bytes + i, 8);
      std::memcpy(to + n - 8, bytes + n - 8, 8);
    } else {
      for (size_t i = 0; i < n; ++i) to[i] = bytes[i];
    }
  } else {
    record_.assign(bytes, record_length_);
  }
  recno_ = recno;
  if (tag_ < 0) {
    order_pos_ = recno - 1;
  } else {
    order_pos_known_ = false;  // found by Skip only when it is needed
  }
  return true;
}

void DbfTable::RequireCurrent(const char* what) const {
  if (recno_ == 0 && !appending_) Fail(Format("%s: no current record", what));
}

bool DbfTable::IsDeleted() const {
  RequireCurrent("IsDeleted");
  return record_[0] == '*';
}

std::string_view DbfTable::Raw(int index) const {
  RequireCurrent("field read");
  return std::string_view(record_).substr(offsets_.at(index), fields_.at(index).width);
}

std::string DbfTable::Text(int index) {
  const DbfField& field = Field(index);
  if (field.type == 'M') return Memo(index);
  if (field.type == 'C') return TrimmedRight(Raw(index));
  return Trimmed(Raw(index));
}

std::string DbfTable::FieldText(int index) {
  if (Field(index).type == 'M') return Memo(index);
  return std::string(Raw(index));
}

long DbfTable::FieldLong(int index) const { return LeadingNumber(Raw(index)); }

std::optional<double> DbfTable::Number(int index) const {
  std::string text = Trimmed(Raw(index));
  if (text.empty()) return std::nullopt;
  const char* begin = text.data();
  if (*begin == '+') ++begin;
  double value = 0;
  auto result = std::from_chars(begin, text.data() + text.size(), value);
  if (result.ec != std::errc()) return std::nullopt;
  return value;
}

std::optional<bool> DbfTable::Logical(int index) const {
  switch (Raw(index)[0]) {
    case 'T': case 't': case 'Y': case 'y':
      return true;
    case 'F': case 'f': case 'N': case 'n':
      return false;
    default:
      return std::nullopt;
  }
}

std::string DbfTable::MemoPath() const {
  std::string base = path_;
  size_t dot = base.find_last_of("./");
  bool has_ext = dot != std::string::npos && base[dot] == '.';
  bool upper = has_ext && dot + 1 < base.size() && std::isupper(static_cast<unsigned char>(base[dot + 1]));
  if (has_ext) base.erase(dot);
  std::string first = base + (upper ? ".DBT" : ".dbt");
  std::string second = base + (upper ? ".dbt" : ".DBT");
  return FileExists(first) || !FileExists(second) ? first : second;
}

DbfMemoFile& DbfTable::Memos() {
  if (!memo_) {
    std::string memo_path = MemoPath();
    if (!FileExists(memo_path)) Fail(Format("memo file %s is missing", memo_path.c_str()));
    DbtLayout layout = version() == DbfVersion::kDbase4 ? DbtLayout::kDbase4
                                                         : DbtLayout::kDbase3;
    memo_ = DbfMemoFile::Open(memo_path, writable_, layout);
  }
  return *memo_;
}

std::string DbfTable::MemoAt(std::string_view pointer_field) {
  std::string digits = Trimmed(pointer_field);
  if (digits.empty()) return std::string();
  uint32_t block = 0;
  auto result = std::from_chars(digits.data(), digits.data() + digits.size(), block);
  if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) {
    Fail(Format("memo pointer '%s' is not a block number", digits.c_str()));
  }
  if (block == 0) return std::string();
  return Memos().Read(block);
}

std::string DbfTable::Memo(int index) {
  if (Field(index).type != 'M') Fail(Format("field %s is not a memo field", Field(index).name.c_str()));
  auto pending = pending_memos_.find(index);
  if (pending != pending_memos_.end()) return pending->second;
  return MemoAt(Raw(index));
}

// ---- navigation -----------------------------------------------------------

bool DbfTable::PositionAt(size_t pos, int direction) {
  size_t size = tag_ < 0 ? record_count_ : order_.size();
  while (pos < size) {
    uint32_t recno = tag_ < 0 ? static_cast<uint32_t>(pos + 1) : order_[pos];
    const char* bytes = FetchRecord(recno);
    if (bytes == nullptr) break;
    if (show_deleted_ || bytes[0] != '*') {
      record_.assign(bytes, record_length_);
      recno_ = recno;
      order_pos_ = pos;
      order_pos_known_ = true;
      return true;
    }
    if (direction < 0 && pos == 0) break;
    pos += direction;
  }
  recno_ = 0;
  return false;
}

bool DbfTable::GoFirst() {
  WritePending();
  appending_ = false;
  block_count_ = 0;  // another program may have written since
  RecordCount();
  if (tag_ >= 0) BuildOrder();
  return PositionAt(0, +1);
}

bool DbfTable::GoLast() {
  WritePending();
  appending_ = false;
  block_count_ = 0;
  RecordCount();
  if (tag_ >= 0) BuildOrder();
  size_t size = tag_ < 0 ? record_count_ : order_.size();
  if (size == 0) {
    recno_ = 0;
    return false;
  }
  return PositionAt(size - 1, -1);
}

bool DbfTable::Skip(long count) {
  if (recno_ == 0) return false;
  WritePending();
  if (!order_pos_known_) {
    auto it = std::find(order_.begin(), order_.end(), recno_);
    order_pos_ = it == order_.end() ? order_.size() : size_t(it - order_.begin());
    order_pos_known_ = true;
  }
  int direction = count < 0 ? -1 : 1;
  for (long step = 0; step < std::labs(count); ++step) {
    if (direction < 0 && order_pos_ == 0) {
      recno_ = 0;
      return false;
    }
    if (!PositionAt(order_pos_ + direction, direction)) return false;
  }
  return true;
}

int DbfTable::TagByName(std::string_view name) const {
  int index = FieldIndex(name);
  return index >= 0 && fields_[index].type != 'M' ? index : -1;
}

void DbfTable::SelectTag(int tag) {
  if (tag >= FieldCount() || (tag >= 0 && fields_[tag].type == 'M')) {
    Fail(Format("no tag number %d", tag));
  }
  tag_ = tag < 0 ? -1 : tag;
  order_.clear();
  if (tag_ >= 0) {
    RecordCount();
    BuildOrder();
  }
}

void DbfTable::BuildOrder() {
  const DbfField& field = fields_[tag_];
  size_t offset = offsets_[tag_];
  order_.clear();
  order_.reserve(record_count_);
  if (field.type == 'N' || field.type == 'F') {
    std::vector<std::pair<double, uint32_t>> keys;
    keys.reserve(record_count_);
    Scan(1, record_count_, [&](uint32_t recno, std::string_view bytes) {
      std::string text = Trimmed(bytes.substr(offset, field.width));
      double value = -HUGE_VAL;
      if (!text.empty()) {
        const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
        std::from_chars(begin, text.data() + text.size(), value);
      }
      keys.emplace_back(value, recno);
      return true;
    });
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& key : keys) order_.push_back(key.second);
  } else {
    std::vector<std::pair<std::string, uint32_t>> keys;
    keys.reserve(record_count_);
    Scan(1, record_count_, [&](uint32_t recno, std::string_view bytes) {
      keys.emplace_back(std::string(bytes.substr(offset, field.width)), recno);
      return true;
    });
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& key : keys) order_.push_back(key.second);
  }
}

}  // namespace vigilo
