// Interoperability with an independent dBase implementation: GDAL's ogr2ogr
// writes a table this library must read value for value, and ogrinfo must
// read the rule table this library creates with every field intact.
#include <gtest/gtest.h>

#include "platform/xbase/dbf_query.h"
#include "platform/xbase/dbf_table.h"
#include "tests/platform/xbase/xbase_test_util.h"

namespace vigilo {
namespace {

using testing::TempDir;
using testing::WriteText;
using xbase_test::HaveProgram;
using xbase_test::RunCommand;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(DbfInteropTest, ReadsATableWrittenByOgr2ogr) {
  if (!HaveProgram("ogr2ogr")) GTEST_SKIP() << "ogr2ogr (gdal-bin) is not installed";
  TempDir dir;
  WriteText(dir.File("in.csv"),
            "Name,Count,Price,Due,Flag\n"
            "alpha,42,12.5,2024/02/29,true\n"
            "\"with, comma\",-7,-0.25,1999/12/31,false\n"
            ",,,,\n");
  WriteText(dir.File("in.csvt"),
            "\"String(20)\",\"Integer(8)\",\"Real(10.2)\",\"Date\",\"Integer(Boolean)\"\n");
  int status = -1;
  std::string output = RunCommand("cd " + dir.path() +
                                      " && ogr2ogr -f 'ESRI Shapefile' out.dbf in.csv 2>&1",
                                  &status);
  ASSERT_EQ(status, 0) << output;

  auto table = DbfTable::Open(dir.File("out.dbf"), false);
  ASSERT_EQ(table->FieldCount(), 5);
  EXPECT_EQ(table->Field(0), (DbfField{"Name", 'C', 20, 0}));
  EXPECT_EQ(table->Field(1), (DbfField{"Count", 'N', 8, 0}));
  EXPECT_EQ(table->Field(2), (DbfField{"Price", 'N', 10, 2}));
  EXPECT_EQ(table->Field(3), (DbfField{"Due", 'D', 8, 0}));
  ASSERT_EQ(table->RecordCount(), 3u);

  ASSERT_TRUE(table->GoFirst());
  EXPECT_EQ(table->FieldText(0), "alpha               ");
  EXPECT_EQ(table->FieldLong(1), 42);
  EXPECT_DOUBLE_EQ(*table->Number(2), 12.5);
  EXPECT_EQ(table->Text(3), "20240229");
  EXPECT_EQ(table->FieldLong(4), 1);
  ASSERT_TRUE(table->Skip());
  EXPECT_EQ(table->Text(0), "with, comma");
  EXPECT_EQ(table->FieldLong(1), -7);
  EXPECT_DOUBLE_EQ(*table->Number(2), -0.25);
  EXPECT_EQ(table->Text(3), "19991231");
  EXPECT_EQ(table->FieldLong(4), 0);
  ASSERT_TRUE(table->Skip());
  EXPECT_EQ(table->Text(0), "");
  EXPECT_FALSE(table->Number(1).has_value());  // GDAL writes an absent number as asterisks
  EXPECT_FALSE(table->Number(2).has_value());
  EXPECT_FALSE(table->Skip());

  DbfQuery query(*table);
  query.SetQuery("Count < 0 .AND. DTOS(Due) = '19991231' .AND. 'comma' $ Name");
  ASSERT_TRUE(query.QueryFirst());
  EXPECT_EQ(table->RecNo(), 2u);
  EXPECT_FALSE(query.QueryNext());
}

TEST(DbfInteropTest, OgrinfoReadsTheRuleTableThisLibraryCreates) {
  if (!HaveProgram("ogrinfo")) GTEST_SKIP() << "ogrinfo (gdal-bin) is not installed";
  TempDir dir;
  std::string path = dir.File("Vigtab.dbf");
  {
    auto rules = DbfTable::Create(
        path,
        {{"RuleId", 'N', 8, 0},     {"DbType", 'N', 8, 0},     {"Dsn", 'C', 64, 0},
         {"DbTable", 'C', 64, 0},   {"Action", 'C', 32, 0},    {"Target", 'C', 32, 0},
         {"Values", 'C', 128, 0},   {"Cond", 'C', 255, 0},     {"Flag", 'N', 8, 0},
         {"Reserved1", 'C', 32, 0}, {"Reserved2", 'C', 32, 0}, {"Reserved3", 'C', 32, 0},
         {"Reserved4", 'C', 32, 0}, {"Reserved5", 'C', 32, 0}},
        DbfVersion::kDbase4, {"RuleId", "DbTable", "Action", "Target"});
    rules->AppendStart();
    rules->AssignLong(0, 12345678);
    rules->AssignLong(1, 1);
    rules->AssignText(2, "Bugs");
    rules->AssignText(3, "Proj\\Bugs");
    rules->AssignText(4, "Notify");
    rules->AssignText(5, "Group");
    rules->AssignText(6, "dev,qa");
    rules->AssignText(7, std::string("(Status is (Open,Fixed)) .AND.(Owner is (jsmith))") +
                             std::string(200, 'x'));
    rules->AssignLong(8, 3);
    rules->AssignText(9, "1");
    rules->AssignText(13, "last");
    rules->AppendWrite();
    rules->AppendStart();
    rules->AssignLong(0, 2);
    rules->AssignText(4, "Update");
    rules->AppendWrite();
    rules->Close();
  }
  int status = -1;
  std::string info = RunCommand("ogrinfo -ro -al " + path + " 2>&1", &status);
  ASSERT_EQ(status, 0) << info;
  EXPECT_TRUE(Contains(info, "Feature Count: 2")) << info;
  for (const char* definition :
       {"RuleId: Integer (8.0)", "DbType: Integer (8.0)", "Dsn: String (64.0)",
        "DbTable: String (64.0)", "Action: String (32.0)", "Target: String (32.0)",
        "Values: String (128.0)", "Cond: String (255.0)", "Flag: Integer (8.0)",
        "Reserved1: String (32.0)", "Reserved5: String (32.0)"}) {
    EXPECT_TRUE(Contains(info, definition)) << definition << "\n" << info;
  }
  for (const std::string& value : std::vector<std::string>{"RuleId (Integer) = 12345678", "DbType (Integer) = 1", "Dsn (String) = Bugs",
        "DbTable (String) = Proj\\Bugs", "Action (String) = Notify", "Target (String) = Group",
        "Values (String) = dev,qa",
        "Cond (String) = (Status is (Open,Fixed)) .AND.(Owner is (jsmith))" +
            std::string(200, 'x') + "\n",
        "Flag (Integer) = 3", "Reserved1 (String) = 1", "Reserved5 (String) = last",
        "RuleId (Integer) = 2", "Action (String) = Update"}) {
    EXPECT_TRUE(Contains(info, value)) << value << "\n" << info;
  }
}

TEST(DbfInteropTest, OgrinfoReadsDatesLogicalsAndDecimals) {
  if (!HaveProgram("ogrinfo")) GTEST_SKIP() << "ogrinfo (gdal-bin) is not installed";
  TempDir dir;
  std::string path = dir.File("types.dbf");
  {
    auto table = DbfTable::Create(path, {{"Due", 'D', 8, 0}, {"Done", 'L', 1, 0},
                                         {"Price", 'N', 10, 2}, {"Ratio", 'F', 12, 4}});
    table->AppendStart();
    table->AssignText(0, "20240229");
    table->AssignLogical(1, true);
    table->AssignNumber(2, -12.5);
    table->AssignNumber(3, 0.0625);
    table->AppendWrite();
  }
  int status = -1;
  std::string info = RunCommand("ogrinfo -ro -al " + path + " 2>&1", &status);
  ASSERT_EQ(status, 0) << info;
  for (const char* expected : {"Due: Date", "Price: Real (10.2)", "Ratio: Real (12.4)",
                               "Due (Date) = 2024/02/29", "Price (Real) = -12.50",
                               "Ratio (Real) = 0.0625"}) {
    EXPECT_TRUE(Contains(info, expected)) << expected << "\n" << info;
  }
  EXPECT_TRUE(Contains(info, "Done (Integer(Boolean)) = 1") ||
              Contains(info, "Done (String) = T"))
      << info;
}

}  // namespace
}  // namespace vigilo
