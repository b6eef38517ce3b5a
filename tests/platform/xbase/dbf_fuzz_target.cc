#include "tests/platform/xbase/dbf_fuzz_target.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/xbase/dbf_query.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

// One scratch directory per process, removed at exit; on the memory file
// system where there is one, as thousands of tiny files are written.
std::unique_ptr<testing::TempDir> MakeFuzzDir() {
  try {
    return std::make_unique<testing::TempDir>("/dev/shm");
  } catch (const std::runtime_error&) {
    return std::make_unique<testing::TempDir>();
  }
}

const std::string& ScratchDir() {
  static const std::unique_ptr<testing::TempDir> dir = MakeFuzzDir();
  return dir->path();
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void ReadEverything(DbfTable& table) {
  uint32_t count = table.RecordCount();
  for (uint32_t recno = 1; recno <= count; ++recno) {
    if (!table.Read(recno)) break;
    table.IsDeleted();
    for (int i = 0; i < table.FieldCount(); ++i) {
      table.Raw(i);
      table.Number(i);
      table.Logical(i);
      table.FieldLong(i);
      try {
        table.Text(i);
      } catch (const DbfError&) {
        // A bad memo pointer of one record must not hide the other fields.
      }
    }
  }
  for (int tag = -1; tag < table.FieldCount(); ++tag) {
    if (tag >= 0 && table.Field(tag).type == 'M') continue;
    table.SelectTag(tag);
    for (bool on = table.GoFirst(); on; on = table.Skip(1)) table.Raw(0);
    table.GoLast();
    table.Skip(-1);
  }
  table.SelectTag(-1);
}

}  // namespace

bool ExerciseDbfFiles(std::string_view dbf, std::string_view dbt) {
  std::string path = ScratchDir() + "/t.dbf";
  std::string memo_path = ScratchDir() + "/t.dbt";
  WriteFile(path, dbf);
  if (dbt.empty()) {
    unlink(memo_path.c_str());
  } else {
    WriteFile(memo_path, dbt);
  }
  std::unique_ptr<DbfTable> table;
  try {
    table = DbfTable::Open(path, true);
  } catch (const DbfError&) {
    return false;
  }
  try {
    ReadEverything(*table);
  } catch (const DbfError&) {
  }
  try {
    DbfQuery query(*table);
    const DbfField& first = table->Field(0);
    std::string filter = first.type == 'C'   ? first.name + " = 'a  '"
                         : first.type == 'D' ? "DTOS(" + first.name + ") >= '2000'"
                         : first.type == 'L' ? first.name + " .OR. DELETED()"
                         : first.type == 'M' ? "'x' $ " + first.name
                                             : first.name + " > 1";
    query.SetQuery(filter);
    query.SetRelationOrder(first.name);
    for (bool on = query.QueryFirst(); on; on = query.QueryNext()) table->Raw(0);
  } catch (const DbfError&) {
  }
  try {
    table->AppendStart();
    for (int i = 0; i < table->FieldCount(); ++i) {
      switch (table->Field(i).type) {
        case 'D': table->AssignText(i, "20240229"); break;
        case 'L': table->AssignLogical(i, true); break;
        case 'M': table->AssignText(i, "memo text"); break;
        default: table->AssignText(i, "1");
      }
    }
    table->AppendWrite();
    if (table->GoFirst()) table->DeleteRecord();
    table->PackDataFile();
    ReadEverything(*table);
    table->Close();
  } catch (const DbfError&) {
  }
  return true;
}

bool ExerciseFuzzInput(const uint8_t* data, size_t size) {
  if (size < 2) return false;
  size_t share = data[0] | data[1] << 8;
  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  size_t dbf_size = rest.empty() ? 0 : share % (rest.size() + 1);
  return ExerciseDbfFiles(rest.substr(0, dbf_size), rest.substr(dbf_size));
}

}  // namespace vigilo
