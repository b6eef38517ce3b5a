// Fixtures of the embedded dBase engine's tests: a temporary project
// directory whose .dbf files are written by the xBase library, and a
// connection to it through the database interface.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sql/database.h"
#include "platform/xbase/dbf_table.h"

namespace vigilo::test {

// A directory under /tmp removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One record as texts in field order ("" leaves a field blank).
using Record = std::vector<std::string>;

// Creates a .dbf file with the fields and records.
void WriteDbf(const std::string& path, const std::vector<DbfField>& fields,
              const std::vector<Record>& records);

// All records of a .dbf file (deleted ones left out), read by the xBase
// library, each field as DbfTable::Text gives it.
std::vector<Record> ReadDbf(const std::string& path);

// The rows of a statement as texts.
std::vector<Record> QueryRows(Database& db, const std::string& statement);

// The dBase connection string of the system for a directory.
std::string DbaseConnectionString(const std::string& dir);

// The fields of the project tables used by the tests.
std::vector<DbfField> RuleTableFields();
std::vector<DbfField> BugsFields();      // FormID, Title, Status, Priority, DueDate, ATrail, Locker
std::vector<DbfField> HistoryFields();   // FormID, ChngDate, ChngBy, ChngWhat, ChngFrom, ChngTo
std::vector<DbfField> PostFields();      // the internal mail table ORVKPOST

// A project directory with Bugs.dbf, ChHist.dbf and their rows (see the .cc).
class DbaseProjectTest : public ::testing::Test {
 protected:
  void SetUp() override;
  std::string Dir() const { return dir_.path(); }

  TempDir dir_;
  Database db_;
};

}  // namespace vigilo::test
