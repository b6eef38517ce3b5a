#include "platform/sql/dbf_table_data.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/database.h"
#include "platform/sql/dbase_sql_rewriter.h"
#include "platform/sql/dbf_field_text.h"
#include "platform/sql/dbf_primary_key.h"

namespace vigilo::sql {

namespace {

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

void DbfTableData::Reopen() {
  table_.reset();
  try {
    table_ = DbfTable::Open(path_, true);
  } catch (const DbfError&) {
    table_ = DbfTable::Open(path_, false);  // a read-only file stays readable
  }
}

void DbfTableData::Refresh(uint64_t epoch) {
  if (valid_ && epoch == checked_epoch_) return;
  checked_epoch_ = epoch;
  if (!valid_ || Stamp() != stamp_) Reset();
}

void DbfTableData::Reset() {
  FileStamp stamp = Stamp();
  // Another writer changed the file: open it again, so that no block the
  // library read before is taken for the file's contents.
  if (!fresh_open_) {
    std::vector<DbfField> before = table_->Fields();
    Reopen();
    if (table_->Fields() != before) {
      throw DbException(Format("The fields of table %s changed; open the connection again.",
                               path_.c_str()));
    }
  }
  fresh_open_ = false;
  for (Column& c : columns_) {
    c.loaded = false;
    c.ints = {};
    c.reals = {};
    c.arena = {};
    c.ends = {};
    c.nulls = {};
    c.overrides.clear();
    c.index.reset();
  }
  deleted_ = {};
  deleted_loaded_ = false;
  key_set_.reset();
  rows_ = table_->RecordCount();
  stamp_ = stamp;
  valid_ = true;
}

void DbfTableData::EnsureColumns(ColumnMask mask) {
  if (!valid_) Reset();
  std::vector<Column*> wanted;
  for (size_t i = 0; i < columns_.size(); ++i) {
    bool in_mask = (mask >> std::min<size_t>(i, 63)) & 1;
    if (in_mask && !columns_[i].loaded) wanted.push_back(&columns_[i]);
  }
  if (wanted.empty() && deleted_loaded_) return;
  bool want_deleted = !deleted_loaded_;
  if (want_deleted) {
    deleted_.clear();
    deleted_.reserve(rows_);
  }
  for (Column* c : wanted) {
    c->ints.clear();
    c->reals.clear();
    c->arena.clear();
    c->ends.clear();
    c->nulls.clear();
    c->overrides.clear();
    c->index.reset();
    c->nulls.reserve(rows_);
    if (c->kind == ColumnKind::kInteger) c->ints.reserve(rows_);
    if (c->kind == ColumnKind::kReal) c->reals.reserve(rows_);
    if (c->kind == ColumnKind::kText || c->kind == ColumnKind::kDate ||
        c->kind == ColumnKind::kMemo) {
      c->ends.reserve(rows_);
    }
  }
  uint32_t seen = 0;
  Decoded value;
  table_->Scan(1, rows_, [&](uint32_t, std::string_view record) {
    if (want_deleted) deleted_.push_back(!record.empty() && record[0] == '*');
    for (Column* c : wanted) {
      Decode(*c, record, &value);
      Push(*c, std::move(value));
    }
    ++seen;
    return true;
  });
  if (seen != rows_) {
    // The file became shorter than its header said a moment ago.
    valid_ = false;
    throw DbException(Format("The table %s changed while it was read.", path_.c_str()));
  }
  deleted_loaded_ = true;
  for (Column* c : wanted) c->loaded = true;
}

void DbfTableData::Decode(const Column& c, std::string_view record, Decoded* out) const {
  const DbfField& f = table_->Field(c.field);
  std::string_view raw = record.substr(table_->FieldOffset(c.field), f.width);
  out->null = false;
  out->text.clear();
  switch (c.kind) {
    case ColumnKind::kInteger: {
      std::optional<int64_t> v;
      if (f.type == 'L') {
        std::string_view t = TrimRaw(raw);
        char l = t.empty() ? '?' : t[0];
        if (l == 'T' || l == 't' || l == 'Y' || l == 'y') v = 1;
        if (l == 'F' || l == 'f' || l == 'N' || l == 'n') v = 0;
      } else {
        v = ParseInteger(raw);
      }
      out->null = !v;
      out->integer = v.value_or(0);
      break;
    }
    case ColumnKind::kReal: {
      std::optional<double> v = ParseReal(raw);
      out->null = !v;
      out->real = v.value_or(0);
      break;
    }
    case ColumnKind::kDate: {
      std::string_view d = TrimRaw(raw);
      if (d.size() == 8 && std::all_of(d.begin(), d.end(), ::isdigit)) {
        out->text.append(d.substr(0, 4)).append("-").append(d.substr(4, 2))
            .append("-").append(d.substr(6, 2));
      } else {
        out->null = true;
      }
      break;
    }
    case ColumnKind::kMemo:
      out->text.assign(raw);  // the block pointer; the text is read on demand
      break;
    case ColumnKind::kText:
      out->text.assign(TrimRightRaw(raw));
      break;
  }
}

void DbfTableData::Push(Column& c, Decoded&& value) {
  c.nulls.push_back(value.null);
  switch (c.kind) {
    case ColumnKind::kInteger: c.ints.push_back(value.integer); break;
    case ColumnKind::kReal: c.reals.push_back(value.real); break;
    default:
      c.arena.append(value.text);
      c.ends.push_back(c.arena.size());
  }
}

void DbfTableData::AppendDecoded(std::string_view record) {
  if (deleted_loaded_) deleted_.push_back(!record.empty() && record[0] == '*');
  Decoded value;
  for (Column& c : columns_) {
    if (!c.loaded) continue;
    Decode(c, record, &value);
    Push(c, std::move(value));
  }
  ++rows_;
}

void DbfTableData::RedecodeRow(uint32_t row, std::string_view record) {
  if (deleted_loaded_) deleted_[row] = !record.empty() && record[0] == '*';
  Decoded value;
  for (Column& c : columns_) {
    if (!c.loaded) continue;
    Decode(c, record, &value);
    bool was_null = c.nulls[row] != 0;
    bool changed = value.null != was_null;
    switch (c.kind) {
      case ColumnKind::kInteger:
        changed = changed || c.ints[row] != value.integer;
        c.ints[row] = value.integer;
        break;
      case ColumnKind::kReal:
        changed = changed || c.reals[row] != value.real;
        c.reals[row] = value.real;
        break;
      default:
        // An unchanged text keeps its storage: index keys may view it.
        if (Text(row, static_cast<int>(&c - columns_.data())) != value.text) {
          changed = true;
          c.overrides[row] = std::move(value.text);
        }
    }
    c.nulls[row] = value.null;
    // Only the index of a column whose value changed is out of date.
    if (changed) c.index.reset();
  }
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

double DbfTableData::RowsPerKey(int column) {
  Column& c = columns_[column];
  double rows = std::max<double>(1, rows_);
  if (c.index) return std::max(1.0, rows / std::max<size_t>(1, c.index->distinct()));
  // A sample: spread over the rows when the column is in memory, else the
  // first records of the file.
  constexpr uint32_t kSample = 4096;
  std::unordered_map<std::string, uint32_t> counts;
  uint32_t n = 0;
  auto add = [&](bool null, const Decoded& v, uint32_t row) {
    if (null) return;
    std::string key = c.kind == ColumnKind::kInteger ? std::to_string(v.integer)
                      : row == UINT32_MAX            ? v.text
                                                     : std::string(Text(row, column));
    ++counts[key];
    ++n;
  };
  if (c.loaded) {
    uint32_t stride = std::max<uint32_t>(1, rows_ / kSample);
    Decoded v;
    for (uint32_t r = 0; r < rows_; r += stride) {
      if (c.kind == ColumnKind::kInteger) v.integer = c.ints[r];
      add(c.nulls[r] != 0, v, c.kind == ColumnKind::kInteger ? UINT32_MAX : r);
    }
  } else {
    Decoded v;
    table_->Scan(1, std::min(rows_, kSample), [&](uint32_t, std::string_view record) {
      Decode(c, record, &v);
      add(v.null, v, UINT32_MAX);
      return true;
    });
  }
  if (n == 0) return rows;
  double singles = 0;
  for (auto& [key, count] : counts) singles += count == 1;
  // Distinct values of the whole column, estimated from the sample (values
  // seen once stand for many unseen ones).
  double distinct = static_cast<double>(counts.size()) +
                    singles * (std::sqrt(rows / n) - 1.0);
  return std::max(1.0, rows / std::max(1.0, distinct));
}

std::shared_ptr<const EqIndex> DbfTableData::Index(int column) {
  Column& c = columns_[column];
  if (c.index) return c.index;
  EnsureColumns(ColumnMask{1} << std::min(column, 63));
  auto index = std::make_shared<EqIndex>();
  std::vector<uint32_t> slot_of(rows_, UINT32_MAX);
  std::vector<uint32_t> counts;
  for (uint32_t r = 0; r < rows_; ++r) {
    if (deleted_[r] || c.nulls[r]) continue;
    uint32_t next = static_cast<uint32_t>(counts.size());
    uint32_t slot;
    if (c.kind == ColumnKind::kInteger) {
      slot = index->int_slots.try_emplace(c.ints[r], next).first->second;
    } else {
      slot = index->text_slots.try_emplace(Text(r, column), next).first->second;
    }
    if (slot == next) counts.push_back(0);
    ++counts[slot];
    slot_of[r] = slot;
  }
  index->starts.assign(counts.size() + 1, 0);
  for (size_t s = 0; s < counts.size(); ++s) {
    index->starts[s + 1] = index->starts[s] + counts[s];
  }
  index->rows.resize(index->starts.back());
  std::vector<uint32_t> fill(index->starts.begin(), index->starts.end() - 1);
  for (uint32_t r = 0; r < rows_; ++r) {
    if (slot_of[r] != UINT32_MAX) index->rows[fill[slot_of[r]]++] = r;
  }
  index->built_rows = rows_;
  c.index = index;
  return index;
}

void DbfTableData::DropIndexes() {
  for (Column& c : columns_) c.index.reset();
}

void DbfTableData::DropIndexesAfterAppend() {
  for (Column& c : columns_) {
    // A long tail would make every look-up slow: past it the index is built
    // anew.
    if (c.kind != ColumnKind::kInteger ||
        (c.index && rows_ - c.index->built_rows > std::max<uint32_t>(256, rows_ / 16))) {
      c.index.reset();
    }
  }
}

}  // namespace vigilo::sql
