// The decoded tables of the process, kept from one dBase connection to the
// next: a daemon that opens its project anew at each tick finds the tables
// it decoded before, and catches up with what changed in the files since
// (see DbfTableData::Refresh) instead of decoding them whole.
//
// A table is lent to one connection at a time; a second connection that
// asks for a file while the first holds it gets a table of its own, so no
// table is ever used by two threads. Tables whose file is gone or whose
// fields changed are dropped, and at most kKept tables stay.
#pragma once

#include <memory>
#include <string>

#include "platform/sql/dbf_table_data.h"

namespace vigilo::sql {

// The decoded table of the file at real_path (opened when none is free).
// Throws DbfError. Thread-safe.
std::shared_ptr<DbfTableData> LendDbfTable(const std::string& real_path);

// Forgets every kept table that no connection holds.
void ForgetDbfTables();

}  // namespace vigilo::sql
