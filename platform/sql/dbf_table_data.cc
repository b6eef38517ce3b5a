#include "platform/sql/dbf_table_data.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/database.h"
#include "platform/sql/dbase_sql_rewriter.h"
#include "platform/sql/dbf_primary_key.h"

namespace vigilo::sql {

namespace {

std::string_view TrimRaw(std::string_view raw) {
  size_t end = raw.size();
  while (end > 0 && (raw[end - 1] == ' ' || raw[end - 1] == '\0')) --end;
  size_t start = 0;
  while (start < end && raw[start] == ' ') ++start;
  return raw.substr(start, end - start);
}

std::string_view TrimRightRaw(std::string_view raw) {
  size_t end = raw.size();
  while (end > 0 && (raw[end - 1] == ' ' || raw[end - 1] == '\0')) --end;
  return raw.substr(0, end);
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  text = TrimRaw(text);
  if (text.empty()) return std::nullopt;
  if (text[0] == '+') text.remove_prefix(1);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && end == text.data() + text.size()) return value;
  double real = 0;
  auto [rend, rec] = std::from_chars(text.data(), text.data() + text.size(), real);
  if (rec == std::errc() && rend == text.data() + text.size() && std::isfinite(real)) {
    return static_cast<int64_t>(std::llround(real));
  }
  return std::nullopt;
}

std::optional<double> ParseReal(std::string_view text) {
  text = TrimRaw(text);
  if (text.empty()) return std::nullopt;
  if (text[0] == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && end == text.data() + text.size()) return value;
  return std::nullopt;
}

ColumnKind KindOf(const DbfField& f) {
  switch (f.type) {
    case 'N':
    case 'F':
      return f.decimals == 0 && f.width <= 18 && f.type == 'N' ? ColumnKind::kInteger
                                                                : ColumnKind::kReal;
    case 'L': return ColumnKind::kInteger;
    case 'D': return ColumnKind::kDate;
    case 'M': return ColumnKind::kMemo;
    default: return ColumnKind::kText;
  }
}

std::string CellText(const CellValue& v) {
  switch (v.kind) {
    case CellValue::kInteger: return std::to_string(v.integer);
    case CellValue::kReal: return Format("%.15g", v.real);
    case CellValue::kText: return v.text;
    default: return "";
  }
}

}  // namespace

DbfTableData::DbfTableData(const std::string& path) : path_(path) {
  Reopen();
  for (int i = 0; i < table_->FieldCount(); ++i) {
    Column c;
    c.kind = KindOf(table_->Field(i));
    c.field = i;
    columns_.push_back(std::move(c));
  }
  if (auto key = ReadPrimaryKey(path)) {
    std::vector<int> key_columns;
    for (const std::string& name : key->fields) {
      int index = table_->FieldIndex(name);
      if (index < 0) {
        key_columns.clear();  // a key that names no field of the table
        break;
      }
      key_columns.push_back(index);
    }
    key_columns_ = key_columns;
    key_name_ = key->name;
  }
}

DbfTableData::FileStamp DbfTableData::Stamp() const {
  struct stat st {};
  FileStamp stamp;
  if (stat(path_.c_str(), &st) == 0) {
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                     st.st_mtim.tv_nsec;
  }
  return stamp;
}

void DbfTableData::Refresh(uint64_t epoch) {
  if (loaded_ && epoch == checked_epoch_) return;
  checked_epoch_ = epoch;
  if (!loaded_ || Stamp() != stamp_) Load();
}

uint32_t DbfTableData::EstimatedRows() {
  return loaded_ ? rows_ : table_->RecordCount();
}

void DbfTableData::Reopen() {
  table_.reset();
  try {
    table_ = DbfTable::Open(path_, true);
  } catch (const DbfError&) {
    table_ = DbfTable::Open(path_, false);  // a read-only file stays readable
  }
}

void DbfTableData::Load() {
  FileStamp stamp = Stamp();
  // Another writer changed the file: open it again, so that no block the
  // library read before is taken for the file's contents.
  if (loaded_ || !fresh_open_) Reopen();
  fresh_open_ = false;
  for (Column& c : columns_) {
    c.ints.clear();
    c.reals.clear();
    c.arena.clear();
    c.ends.clear();
    c.nulls.clear();
    c.overrides.clear();
    c.index.reset();
  }
  deleted_.clear();
  rows_ = 0;
  uint32_t count = table_->RecordCount();
  deleted_.reserve(count);
  for (Column& c : columns_) {
    c.nulls.reserve(count);
    if (c.kind == ColumnKind::kInteger) c.ints.reserve(count);
    if (c.kind == ColumnKind::kReal) c.reals.reserve(count);
    if (c.kind == ColumnKind::kText || c.kind == ColumnKind::kDate ||
        c.kind == ColumnKind::kMemo) {
      c.ends.reserve(count);
    }
  }
  table_->Scan(1, count, [this](uint32_t, std::string_view record) {
    AppendDecoded(record);
    return true;
  });
  key_set_.reset();
  stamp_ = stamp;
  loaded_ = true;
}

void DbfTableData::AppendDecoded(std::string_view record) {
  deleted_.push_back(!record.empty() && record[0] == '*');
  for (Column& c : columns_) {
    const DbfField& f = table_->Field(c.field);
    std::string_view raw = record.substr(table_->FieldOffset(c.field), f.width);
    bool null = false;
    switch (c.kind) {
      case ColumnKind::kInteger: {
        std::optional<int64_t> v;
        if (f.type == 'L') {
          char l = TrimRaw(raw).empty() ? '?' : TrimRaw(raw)[0];
          if (l == 'T' || l == 't' || l == 'Y' || l == 'y') v = 1;
          if (l == 'F' || l == 'f' || l == 'N' || l == 'n') v = 0;
        } else {
          v = ParseInteger(raw);
        }
        null = !v;
        c.ints.push_back(v.value_or(0));
        break;
      }
      case ColumnKind::kReal: {
        std::optional<double> v = ParseReal(raw);
        null = !v;
        c.reals.push_back(v.value_or(0));
        break;
      }
      case ColumnKind::kDate: {
        std::string_view d = TrimRaw(raw);
        if (d.size() == 8 && std::all_of(d.begin(), d.end(), ::isdigit)) {
          c.arena.append(d.substr(0, 4)).append("-").append(d.substr(4, 2))
              .append("-").append(d.substr(6, 2));
        } else {
          null = true;
        }
        c.ends.push_back(c.arena.size());
        break;
      }
      case ColumnKind::kMemo:
        c.arena.append(raw);  // the block pointer; the text is read on demand
        c.ends.push_back(c.arena.size());
        break;
      case ColumnKind::kText:
        c.arena.append(TrimRightRaw(raw));
        c.ends.push_back(c.arena.size());
        break;
    }
    c.nulls.push_back(null);
  }
  ++rows_;
}

void DbfTableData::RedecodeRow(uint32_t row, std::string_view record) {
  // Decode the record as a new last row, then move its values into place.
  AppendDecoded(record);
  uint32_t last = rows_ - 1;
  deleted_[row] = deleted_[last];
  deleted_.pop_back();
  for (Column& c : columns_) {
    c.nulls[row] = c.nulls[last];
    c.nulls.pop_back();
    switch (c.kind) {
      case ColumnKind::kInteger:
        c.ints[row] = c.ints[last];
        c.ints.pop_back();
        break;
      case ColumnKind::kReal:
        c.reals[row] = c.reals[last];
        c.reals.pop_back();
        break;
      default: {
        uint64_t start = last == 0 ? 0 : c.ends[last - 1];
        c.overrides[row] = c.arena.substr(start);
        c.arena.resize(start);
        c.ends.pop_back();
        break;
      }
    }
  }
  --rows_;
}

bool DbfTableData::IsNull(uint32_t row, int column) const {
  return columns_[column].nulls[row] != 0;
}

int64_t DbfTableData::Integer(uint32_t row, int column) const {
  return columns_[column].ints[row];
}

double DbfTableData::Real(uint32_t row, int column) const {
  return columns_[column].reals[row];
}

std::string_view DbfTableData::Text(uint32_t row, int column) const {
  const Column& c = columns_[column];
  if (!c.overrides.empty()) {
    auto it = c.overrides.find(row);
    if (it != c.overrides.end()) return it->second;
  }
  uint64_t start = row == 0 ? 0 : c.ends[row - 1];
  return std::string_view(c.arena).substr(start, c.ends[row] - start);
}

std::string DbfTableData::Memo(uint32_t row, int column) {
  std::string_view pointer = Text(row, column);
  std::string_view digits = TrimRaw(pointer);
  if (digits.empty() || digits.find_first_not_of('0') == std::string_view::npos) {
    return "";
  }
  return table_->MemoAt(pointer);
}

bool DbfTableData::Indexable(int column) const {
  ColumnKind k = columns_[column].kind;
  return k == ColumnKind::kInteger || k == ColumnKind::kText || k == ColumnKind::kDate;
}

std::shared_ptr<const EqIndex> DbfTableData::Index(int column) {
  Column& c = columns_[column];
  if (c.index) return c.index;
  auto index = std::make_shared<EqIndex>();
  if (c.kind == ColumnKind::kInteger) {
    std::vector<std::pair<int64_t, uint32_t>> pairs;
    pairs.reserve(rows_);
    for (uint32_t r = 0; r < rows_; ++r) {
      if (!deleted_[r] && !c.nulls[r]) pairs.emplace_back(c.ints[r], r);
    }
    std::sort(pairs.begin(), pairs.end());
    index->rows.reserve(pairs.size());
    index->int_keys.reserve(pairs.size());
    for (auto& [key, row] : pairs) {
      index->int_keys.push_back(key);
      index->rows.push_back(row);
    }
  } else {
    std::vector<std::pair<std::string_view, uint32_t>> pairs;
    pairs.reserve(rows_);
    for (uint32_t r = 0; r < rows_; ++r) {
      if (!deleted_[r] && !c.nulls[r]) pairs.emplace_back(Text(r, column), r);
    }
    std::sort(pairs.begin(), pairs.end());
    index->rows.reserve(pairs.size());
    index->text_keys.reserve(pairs.size());
    for (auto& [key, row] : pairs) {
      index->text_keys.push_back(key);
      index->rows.push_back(row);
    }
  }
  c.index = index;
  return index;
}

void DbfTableData::DropIndexes() {
  for (Column& c : columns_) c.index.reset();
}

// --- Writes ------------------------------------------------------------------

void DbfTableData::AssignValue(int column, const CellValue& value) {
  const Column& c = columns_[column];
  const DbfField& f = table_->Field(c.field);
  if (value.kind == CellValue::kUnchanged) return;
  if (value.kind == CellValue::kNull) {
    table_->AssignBlank(c.field);
    return;
  }
  switch (c.kind) {
    case ColumnKind::kInteger:
      if (f.type == 'L') {
        if (value.kind == CellValue::kText) {
          table_->AssignText(c.field, value.text);
        } else {
          table_->AssignLogical(c.field, value.kind == CellValue::kInteger
                                             ? value.integer != 0
                                             : value.real != 0);
        }
        return;
      }
      [[fallthrough]];
    case ColumnKind::kReal:
      if (value.kind == CellValue::kInteger) {
        table_->AssignLong(c.field, static_cast<long>(value.integer));
      } else if (value.kind == CellValue::kReal) {
        table_->AssignNumber(c.field, value.real);
      } else {
        table_->AssignText(c.field, Trimmed(value.text));
      }
      return;
    case ColumnKind::kDate: {
      std::string text = Trimmed(CellText(value));
      if (text.empty()) {
        table_->AssignBlank(c.field);
        return;
      }
      std::string iso = IsoDateFromText(text);
      if (iso.empty()) {
        throw DbException(Format("Invalid date value %s for the field %s.",
                                 text.c_str(), f.name.c_str()));
      }
      table_->AssignText(c.field, iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2));
      return;
    }
    case ColumnKind::kMemo:
    case ColumnKind::kText:
      table_->AssignText(c.field, CellText(value));
      return;
  }
}

std::string DbfTableData::KeyPart(uint32_t row, int column) const {
  const Column& c = columns_[column];
  std::string key;
  if (c.nulls[row]) {
    key = "N";
  } else if (c.kind == ColumnKind::kInteger) {
    key = "i" + std::to_string(c.ints[row]);
  } else if (c.kind == ColumnKind::kReal) {
    key = "r" + Format("%.15g", c.reals[row]);
  } else {
    key = "t" + std::string(TrimRightRaw(Text(row, column)));
  }
  return key + '\x1f';
}

std::string DbfTableData::KeyOf(uint32_t row) const {
  std::string key;
  for (int column : key_columns_) key += KeyPart(row, column);
  return key;
}

// The key a row would have after a write of `values`; unchanged columns come
// from `row` (ignored when row is past the end).
std::string DbfTableData::KeyOfValues(const std::vector<CellValue>& values,
                                      uint32_t row) const {
  std::string key;
  for (int column : key_columns_) {
    const Column& c = columns_[column];
    const CellValue& v = values[column];
    if (v.kind == CellValue::kUnchanged && row < rows_) {
      key += KeyPart(row, column);
      continue;
    }
    if (v.kind == CellValue::kNull || v.kind == CellValue::kUnchanged) {
      key += "N";
    } else if (c.kind == ColumnKind::kInteger) {
      std::optional<int64_t> n = v.kind == CellValue::kInteger
                                     ? std::optional<int64_t>(v.integer)
                                     : ParseInteger(CellText(v));
      key += n ? "i" + std::to_string(*n) : "t" + CellText(v);
    } else if (c.kind == ColumnKind::kReal) {
      std::optional<double> n = v.kind == CellValue::kReal
                                    ? std::optional<double>(v.real)
                                    : ParseReal(CellText(v));
      key += n ? "r" + Format("%.15g", *n) : "t" + CellText(v);
    } else if (c.kind == ColumnKind::kDate) {
      key += "t" + IsoDateFromText(CellText(v));
    } else {
      std::string text = CellText(v);
      text = std::string(TrimRightRaw(text)).substr(0, table_->Field(c.field).width);
      key += "t" + std::string(TrimRightRaw(text));
    }
    key += '\x1f';
  }
  return key;
}

void DbfTableData::BuildKeySet() {
  if (key_set_) return;
  key_set_.emplace();
  for (uint32_t r = 0; r < rows_; ++r) {
    if (!deleted_[r]) key_set_->insert(KeyOf(r));
  }
}

void DbfTableData::AfterWrite() {
  DropIndexes();
  stamp_ = Stamp();
}

uint32_t DbfTableData::Insert(const std::vector<CellValue>& values) {
  if (!loaded_) Load();
  std::string key;
  if (!key_columns_.empty()) {
    BuildKeySet();
    key = KeyOfValues(values, UINT32_MAX);
    if (key_set_->count(key)) {
      throw DbException(Format(
          "Duplicate value in the primary key %s of %s: the row is not inserted.",
          key_name_.c_str(), path_.c_str()));
    }
  }
  table_->AppendStart();
  for (int i = 0; i < ColumnCount() && i < static_cast<int>(values.size()); ++i) {
    AssignValue(i, values[i]);
  }
  uint32_t recno = table_->AppendWrite();
  if (recno == rows_ + 1 && table_->Read(recno)) {
    AppendDecoded(table_->RecordBytes());
    if (key_set_) key_set_->insert(KeyOf(recno - 1));
    AfterWrite();
  } else {
    loaded_ = false;  // another writer appended meanwhile: read all again
  }
  return recno - 1;
}

void DbfTableData::Update(uint32_t row, const std::vector<CellValue>& values) {
  if (!loaded_ || row >= rows_) throw DbException("The record to update is gone.");
  std::string old_key, new_key;
  if (!key_columns_.empty()) {
    BuildKeySet();
    old_key = KeyOf(row);
    new_key = KeyOfValues(values, row);
    if (new_key != old_key && key_set_->count(new_key)) {
      throw DbException(Format(
          "Duplicate value in the primary key %s of %s: the row is not updated.",
          key_name_.c_str(), path_.c_str()));
    }
  }
  if (!table_->Read(row + 1)) throw DbException("The record to update is gone.");
  for (int i = 0; i < ColumnCount() && i < static_cast<int>(values.size()); ++i) {
    AssignValue(i, values[i]);
  }
  table_->Update();
  table_->Read(row + 1);
  RedecodeRow(row, table_->RecordBytes());
  if (key_set_ && new_key != old_key) {
    key_set_->erase(old_key);
    key_set_->insert(KeyOf(row));
  }
  AfterWrite();
}

void DbfTableData::Delete(uint32_t row) {
  if (!loaded_ || row >= rows_) throw DbException("The record to delete is gone.");
  if (!table_->Read(row + 1)) throw DbException("The record to delete is gone.");
  table_->DeleteRecord();
  if (key_set_ && !deleted_[row]) key_set_->erase(KeyOf(row));
  deleted_[row] = 1;
  AfterWrite();
}

}  // namespace vigilo::sql
