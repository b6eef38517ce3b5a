// Malformed tables and memo files give a DbfError naming the file and the
// fault, never a crash; a generated corpus of truncations and byte changes of
// valid files runs through the fuzz harness's body.
#include <random>

#include <gtest/gtest.h>

#include "platform/xbase/dbf_table.h"
#include "tests/platform/xbase/dbf_fuzz_target.h"
#include "tests/platform/xbase/xbase_test_util.h"

namespace vigilo {
namespace {

using testing::ReadText;
using testing::TempDir;
using testing::WriteText;

// A valid three-record table with a memo field; returns its .dbf bytes.
std::string ValidTable(const std::string& path, DbfVersion version = DbfVersion::kDbase4) {
  auto table = DbfTable::Create(path, {{"Name", 'C', 6, 0}, {"Id", 'N', 4, 0},
                                       {"Due", 'D', 8, 0}, {"Notes", 'M', 10, 0}}, version);
  for (int i = 1; i <= 3; ++i) {
    table->AppendStart();
    table->AssignText(0, "name" + std::to_string(i));
    table->AssignLong(1, i);
    table->AssignText(2, "2024010" + std::to_string(i));
    table->AssignText(3, std::string(100 * i, char('a' + i)));
    table->AppendWrite();
  }
  table->Close();
  return ReadText(path);
}

void ExpectOpenFails(const std::string& path, const std::string& phrase) {
  try {
    DbfTable::Open(path, false);
    ADD_FAILURE() << "opened a malformed table; expected: " << phrase;
  } catch (const DbfError& error) {
    std::string message = error.what();
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_NE(message.find(phrase), std::string::npos) << message;
  }
}

TEST(DbfMalformedTest, BrokenHeadersAreRefusedWithTheirFault) {
  TempDir dir;
  std::string path = dir.File("bad.dbf");
  std::string good = ValidTable(path);
  auto broken = [&](auto change) {
    std::string bytes = good;
    change(bytes);
    WriteText(path, bytes);
  };
  broken([](std::string& b) { b.resize(20); });
  ExpectOpenFails(path, "too short for a dBase header");
  broken([](std::string& b) { b[0] = 0x30; });
  ExpectOpenFails(path, "version byte 0x30");
  broken([](std::string& b) { b[8] = '\xFF'; b[9] = '\x7F'; });
  ExpectOpenFails(path, "header length 32767 lies past the end");
  broken([](std::string& b) { b[8] = 40; b[9] = 0; });
  ExpectOpenFails(path, "too small for one field");
  broken([](std::string& b) { b[32 + 4 * 32] = 'X'; });
  ExpectOpenFails(path, "field descriptor list has no terminator");
  broken([](std::string& b) { b[10] += 1; });
  ExpectOpenFails(path, "record length");
  broken([](std::string& b) { b[4] = 4; });
  ExpectOpenFails(path, "header states 4 records but the file holds only 3");
  broken([](std::string& b) { b.resize(b.size() - 20); });
  ExpectOpenFails(path, "header states 3 records but the file holds only 2");
  broken([](std::string& b) { b[32 + 32 + 11] = 'B'; });
  ExpectOpenFails(path, "field 2 (Id) has the unsupported type 'B'");
  broken([](std::string& b) { b[32 + 16] = 0; });
  ExpectOpenFails(path, "field 1 (Name) has width 0");
  ExpectOpenFails(dir.File("missing.dbf"), "cannot open the table");
}

TEST(DbfMalformedTest, BadMemoPointersAreRefusedWhenRead) {
  TempDir dir;
  std::string path = dir.File("memo.dbf");
  std::string good = ValidTable(path);
  auto table = DbfTable::Open(path, true);
  size_t notes = table->FieldOffset(3);
  uint32_t length = table->record_length();
  size_t record1 = table->header_length();
  table->Close();

  std::string bytes = good;
  bytes.replace(record1 + notes, 10, "     99999");
  WriteText(path, bytes);
  table = DbfTable::Open(path, false);
  ASSERT_TRUE(table->Read(1));
  EXPECT_THROW(table->Memo(3), DbfError);
  ASSERT_TRUE(table->Read(2));  // one bad pointer spoils nothing else
  EXPECT_EQ(table->Memo(3), std::string(200, 'c'));

  bytes.replace(record1 + length + notes, 10, "    12abcd");
  WriteText(path, bytes);
  table = DbfTable::Open(path, false);
  ASSERT_TRUE(table->Read(2));
  try {
    table->Memo(3);
    ADD_FAILURE() << "read a memo through a garbled pointer";
  } catch (const DbfError& error) {
    EXPECT_NE(std::string(error.what()).find("not a block number"), std::string::npos);
  }

  // A dBase IV memo whose stated length runs past the end of the .dbt.
  std::string dbt = ReadText(dir.File("memo.dbt"));
  dbt[512 + 4] = '\xFF';
  dbt[512 + 5] = '\xFF';
  WriteText(dir.File("memo.dbt"), dbt);
  WriteText(path, good);
  table = DbfTable::Open(path, false);
  ASSERT_TRUE(table->Read(1));
  try {
    table->Memo(3);
    ADD_FAILURE() << "read a memo longer than its file";
  } catch (const DbfError& error) {
    EXPECT_NE(std::string(error.what()).find("length past the end"), std::string::npos);
  }

  std::filesystem::remove(dir.File("memo.dbt"));
  table = DbfTable::Open(path, false);
  ASSERT_TRUE(table->Read(1));
  try {
    table->Memo(3);
    ADD_FAILURE() << "read a memo without a memo file";
  } catch (const DbfError& error) {
    EXPECT_NE(std::string(error.what()).find("is missing"), std::string::npos);
  }
  EXPECT_EQ(table->Text(0), "name1");
}

TEST(DbfMalformedTest, ALyingNextFreeMemoBlockNeitherOverwritesNorBloats) {
  TempDir dir;
  std::string path = dir.File("next.dbf");
  ValidTable(path);
  std::string dbt_path = dir.File("next.dbt");
  std::string dbt = ReadText(dbt_path);
  size_t size = dbt.size();
  for (std::string pointer : {std::string("\x01\0\0\0", 4), std::string("\xFF\xFF\xFF\x7F")}) {
    dbt.replace(0, 4, pointer);
    WriteText(dbt_path, dbt);
    auto table = DbfTable::Open(path, true);
    ASSERT_TRUE(table->Read(2));
    table->AssignText(3, "replacement");
    table->Close();
    table = DbfTable::Open(path, false);
    ASSERT_TRUE(table->Read(1));
    EXPECT_EQ(table->Memo(3), std::string(100, 'b'));
    ASSERT_TRUE(table->Read(2));
    EXPECT_EQ(table->Memo(3), "replacement");
    EXPECT_EQ(ReadText(dbt_path).size(), size + 512);
  }
}

TEST(DbfMalformedTest, OddWidthsOfDateAndMemoFieldsAreRefusedOnWrite) {
  TempDir dir;
  std::string path = dir.File("odd.dbf");
  DbfTable::Create(path, {{"Due", 'C', 4, 0}, {"Notes", 'C', 5, 0}})->Close();
  std::string bytes = ReadText(path);
  bytes[32 + 11] = 'D';
  bytes[64 + 11] = 'M';
  WriteText(path, bytes);
  WriteText(dir.File("odd.dbt"), std::string(512, '\0'));
  auto table = DbfTable::Open(path, true);
  table->AppendStart();
  EXPECT_THROW(table->AssignText(0, "20240101"), DbfError);
  table->AssignText(1, "a memo");
  EXPECT_THROW(table->AppendWrite(), DbfError);
  table->AppendStart();
  EXPECT_EQ(table->AppendWrite(), 1u);
  EXPECT_EQ(table->Memo(1), "");
  EXPECT_EQ(table->Text(0), "");
}

// Truncations at every length and byte changes of valid files, as the fuzz
// harness runs them: each either opens and is read through, or is refused
// with a DbfError.
TEST(DbfMalformedTest, RegressionCorpusNeverCrashes) {
  TempDir dir;
  for (DbfVersion version : {DbfVersion::kDbase3, DbfVersion::kDbase4}) {
    std::string dbf = ValidTable(dir.File("seed.dbf"), version);
    std::string dbt = ReadText(dir.File("seed.dbt"));
    int opened = 0, refused = 0;
    auto run = [&](const std::string& a, const std::string& b) {
      (ExerciseDbfFiles(a, b) ? opened : refused)++;
    };
    for (size_t n = 0; n <= dbf.size(); n += n < 200 ? 1 : 5) run(dbf.substr(0, n), dbt);
    for (size_t n = 0; n <= dbt.size(); n += 7) run(dbf, dbt.substr(0, n));
    for (size_t at = 0; at < 200; ++at) {
      for (char value : {'\0', '\xFF', '\x0D'}) {
        std::string changed = dbf;
        changed[at] = value;
        run(changed, dbt);
      }
    }
    std::mt19937 random(12345);
    for (int i = 0; i < 200; ++i) {
      std::string a = dbf, b = dbt;
      for (int flips = 0; flips < 4; ++flips) {
        std::string& target = random() % 3 == 0 ? b : a;
        target[random() % target.size()] = static_cast<char>(random() % 256);
      }
      run(a, b);
    }
    // The harness's own input form, including inputs too short to split.
    for (size_t n = 0; n < 4; ++n) {
      std::string input(n, '\x01');
      ExerciseFuzzInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    EXPECT_GT(opened, 100);
    EXPECT_GT(refused, 100);
  }
}

}  // namespace
}  // namespace vigilo
