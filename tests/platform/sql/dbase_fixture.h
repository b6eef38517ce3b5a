// Fixtures of the embedded dBase engine's tests: a temporary project
// directory whose .dbf files are written by the xBase library, and a
// connection to it through the database interface.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sql/database.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/temp_dir.h"

namespace vigilo::test {

using testing::ReadDbf;
using testing::Record;
using testing::TempDir;
using testing::WriteDbf;

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
