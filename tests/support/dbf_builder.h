// The tests' one way of making a .dbf table for a set-up: fields and rows of
// texts in, a closed file out; and of reading a table back as texts. Tests of
// the xBase library itself call DbfTable directly; everything else that only
// needs a table to exist goes through WriteDbf.
#pragma once

#include <string>
#include <vector>

#include "platform/xbase/dbf_table.h"

namespace vigilo::testing {

// One record as texts in field order; "" leaves a field blank, and fields
// past the end of the record stay blank too.
using Record = std::vector<std::string>;

// Creates (or replaces) a .dbf file with the fields and records.
inline void WriteDbf(const std::string& path, const std::vector<DbfField>& fields,
                     const std::vector<Record>& records = {},
                     DbfVersion version = DbfVersion::kDbase4,
                     const std::vector<std::string>& index_tags = {}) {
  auto table = DbfTable::Create(path, fields, version, index_tags);
  for (const Record& record : records) {
    table->AppendStart();
    for (size_t i = 0; i < record.size() && i < fields.size(); ++i) {
      if (!record[i].empty()) table->AssignText(static_cast<int>(i), record[i]);
    }
    table->AppendWrite();
  }
  table->Close();
}

// Every record not marked deleted, each field as DbfTable::Text gives it.
inline std::vector<Record> ReadDbf(const std::string& path) {
  auto table = DbfTable::Open(path, false);
  std::vector<Record> rows;
  for (bool ok = table->GoFirst(); ok; ok = table->Skip()) {
    Record row;
    for (int i = 0; i < table->FieldCount(); ++i) row.push_back(table->Text(i));
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace vigilo::testing
