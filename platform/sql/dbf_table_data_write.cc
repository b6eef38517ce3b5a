// The writes of DbfTableData: through the xBase library to the file, then
// mirrored in the columns in memory, with the primary key checked first.
#include <algorithm>
#include <climits>

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/database.h"
#include "platform/sql/dbase_sql_rewriter.h"
#include "platform/sql/dbf_field_text.h"
#include "platform/sql/dbf_table_data.h"

namespace vigilo::sql {

namespace {

std::string CellText(const CellValue& v) {
  switch (v.kind) {
    case CellValue::kInteger: return std::to_string(v.integer);
    case CellValue::kReal: return Format("%.15g", v.real);
    case CellValue::kText: return v.text;
    default: return "";
  }
}

}  // namespace

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

ColumnMask DbfTableData::KeyMask() const {
  ColumnMask mask = 0;
  for (int column : key_columns_) mask |= ColumnMask{1} << std::min(column, 63);
  return mask;
}

std::string DbfTableData::KeyPart(uint32_t row, int column) const {
  const Column& c = columns_[column];
  std::string key;
  if (IsNull(row, column)) {
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
  EnsureColumns(KeyMask());
  key_set_.emplace();
  for (uint32_t r = 0; r < rows_; ++r) {
    if (!deleted_[r]) key_set_->insert(KeyOf(r));
  }
}

uint32_t DbfTableData::Insert(const std::vector<CellValue>& values) {
  if (!valid_) Reset();
  std::string key;
  if (!key_columns_.empty()) {
    BuildKeySet();
    key = KeyOfValues(values, UINT32_MAX);
    if (key_set_->count(key)) {
      throw DbException(Format(
          "Duplicate value in the primary key %s of %s: the row is not inserted.",
          key_name_.c_str(), path_.c_str()), "23000");
    }
  }
  BeforeWrite();
  table_->AppendStart();
  for (int i = 0; i < ColumnCount() && i < static_cast<int>(values.size()); ++i) {
    AssignValue(i, values[i]);
  }
  uint32_t recno = table_->AppendWrite();
  // The current record is the one just written.
  if (recno == rows_ + 1) {
    AppendDecoded(table_->RecordBytes());
    if (key_set_) key_set_->insert(KeyOf(recno - 1));
    AfterWrite();
  } else {
    valid_ = false;  // another writer appended meanwhile: read all again
  }
  return recno - 1;
}

void DbfTableData::Update(uint32_t row, const std::vector<CellValue>& values) {
  if (!valid_ || row >= rows_) throw DbException("The record to update is gone.");
  std::string old_key, new_key;
  if (!key_columns_.empty()) {
    BuildKeySet();
    old_key = KeyOf(row);
    new_key = KeyOfValues(values, row);
    if (new_key != old_key && key_set_->count(new_key)) {
      throw DbException(Format(
          "Duplicate value in the primary key %s of %s: the row is not updated.",
          key_name_.c_str(), path_.c_str()), "23000");
    }
  }
  if (!table_->Read(row + 1)) throw DbException("The record to update is gone.");
  BeforeWrite();
  for (int i = 0; i < ColumnCount() && i < static_cast<int>(values.size()); ++i) {
    AssignValue(i, values[i]);
  }
  table_->Update();
  // The current record holds the bytes just written.
  RedecodeRow(row, table_->RecordBytes());
  if (key_set_ && new_key != old_key) {
    key_set_->erase(old_key);
    key_set_->insert(KeyOf(row));
  }
  AfterWrite();
}

void DbfTableData::Delete(uint32_t row) {
  if (!valid_ || row >= rows_) throw DbException("The record to delete is gone.");
  if (!table_->Read(row + 1)) throw DbException("The record to delete is gone.");
  BeforeWrite();
  table_->DeleteRecord();
  if (key_set_ && !deleted_[row]) key_set_->erase(KeyOf(row));
  if (deleted_loaded_) {
    deleted_[row] = 1;
    any_deleted_ = true;
  }
  AfterWrite();
}

void DbfTableData::BeforeWrite() {
  if (batch_depth_ > 0 && table_->writable()) table_->BeginBatch();
}

void DbfTableData::EndBatch() {
  if (batch_depth_ == 0 || --batch_depth_ > 0) return;
  table_->EndBatch();
  if (batch_wrote_) {
    batch_wrote_ = false;
    AfterWrite();
  }
}

}  // namespace vigilo::sql
