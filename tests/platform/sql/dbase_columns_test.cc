// How the embedded dBase engine holds and finds column values: the
// dictionary of a text column, equality lookups on integer keys of every
// spread, and the equalities the table checks itself beside its index.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/format.h"
#include "platform/sql/text_dictionary.h"
#include "tests/platform/sql/dbase_fixture.h"

namespace vigilo::test {
namespace {

using sql::TextDictionary;

TEST(TextDictionaryTest, KeepsEachTextOnceAndFindsItAfterGrowing) {
  TextDictionary dict;
  EXPECT_EQ(dict.Find("Open"), TextDictionary::kNone);
  uint32_t open = dict.Intern("Open");
  uint32_t empty = dict.Intern("");
  EXPECT_EQ(dict.Intern("Open"), open);
  EXPECT_NE(empty, open);
  for (int i = 0; i < 1000; ++i) dict.Intern(Format("value %d", i));
  EXPECT_EQ(dict.size(), 1002u);
  EXPECT_EQ(dict.Find("Open"), open);
  EXPECT_EQ(dict.Find(""), empty);
  EXPECT_EQ(dict.At(dict.Find("value 999")), "value 999");
  EXPECT_EQ(dict.Find("value 1000"), TextDictionary::kNone);
  dict.Clear();
  EXPECT_EQ(dict.size(), 0u);
  EXPECT_EQ(dict.Find("Open"), TextDictionary::kNone);
}

// A table of numbers spread as the test says, with one record per number.
class IntegerKeyTest : public ::testing::Test {
 protected:
  void Write(const std::vector<std::string>& numbers) {
    std::vector<Record> records;
    for (size_t i = 0; i < numbers.size(); ++i) {
      records.push_back({numbers[i], Format("t%zu", i)});
    }
    WriteDbf(dir_.File("Keys.dbf"), {{"FormID", 'N', 12, 0}, {"Name", 'C', 10, 0}}, records);
    db_.Open(DbaseConnectionString(dir_.path()), Database::kNoOdbcDialog);
  }
  // The names of the records whose FormID equals the value, found through
  // the index (a join), and by a constant.
  std::vector<Record> Joined(const std::string& value) {
    return QueryRows(db_, "SELECT k.Name FROM (SELECT " + value +
                              " AS v) AS x, Keys AS k WHERE k.FormID = x.v ORDER BY 1");
  }
  std::vector<Record> Direct(const std::string& value) {
    return QueryRows(db_, "SELECT Name FROM Keys WHERE FormID = " + value + " ORDER BY 1");
  }

  TempDir dir_;
  Database db_;
};

TEST_F(IntegerKeyTest, DenseKeysFindTheirRowsAndNothingOutsideTheirRange) {
  Write({"5", "6", "7", "7", "", "9"});
  EXPECT_EQ(Joined("7"), (std::vector<Record>{{"t2"}, {"t3"}}));
  EXPECT_EQ(Joined("8"), std::vector<Record>{});
  EXPECT_EQ(Joined("4"), std::vector<Record>{});
  EXPECT_EQ(Joined("10"), std::vector<Record>{});
  EXPECT_EQ(Joined("-9223372036854775808"), std::vector<Record>{});
  EXPECT_EQ(Joined("'9'"), (std::vector<Record>{{"t5"}}));  // text as a number
  EXPECT_EQ(Joined("'nine'"), std::vector<Record>{});
  EXPECT_EQ(Joined("NULL"), std::vector<Record>{});
  EXPECT_EQ(QueryRows(db_, "SELECT Name FROM Keys WHERE FormID IS NULL"),
            (std::vector<Record>{{"t4"}}));
}

TEST_F(IntegerKeyTest, SparseAndLargeKeysAreFoundAsThemselves) {
  Write({"9999999999", "3000000000", "-12", "1410065407", "3000000000", "0"});
  EXPECT_EQ(Joined("9999999999"), (std::vector<Record>{{"t0"}}));
  EXPECT_EQ(Joined("3000000000"), (std::vector<Record>{{"t1"}, {"t4"}}));
  EXPECT_EQ(Joined("-12"), (std::vector<Record>{{"t2"}}));
  EXPECT_EQ(Joined("1410065407"), (std::vector<Record>{{"t3"}}));
  EXPECT_EQ(Joined("1410065408"), std::vector<Record>{});
  EXPECT_EQ(Joined("0"), (std::vector<Record>{{"t5"}}));
  EXPECT_EQ(Direct("3000000000.0"), (std::vector<Record>{{"t1"}, {"t4"}}));
  EXPECT_EQ(Direct("3000000000.5"), std::vector<Record>{});
}

// A column held narrow (small keys) takes written values it cannot hold:
// one that is the narrow form's NULL, then wider and wider ones.
TEST_F(IntegerKeyTest, ValuesWrittenPastTheColumnsWidthReadAsThemselves) {
  Write({"1", "2", "3", ""});
  ASSERT_EQ(Joined("2"), (std::vector<Record>{{"t1"}}));
  db_.ExecuteSQL("UPDATE Keys SET FormID = -128 WHERE Name = 't0'");
  db_.ExecuteSQL("UPDATE Keys SET FormID = 70000 WHERE Name = 't1'");
  db_.ExecuteSQL("INSERT INTO Keys (FormID, Name) VALUES (5000000000, 't4')");
  db_.ExecuteSQL("INSERT INTO Keys (FormID, Name) VALUES (NULL, 't5')");
  EXPECT_EQ(Joined("-128"), (std::vector<Record>{{"t0"}}));
  EXPECT_EQ(Joined("70000"), (std::vector<Record>{{"t1"}}));
  EXPECT_EQ(Joined("3"), (std::vector<Record>{{"t2"}}));
  EXPECT_EQ(Joined("5000000000"), (std::vector<Record>{{"t4"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT Name FROM Keys WHERE FormID IS NULL ORDER BY 1"),
            (std::vector<Record>{{"t3"}, {"t5"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT SUM(FormID) FROM Keys"),
            (std::vector<Record>{{"5000069875"}}));
}

using TableFilterTest = DbaseProjectTest;

TEST_F(TableFilterTest, EqualitiesBesideTheIndexKeepEveryRowSqliteKeeps) {
  // Both equalities reach the table: one serves the index, the other is
  // checked row by row inside it.
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM ChHist WHERE ChngWhat = 'Status' AND "
                           "ChngTo = 'Closed   ' ORDER BY 1"),
            (std::vector<Record>{{"2"}}));
  // BINARY leaves out what RTRIM would keep; the table keeps a superset and
  // SQLite decides.
  EXPECT_EQ(QueryRows(db_, "SELECT COUNT(*) FROM ChHist WHERE ChngWhat = 'Status' AND "
                           "ChngTo = 'Closed   ' COLLATE BINARY"),
            (std::vector<Record>{{"0"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT COUNT(*) FROM ChHist WHERE ChngWhat = 'Status' AND "
                           "ChngTo = 'Closed' COLLATE BINARY"),
            (std::vector<Record>{{"1"}}));
  // A value no row holds, and dates in the user's form.
  EXPECT_EQ(QueryRows(db_, "SELECT COUNT(*) FROM ChHist WHERE ChngWhat = 'Status' AND "
                           "ChngTo = 'Reopened'"),
            (std::vector<Record>{{"0"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM ChHist WHERE ChngBy = 'bob' AND "
                           "ChngDate = '01/03/1999'"),
            (std::vector<Record>{{"2"}}));
  // A join whose inner table is read by FormID and checked for ChngTo.
  EXPECT_EQ(QueryRows(db_, "SELECT DISTINCT Bugs.FormID FROM Bugs,ChHist WHERE "
                           "Bugs.FormID =ChHist.FormID AND ChHist.ChngTo = 'Fixed' AND "
                           "ChHist.ChngWhat = 'Status'"),
            (std::vector<Record>{{"4"}}));
}

TEST_F(TableFilterTest, RewrittenValuesAreFoundUnderTheirNewText) {
  EXPECT_EQ(QueryRows(db_, "SELECT COUNT(*) FROM Bugs WHERE Status = 'Open'"),
            (std::vector<Record>{{"2"}}));
  db_.ExecuteSQL("UPDATE Bugs SET Status = 'Reopened' WHERE FormID = 1");
  db_.ExecuteSQL("UPDATE Bugs SET Status = 'Open' WHERE FormID = 4");
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM Bugs WHERE Status = 'Open' ORDER BY 1"),
            (std::vector<Record>{{"3"}, {"4"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM Bugs WHERE Status = 'Reopened' AND "
                           "Priority = 1"),
            (std::vector<Record>{{"1"}}));
  EXPECT_EQ(QueryRows(db_, "SELECT FormID FROM Bugs WHERE Status = 'Fixed'"),
            std::vector<Record>{});
}

// A join under a constant reads the rows holding the constant from the
// history's bytes: the constant matches its field whatever blanks or NULs
// pad it, never a longer text or one with a NUL inside, and deleted rows
// and rows another program rewrites between statements count as decoded
// columns count them.
TEST(RawConstantTest, TheJoinKeepsTheRowsTheDecodedColumnKeeps) {
  TempDir dir;
  const std::string hist = dir.File("ChHist.dbf");
  std::vector<Record> bugs, rows;
  const char* tos[] = {"Closed", "Closed~~~", "ClosedX", "Clo~ed", "Closed"};
  for (int id = 1; id <= 12; ++id) {
    bugs.push_back({std::to_string(id), "t", "Open", "1", "", "", ""});
    rows.push_back({std::to_string(id), "19990101", "ann", "Status", "New",
                    id <= 5 ? tos[id - 1] : "Open"});
  }
  WriteDbf(dir.File("Bugs.dbf"), BugsFields(), bugs);
  WriteDbf(hist, HistoryFields(), rows);
  {
    std::ifstream in(hist, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::replace(bytes.begin(), bytes.end(), '~', '\0');
    std::ofstream(hist, std::ios::binary | std::ios::trunc) << bytes;
    auto table = DbfTable::Open(hist, true);
    ASSERT_TRUE(table->Read(5));
    table->DeleteRecord();
  }
  Database db;
  db.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  auto joined = [&db] {
    return QueryRows(db, "SELECT DISTINCT Bugs.FormID FROM Bugs CROSS JOIN ChHist WHERE "
                         "Bugs.FormID = ChHist.FormID AND ChHist.ChngTo = 'Closed' ORDER BY 1");
  };
  auto rewrite = [&hist](std::vector<std::pair<uint32_t, std::string>> changes, int seconds) {
    auto table = DbfTable::Open(hist, true);
    for (const auto& [recno, to] : changes) {
      ASSERT_TRUE(table->Read(recno));
      table->AssignText(5, to);
      table->Update();
    }
    table->Close();
    std::filesystem::last_write_time(
        hist, std::filesystem::file_time_type::clock::now() + std::chrono::seconds(seconds));
  };
  EXPECT_EQ(joined(), (std::vector<Record>{{"1"}, {"2"}}));
  rewrite({{1, "Open"}, {6, "Closed"}}, 2);  // before any checksum was taken
  EXPECT_EQ(joined(), (std::vector<Record>{{"2"}, {"6"}}));
  rewrite({{3, "Closed"}}, 4);  // after
  EXPECT_EQ(joined(), (std::vector<Record>{{"2"}, {"3"}, {"6"}}));
  EXPECT_EQ(QueryRows(db, "SELECT FormID FROM ChHist WHERE ChngTo = 'Closed' ORDER BY 1"),
            (std::vector<Record>{{"2"}, {"3"}, {"6"}}));
}

// Text fields of every width and spread read as their trimmed text: short
// and word-sized values, values that differ past their first word or only
// by inner blanks, a narrow field, and a column of mostly unique values
// whose later values are read the other way.
TEST(TextColumnTest, EveryWidthAndSpreadReadsAsItsText) {
  const std::vector<std::string> tags = {"",         "A",         "AB",          "ABCDEFGH",
                                         "ABCDEFGHI", "ABCDEFGHIJKL", "ABCDEFGHIJKM", "x   y"};
  std::vector<Record> records;
  for (int i = 0; i < 6000; ++i) {
    // Unique notes first, then a few repeated ones.
    std::string note = i < 5000 ? Format("note %05d", i) : Format("again %d", i % 3);
    if (i % 7 == 0) note += std::string(20, ' ') + "tail";
    records.push_back({Format("%d", i), tags[i % tags.size()], note, i % 2 ? "ab" : "a"});
  }
  TempDir dir;
  WriteDbf(dir.File("Texts.dbf"),
           {{"ID", 'N', 6, 0}, {"Tag", 'C', 12, 0}, {"Note", 'C', 40, 0}, {"Code", 'C', 3, 0}},
           records);
  Database db;
  db.Open(DbaseConnectionString(dir.path()), Database::kNoOdbcDialog);
  EXPECT_EQ(QueryRows(db, "SELECT Tag, COUNT(*) FROM Texts GROUP BY Tag ORDER BY Tag"),
            (std::vector<Record>{{"", "750"}, {"A", "750"}, {"AB", "750"}, {"ABCDEFGH", "750"},
                                 {"ABCDEFGHI", "750"}, {"ABCDEFGHIJKL", "750"},
                                 {"ABCDEFGHIJKM", "750"}, {"x   y", "750"}}));
  EXPECT_EQ(QueryRows(db, "SELECT Code, COUNT(*) FROM Texts GROUP BY Code ORDER BY Code"),
            (std::vector<Record>{{"a", "3000"}, {"ab", "3000"}}));
  EXPECT_EQ(QueryRows(db, "SELECT ID FROM Texts WHERE Note = 'note 04999'"),
            (std::vector<Record>{{"4999"}}));
  EXPECT_EQ(QueryRows(db, "SELECT Note FROM Texts WHERE ID = 4998"),
            (std::vector<Record>{{"note 04998" + std::string(20, ' ') + "tail"}}));
  EXPECT_EQ(QueryRows(db, "SELECT COUNT(*) FROM Texts WHERE Note = 'again 1'"),
            (std::vector<Record>{{"285"}}));
  EXPECT_EQ(QueryRows(db, "SELECT COUNT(DISTINCT Note) FROM Texts"),
            (std::vector<Record>{{"5006"}}));
}

}  // namespace
}  // namespace vigilo::test
