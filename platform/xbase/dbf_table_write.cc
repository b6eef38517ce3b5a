// Writing side of DbfTable: creating a table, assigning field values,
// appending, rewriting, deleting and packing records. Every change of the file
// happens under the advisory write lock, after re-reading the record count, so
// records another program appended meanwhile are neither lost nor overwritten.
#include "platform/xbase/dbf_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>
#include <optional>
#include <set>

#include "common/format.h"
#include "common/text.h"
#include "platform/xbase/dbf_memo_file.h"
#include "platform/xbase/dbf_table_format.h"

namespace vigilo {

namespace fmt = dbf_format;

namespace {

// Today's date in the header's three bytes (year - 1900, month, day).
std::string HeaderDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::string date(3, '\0');
  date[0] = static_cast<char>(std::min(local.tm_year, 255));
  date[1] = static_cast<char>(local.tm_mon + 1);
  date[2] = static_cast<char>(local.tm_mday);
  return date;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

bool ValidFieldName(std::string_view name) {
  if (name.empty() || name.size() > 10) return false;
  if (std::isdigit(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

// Checks one field of a new table and fixes the widths the format fixes.
DbfField CheckNewField(const std::string& path, DbfField field) {
  auto fail = [&](const std::string& detail) {
    throw DbfError(Format("%s: field %s: %s", path.c_str(), field.name.c_str(), detail.c_str()));
  };
  if (!ValidFieldName(field.name)) {
    fail("a field name has 1 to 10 letters, digits or underscores and starts with no digit");
  }
  field.type = static_cast<char>(std::toupper(static_cast<unsigned char>(field.type)));
  switch (field.type) {
    case 'C':
      if (field.width == 0) fail("a character field is 1 to 255 wide");
      field.decimals = 0;
      break;
    case 'N':
    case 'F':
      if (field.width == 0 || field.width > 20) fail("a numeric field is 1 to 20 wide");
      if (field.decimals > 0 && field.decimals + 2 > field.width) {
        fail("the decimals leave no room for the point and a digit");
      }
      break;
    case 'D':
      field.width = 8;
      field.decimals = 0;
      break;
    case 'L':
      field.width = 1;
      field.decimals = 0;
      break;
    case 'M':
      field.width = 10;
      field.decimals = 0;
      break;
    default:
      fail(Format("unsupported field type '%c'", field.type));
  }
  return field;
}

}  // namespace

std::unique_ptr<DbfTable> DbfTable::Create(const std::string& path,
                                           const std::vector<DbfField>& fields,
                                           DbfVersion version,
                                           const std::vector<std::string>& tags) {
  if (fields.empty()) throw DbfError(path + ": a table needs at least one field");
  std::vector<DbfField> checked;
  std::set<std::string> names;
  size_t record_length = 1;
  bool memo = false;
  for (const DbfField& field : fields) {
    checked.push_back(CheckNewField(path, field));
    if (!names.insert(ToUpper(field.name)).second) {
      throw DbfError(Format("%s: field %s appears twice", path.c_str(), field.name.c_str()));
    }
    record_length += checked.back().width;
    memo = memo || checked.back().type == 'M';
  }
  size_t header_length = fmt::kFileHeaderSize + fmt::kDescriptorSize * checked.size() + 1;
  if (record_length > 0xFFFF || header_length > 0xFFFF) {
    throw DbfError(path + ": the fields make a record or header longer than 65535 bytes");
  }
  for (const std::string& tag : tags) {
    auto field = std::find_if(checked.begin(), checked.end(), [&](const DbfField& f) {
      return EqualsNoCase(f.name, tag);
    });
    if (field == checked.end() || field->type == 'M') {
      throw DbfError(Format("%s: tag %s names no character, numeric, date or logical field",
                            path.c_str(), tag.c_str()));
    }
  }

  std::string file(header_length + 1, '\0');
  file[fmt::kVersionAt] = static_cast<char>(
      !memo ? 0x03 : version == DbfVersion::kDbase4 ? 0x8B : 0x83);
  file.replace(fmt::kUpdateDateAt, 3, HeaderDate());
  fmt::PutLe16(&file[fmt::kHeaderLengthAt], static_cast<uint16_t>(header_length));
  fmt::PutLe16(&file[fmt::kRecordLengthAt], static_cast<uint16_t>(record_length));
  size_t pos = fmt::kFileHeaderSize;
  for (const DbfField& field : checked) {
    file.replace(pos, field.name.size(), field.name);
    file[pos + fmt::kTypeAt] = field.type;
    file[pos + fmt::kWidthAt] = static_cast<char>(field.width);
    file[pos + fmt::kDecimalsAt] = static_cast<char>(field.decimals);
    pos += fmt::kDescriptorSize;
  }
  file[pos] = fmt::kHeaderTerminator;
  file[pos + 1] = fmt::kEndOfFile;

  {
    UniqueFd fd(OpenPrivateFile(path, O_RDWR | O_CREAT | O_TRUNC));
    if (fd.get() < 0) ThrowErrno(path, "cannot create the table");
    WriteAt(fd.get(), path, 0, file);
  }
  std::unique_ptr<DbfTable> table = Open(path, true);
  if (memo) {
    table->memo_ = DbfMemoFile::Create(
        table->MemoPath(), version == DbfVersion::kDbase4 ? DbtLayout::kDbase4 : DbtLayout::kDbase3,
        BaseName(path));
  }
  return table;
}

void DbfTable::RequireWritable(const char* what) const {
  if (!writable_) Fail(Format("%s: the table is open for reading only", what));
}

// ---- assignment -------------------------------------------------------------

void DbfTable::AssignText(int index, std::string_view value) {
  RequireWritable("AssignText");
  RequireCurrent("AssignText");
  const DbfField& field = Field(index);
  char* data = record_.data() + offsets_[index];
  switch (field.type) {
    case 'C': {
      std::string_view cut = value.substr(0, std::min<size_t>(value.size(), field.width));
      std::fill(data, data + field.width, ' ');
      std::copy(cut.begin(), cut.end(), data);
      break;
    }
    case 'N':
    case 'F': {
      std::string text = Trimmed(value);
      if (text.empty()) {
        AssignBlank(index);
        return;
      }
      const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
      double number = 0;
      auto result = std::from_chars(begin, text.data() + text.size(), number);
      if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        Fail(Format("'%s' is not a number for field %s", text.c_str(), field.name.c_str()));
      }
      AssignNumber(index, number);
      return;
    }
    case 'D': {
      std::string text = Trimmed(value);
      if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        text = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
      }
      bool digits = std::all_of(text.begin(), text.end(),
                                [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
      if (!text.empty() && (text.size() != 8 || !digits)) {
        Fail(Format("'%s' is not a CCYYMMDD date for field %s", text.c_str(), field.name.c_str()));
      }
      if (field.width != 8) {
        Fail(Format("date field %s is %u wide, not 8", field.name.c_str(), field.width));
      }
      text.resize(8, ' ');
      std::copy(text.begin(), text.end(), data);
      break;
    }
    case 'L': {
      std::string text = Trimmed(value);
      char c = text.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
      if (c == 'Y' || c == '1') c = 'T';
      if (c == 'N' || c == '0') c = 'F';
      if (c != 'T' && c != 'F' && c != '?' && c != ' ') {
        Fail(Format("'%s' is not a logical value for field %s", text.c_str(), field.name.c_str()));
      }
      *data = c;
      break;
    }
    case 'M':
      pending_memos_[index] = std::string(value);
      break;
  }
  changed_ = true;
}

void DbfTable::AssignNumber(int index, double value) {
  RequireWritable("AssignNumber");
  RequireCurrent("AssignNumber");
  const DbfField& field = Field(index);
  if (field.type != 'N' && field.type != 'F') {
    AssignText(index, std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e18
                          ? Format("%lld", static_cast<long long>(value))
                          : Format("%.15g", value));
    return;
  }
  if (!std::isfinite(value)) Fail(Format("field %s cannot hold an infinite number", field.name.c_str()));
  std::string text = Format("%*.*f", field.width, field.decimals, value);
  if (text.size() > field.width) {
    Fail(Format("%s does not fit field %s (width %u, %u decimals)", Trimmed(text).c_str(),
                field.name.c_str(), field.width, field.decimals));
  }
  std::copy(text.begin(), text.end(), record_.data() + offsets_[index]);
  changed_ = true;
}

void DbfTable::AssignLong(int index, long value) {
  const DbfField& field = Field(index);
  if ((field.type == 'N' || field.type == 'F') && field.decimals == 0) {
    RequireWritable("AssignLong");
    RequireCurrent("AssignLong");
    std::string text = Format("%*ld", field.width, value);
    if (text.size() > field.width) {
      Fail(Format("%ld does not fit field %s (width %u)", value, field.name.c_str(), field.width));
    }
    std::copy(text.begin(), text.end(), record_.data() + offsets_[index]);
    changed_ = true;
    return;
  }
  if (field.type == 'N' || field.type == 'F') {
    AssignNumber(index, static_cast<double>(value));
  } else {
    AssignText(index, Format("%ld", value));
  }
}

void DbfTable::AssignLogical(int index, bool value) { AssignText(index, value ? "T" : "F"); }

void DbfTable::AssignBlank(int index) {
  RequireWritable("AssignBlank");
  RequireCurrent("AssignBlank");
  const DbfField& field = Field(index);
  if (field.type == 'M') {
    pending_memos_[index].clear();
  } else {
    std::fill_n(record_.data() + offsets_[index], field.width, ' ');
  }
  changed_ = true;
}

// ---- writing records --------------------------------------------------------

void DbfTable::StoreMemos() {
  for (const auto& [index, text] : pending_memos_) {
    const DbfField& field = fields_[index];
    std::string pointer(field.width, ' ');
    if (!text.empty()) {
      if (field.width < 10) {
        Fail(Format("memo field %s is %u wide, too narrow for a block number",
                    field.name.c_str(), field.width));
      }
      pointer = Format("%*u", field.width, static_cast<unsigned>(Memos().Write(text)));
    }
    std::copy(pointer.begin(), pointer.end(), record_.data() + offsets_[index]);
  }
  pending_memos_.clear();
}

void DbfTable::WriteHeaderCountAndDate(uint32_t count) {
  std::string bytes = HeaderDate();
  bytes.resize(7);
  fmt::PutLe32(&bytes[3], count);
  WriteAt(fd_.get(), path_, fmt::kUpdateDateAt, bytes);
}

void DbfTable::WriteRecordLocked(uint32_t recno) {
  StoreMemos();
  WriteAt(fd_.get(), path_, header_length_ + uint64_t(recno - 1) * record_length_, record_);
  // The read cache keeps its block, with the record as now written: reading
  // the next record of a batch of rewrites must not fetch the block again.
  if (recno >= block_first_ && recno < block_first_ + block_count_) {
    std::copy(record_.begin(), record_.end(),
              block_.begin() + size_t(recno - block_first_) * record_length_);
  }
}

void DbfTable::WritePending() {
  if (appending_) {
    // A started record is written only by AppendWrite; moving drops it.
    appending_ = false;
    changed_ = false;
    pending_memos_.clear();
    return;
  }
  if (changed_ && recno_ != 0) Update();
}

void DbfTable::Update() {
  if (!changed_ || appending_) return;
  RequireWritable("Update");
  RequireCurrent("Update");
  if (batch_lock_) {
    WriteRecordLocked(recno_);
    batch_header_ = true;
    changed_ = false;
    return;
  }
  DbfWriteLock lock(fd_.get(), path_);
  WriteRecordLocked(recno_);
  WriteHeaderCountAndDate(ReadHeaderCount());
  changed_ = false;
}

void DbfTable::BeginBatch() {
  RequireWritable("BeginBatch");
  if (batch_lock_) return;
  WritePending();
  auto lock = std::make_unique<DbfWriteLock>(fd_.get(), path_);
  // Read under the lock, before the batch makes it this table's own.
  batch_count_ = RecordCount();
  batch_lock_ = std::move(lock);
  batch_header_ = false;
}

void DbfTable::EndBatch() {
  if (!batch_lock_) return;
  // The lock goes whatever happens: a failed header write must not leave
  // the file locked for other programs.
  std::unique_ptr<DbfWriteLock> lock = std::move(batch_lock_);
  WritePending();
  if (batch_header_) WriteHeaderCountAndDate(batch_count_);
  batch_header_ = false;
}

void DbfTable::AppendStart() {
  RequireWritable("AppendStart");
  WritePending();
  record_.assign(record_length_, ' ');
  pending_memos_.clear();
  recno_ = 0;
  appending_ = true;
  changed_ = false;
}

uint32_t DbfTable::AppendWrite() {
  RequireWritable("AppendWrite");
  if (!appending_) Fail("AppendWrite: no record was started with AppendStart");
  std::optional<DbfWriteLock> lock;
  if (!batch_lock_) lock.emplace(fd_.get(), path_);
  uint32_t count = RecordCount();
  if (count == UINT32_MAX) Fail("the table is full");
  StoreMemos();
  std::string bytes = record_;
  bytes.push_back(fmt::kEndOfFile);
  WriteAt(fd_.get(), path_, header_length_ + uint64_t(count) * record_length_, bytes);
  if (batch_lock_) {
    batch_count_ = count + 1;
    batch_header_ = true;
  } else {
    WriteHeaderCountAndDate(count + 1);
  }
  record_count_ = count + 1;
  block_count_ = 0;
  appending_ = false;
  changed_ = false;
  recno_ = count + 1;
  if (tag_ < 0) order_pos_ = count;
  else order_pos_ = order_.size();  // outside the tag order until it is rebuilt
  return recno_;
}

void DbfTable::FlushDataFile() {
  WritePending();
  if (!writable_) return;
  if (Files().Sync(fd_.get()) != 0) ThrowErrno(path_, "cannot sync the table");
  if (memo_) memo_->Sync();
}

void DbfTable::DeleteRecord() {
  RequireWritable("DeleteRecord");
  RequireCurrent("DeleteRecord");
  record_[0] = fmt::kDeletedFlag;
  changed_ = true;
  Update();
}

void DbfTable::RecallRecord() {
  RequireWritable("RecallRecord");
  RequireCurrent("RecallRecord");
  record_[0] = fmt::kActiveFlag;
  changed_ = true;
  Update();
}

void DbfTable::PackDataFile() {
  RequireWritable("PackDataFile");
  EndBatch();
  WritePending();
  appending_ = false;
  DbfWriteLock lock(fd_.get(), path_);
  uint32_t count = RecordCount();
  // Compacts in place: each block is read before the kept records of that
  // block are written, and kept records never move forward, so nothing unread
  // is overwritten.
  uint64_t write_at = header_length_;
  uint32_t kept = 0;
  std::string out;
  for (uint32_t first = 1; first <= count;) {
    ReadBlock(first);
    if (block_count_ == 0) break;
    out.clear();
    for (uint32_t i = 0; i < block_count_; ++i) {
      const char* record = block_.data() + size_t(i) * record_length_;
      if (record[0] != fmt::kDeletedFlag) {
        out.append(record, record_length_);
        ++kept;
      }
    }
    WriteAt(fd_.get(), path_, write_at, out);
    write_at += out.size();
    first += block_count_;
  }
  WriteAt(fd_.get(), path_, write_at, std::string_view(&fmt::kEndOfFile, 1));
  if (Files().Truncate(fd_.get(), static_cast<off_t>(write_at + 1)) != 0) {
    ThrowErrno(path_, "cannot shorten the table after packing");
  }
  WriteHeaderCountAndDate(kept);
  record_count_ = kept;
  block_count_ = 0;
  recno_ = 0;
  changed_ = false;
  order_.clear();
}

}  // namespace vigilo
