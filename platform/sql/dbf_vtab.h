// The SQLite virtual-table module "dbf" of the embedded dBase engine: each
// .dbf file becomes a readable and writable table.
//
//   CREATE VIRTUAL TABLE "Bugs" USING dbf('/data/proj/Bugs.dbf');
//   SELECT FormID FROM Bugs WHERE Status = 'Open';
//
// The engine creates these tables itself on first mention of a table name
// (see DbaseConnection). Several SQL names for one file share one
// DbfTableData (the context's registry, keyed by the real path), so a write
// through one name is seen through the other.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/sql/dbf_table_data.h"

namespace vigilo::sql {

// Shared by a connection and its virtual tables.
struct DbaseContext {
  std::string default_dir;
  uint64_t epoch = 1;  // counts statements; tables look at their file once per epoch
  std::map<std::string, std::shared_ptr<DbfTableData>> tables;  // by real path

  // The data of the file at path (opened on first use). Throws DbfError.
  std::shared_ptr<DbfTableData> Table(const std::string& path);
};

// Registers the module "dbf" on db; ctx must outlive db.
int RegisterDbfModule(sqlite3* db, DbaseContext* ctx);

}  // namespace vigilo::sql
