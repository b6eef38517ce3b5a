// A query evaluates its filter a block of records at a time; every filter
// shape must select exactly the records the expression holds for one record
// at a time, over several blocks, with numbers and dates in every stored form
// and deleted records.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/format.h"
#include "platform/xbase/dbf_query.h"
#include "platform/xbase/dbf_table.h"
#include "platform/xbase/xbase_expression.h"
#include "tests/platform/xbase/xbase_test_util.h"

namespace vigilo {
namespace {

constexpr uint32_t kRecords = 14000;  // over two read blocks of 43-byte records

// Field bytes as other programs store them, not only as the library writes.
const char* kGroups[] = {"dev       ", "Dev       ", "dev2      ", "          ", "qa        ",
                         "DEV       ", "devops    ", "\xe9v@[`{z~Az"};
const char* kNumbers[] = {"       1", "00000001", "1       ", "      -1", "        ",
                          "       2", "     1.0", "      12", "       9", "  +1    "};
const char* kAmounts[] = {"    1.50", "     1.5", "    0.00", "        ", "   -2.25"};
const char* kDates[] = {"20230115", "20231231", "20230231", "        ", "abcdefgh",
                        "20240101", "20221231", "2023063 ", "20230601"};

std::string WriteTable(const testing::TempDir& dir) {
  const std::string path = dir.File("rows.dbf");
  auto table = DbfTable::Create(path, {{"Grp", 'C', 10, 0}, {"Num", 'N', 8, 0},
                                       {"Amt", 'N', 8, 2}, {"Since", 'D', 8, 0},
                                       {"Name", 'C', 8, 0}});
  const size_t header = table->header_length();
  table->Close();
  std::string bytes = testing::ReadText(path).substr(0, header);
  for (uint32_t i = 0; i < kRecords; ++i) {
    bytes += i % 13 == 5 ? '*' : ' ';
    bytes += kGroups[i % 8];
    bytes += kNumbers[i % 10];
    bytes += kAmounts[i % 5];
    bytes += kDates[(i / 3) % 9];
    bytes += Format("n%07u", i);
  }
  bytes += '\x1A';
  bytes[4] = char(kRecords & 0xFF);
  bytes[5] = char((kRecords >> 8) & 0xFF);
  bytes[6] = char((kRecords >> 16) & 0xFF);
  bytes[7] = char(kRecords >> 24);
  testing::WriteText(path, bytes);
  return path;
}

// The records the filter holds for, one record at a time.
std::vector<uint32_t> OneAtATime(DbfTable& table, const std::string& filter, bool deleted) {
  auto expression = XbaseExpression::Parse(filter, &table);
  std::vector<uint32_t> records;
  for (uint32_t recno = 1, count = table.RecordCount(); recno <= count; ++recno) {
    EXPECT_TRUE(table.Read(recno));
    if (!deleted && table.IsDeleted()) continue;
    if (expression->IsTrue(XbaseRow{table.RecordBytes(), recno, &table})) {
      records.push_back(recno);
    }
  }
  table.Read(0);
  return records;
}

std::vector<uint32_t> Queried(DbfTable& table, const std::string& filter) {
  DbfQuery query(table);
  query.SetQuery(filter);
  std::vector<uint32_t> records;
  for (bool on = query.QueryFirst(); on; on = query.QueryNext()) records.push_back(table.RecNo());
  return records;
}

TEST(DbfQueryBlockTest, EveryFilterShapeSelectsWhatOneRecordAtATimeSelects) {
  testing::TempDir dir;
  auto table = DbfTable::Open(WriteTable(dir), false);
  const char* filters[] = {
      "Grp = 'dev'",
      "Grp = 'dev       '",
      "Grp = 'dev         x'",
      "Grp = 'dev         '",
      "Grp == 'dev'",
      "Grp <> 'dev'",
      "Grp >= 'dev2'",
      "UPPER(Grp) = 'DEV'",
      "UPPER(Grp) = UPPER('dev   ')",
      "UPPER(Grp) = 'DEVOPS    '",
      "UPPER(Grp) = 'DEVOPS    x'",
      "UPPER(Name) = 'N0000012'",
      // Only a to z change case: not the bytes next to them, nor those above 127.
      "UPPER(Grp) = '\xe9V@[`{Z~AZ'",
      "UPPER(Grp) = '\xc9V@[`{Z~AZ'",
      "DTOS(Since) >= '20230101'",
      "DTOS(Since) <> '20230231'",
      "DTOS(Since) <= '20231231' .AND. DTOS(Since) >= '        '",
      "Num = 1",
      "Num <> 1",
      "Num = 0",
      "Num = 12",
      "UPPER(Name) = 'N000001'",
      "Num > 0 .AND. Num < 10",
      "Num <= -1",
      "Amt = 1.5",
      "Amt < 0",
      "DTOS(Since) >= '20230101' .AND. DTOS(Since) <= '20231231'",
      "DTOS(Since) > '2023' .AND. DTOS(Since) < '2024'",
      "DTOS(Since) = '        '",
      "DTOS(Since) < '20230601'",
      "DTOS(Since) > '20230115'",
      "DTOS(Since) > '20230115' .AND. DTOS(Since) <= '20230115'",
      "DTOS(Since) > '        ' .AND. DTOS(Since) < '20230601'",
      "Since >= CTOD('01/01/2023')",
      ".NOT. (Grp = 'qa')",
      "Grp = 'qa' .OR. Num = 2",
      "(Grp = 'qa' .OR. Num = 2) .AND. .NOT. DTOS(Since) > '20230601'",
      "'ev' $ Grp .OR. .NOT. Num = 1",
      "RECNO() > 1500 .AND. Grp = 'dev'",
      "TRIM(Name) = 'n000012'",
      "DELETED()",
  };
  int selective = 0;  // filters that keep some records but not all
  for (const char* filter : filters) {
    std::vector<uint32_t> expected = OneAtATime(*table, filter, false);
    EXPECT_EQ(Queried(*table, filter), expected) << filter;
    selective += !expected.empty() && expected.size() < kRecords - kRecords / 13;
  }
  EXPECT_GE(selective, 22);
  table->ShowDeleted(true);
  for (const char* filter : {"Grp = 'dev'", "DELETED() .OR. Num = 2", ".NOT. Grp = 'qa'"}) {
    EXPECT_EQ(Queried(*table, filter), OneAtATime(*table, filter, true)) << filter;
  }
}

// A number reads as its value whatever its stored form: right-aligned digits
// (read a word at a time), leading zeros, left-aligned, signed, with a point.
TEST(DbfQueryBlockTest, NumbersInEveryStoredFormReadAsTheirValue) {
  testing::TempDir dir;
  auto table = DbfTable::Open(WriteTable(dir), false);
  const std::vector<std::pair<const char*, std::vector<int>>> cases = {
      {"Num = 1", {0, 1, 2, 6, 9}}, {"Num = 12", {7}}, {"Num = -1", {3}}, {"Num > 8", {7, 8}}};
  for (const auto& [filter, forms] : cases) {
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < kRecords; ++i) {
      if (i % 13 == 5) continue;  // deleted
      if (std::find(forms.begin(), forms.end(), int(i % 10)) != forms.end()) {
        expected.push_back(i + 1);
      }
    }
    EXPECT_EQ(Queried(*table, filter), expected) << filter;
  }
}

// Fields whose words lie otherwise in the record: a short text at the
// record's end (no word may reach past it), texts longer than two words, and
// a number with bytes ahead of its last word.
TEST(DbfQueryBlockTest, FieldsAtTheRecordsEndOrWiderThanAWordSelectAsOneAtATime) {
  testing::TempDir dir;
  const std::string path = dir.File("edges.dbf");
  auto created = DbfTable::Create(
      path, {{"Qty", 'N', 10, 0}, {"Note", 'C', 20, 0}, {"Code", 'C', 3, 0}});
  const size_t header = created->header_length();
  created->Close();
  const char* qtys[] = {"         5", "0000000005", "5         ", "        -5", "          ",
                        "  5       ", "  12345678", "1234567890", "       5.0", "x        5"};
  const char* notes[] = {"the quick brown fox ", "THE QUICK BROWN FOX!", "the quick brown fax ",
                         "the quick br        ", "The Quick Brown Fox "};
  const char* codes[] = {"ab ", "abc", "AB ", "aB ", "   ", "ab\xe1"};
  std::string bytes = testing::ReadText(path).substr(0, header);
  const uint32_t count = 10 * 5 * 6 * 2;
  for (uint32_t i = 0; i < count; ++i) {
    bytes += i % 7 == 3 ? '*' : ' ';
    bytes += std::string(qtys[i % 10]) + notes[(i / 60) % 5] + codes[(i / 10) % 6];
  }
  bytes += '\x1A';
  for (int b = 0; b < 4; ++b) bytes[4 + b] = char((count >> (8 * b)) & 0xFF);
  testing::WriteText(path, bytes);
  auto table = DbfTable::Open(path, false);
  for (const char* filter :
       {"Code = 'ab'", "Code = 'abc'", "Code = 'ab   '", "UPPER(Code) = 'AB'",
        "Note = 'the quick brown fox'", "UPPER(Note) = 'THE QUICK BROWN FOX'",
        "Note = 'the quick br'", "UPPER(Note) = 'THE QUICK BROWN F'", "Qty = 5", "Qty <> 5",
        "Qty = 0", "Qty = 12345678"}) {
    const std::vector<uint32_t> expected = OneAtATime(*table, filter, false);
    EXPECT_FALSE(expected.empty()) << filter;
    EXPECT_EQ(Queried(*table, filter), expected) << filter;
  }
}

}  // namespace
}  // namespace vigilo
