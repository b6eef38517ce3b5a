#include "data/table_names.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "data/field_defs_reader.h"
#include "data/name_lists.h"
#include "tests/data/odbc_sources.h"
#include "tests/support/test_installation.h"
#include "tests/support/faulty_file_system.h"

namespace vigilo {
namespace {

using testing::TestInstallation;

ProjectSource SourceIn(const TestInstallation& install, long kind) {
  ProjectSource source;
  source.key = ProjectKey(kind, "BUGS", "Proj");
  source.directory = install.server_dir();
  source.ini_path = install.ServerFile("Proj.INI");
  return source;
}

TEST(TableNames, ServerKindsQualifyWithTheProject) {
  TestInstallation install;
  install.WriteServerFile("Bugs.ini",
                          "[Morvane Orvik]\nChngHist Datafile=D:\\data\\BugsHist.dbf\n");
  TableNames names = ResolveTableNames(1, "Proj", SourceIn(install, 1), "Bugs");
  EXPECT_EQ(names.identifier, "1\\BUGS\\Proj\\Bugs");
  EXPECT_EQ(names.ini_path, install.ServerFile("Bugs.ini"));
  EXPECT_TRUE(names.has_change_history);
  EXPECT_EQ(names.change_history, "BugsHist");
  EXPECT_EQ(names.flag, "BugsVGLS");
  EXPECT_EQ(names.qualified_table, "Proj..Bugs");
  EXPECT_EQ(names.qualified_change_history, "Proj..BugsHist");
  EXPECT_EQ(names.qualified_flag, "Proj..BugsVGLSVGLS");
  EXPECT_EQ(names.from_table, "Proj..Bugs");
  EXPECT_EQ(names.from_flag, "Proj..BugsVGLSVGLS");

  TableNames sybase = ResolveTableNames(3, "Proj", SourceIn(install, 3), "Bugs");
  EXPECT_EQ(sybase.qualified_flag, "Proj..BugsVGLSVGLS");
  TableNames oracle = ResolveTableNames(2, "Proj", SourceIn(install, 2), "Bugs");
  EXPECT_EQ(oracle.qualified_table, "Proj.Bugs");
  EXPECT_EQ(oracle.qualified_change_history, "Proj.BugsHist");
  EXPECT_EQ(oracle.qualified_flag, "Proj.BugsVGLSVGLS");
}

TEST(TableNames, DbaseKindUsesPlainNames) {
  TestInstallation install;
  install.WriteServerFile("Defects.INI", "[Morvane Orvik]\nChngHist Datafile=hist\n");
  TableNames names = ResolveTableNames(0, "Proj", SourceIn(install, 0), "Defects");
  EXPECT_EQ(names.ini_path, install.ServerFile("Defects.INI"));
  EXPECT_EQ(names.change_history, "hist");  // no directory, no extension
  EXPECT_EQ(names.qualified_table, "Defects");
  EXPECT_EQ(names.qualified_change_history, "hist");
  EXPECT_EQ(names.qualified_flag, "DefeVGLS");
  EXPECT_EQ(names.from_change_history, "hist");
}

TEST(TableNames, OwnDirectoryGivesQuotedFileNames) {
  TestInstallation install;
  std::filesystem::create_directory(install.ServerFile("tables"));
  install.WriteServerFile("Proj.INI",
                          "[Table DSN]\nProj\\Bug=" + install.server_dir() + "\\tables\n");
  install.WriteServerFile("tables/BUG.INI", "[Morvane Orvik]\nChngHist Datafile=/x/Hist.DBF\n");
  TableNames names = ResolveTableNames(0, "Proj", SourceIn(install, 0), "Bug");
  EXPECT_TRUE(names.own_directory);
  EXPECT_EQ(names.directory, install.ServerFile("tables"));
  EXPECT_EQ(names.ini_path, install.ServerFile("tables/BUG.INI"));  // found in another case
  EXPECT_EQ(names.flag, "BugVGLS");  // shorter than four characters
  std::string dir = install.ServerFile("tables");
  EXPECT_EQ(names.from_table, "\"" + dir + "/Bug.DBF\" AS Bug");
  EXPECT_EQ(names.from_change_history, "\"" + dir + "/Hist.DBF\" AS Hist");
  EXPECT_EQ(names.from_flag, "\"" + dir + "/BugVGLS.DBF\" AS BugVGLS");
}

TEST(TableNames, WithoutChangeHistoryOnlyTheBasicNames) {
  TestInstallation install;
  install.WriteServerFile("Bugs.INI", "[Morvane Orvik]\nFormNames=Bugs\n");
  TableNames names = ResolveTableNames(1, "Proj", SourceIn(install, 1), "Bugs");
  EXPECT_FALSE(names.has_change_history);
  EXPECT_EQ(names.identifier, "1\\BUGS\\Proj\\Bugs");
  EXPECT_EQ(names.flag, "");
  EXPECT_EQ(names.qualified_table, "");
  EXPECT_EQ(names.from_table, "");
}

TEST(TableNames, ChangeHistoryNameForms) {
  EXPECT_EQ(ChangeHistoryName("D:\\data\\hist.dbf"), "hist");
  EXPECT_EQ(ChangeHistoryName("/srv/orvik/hist.dbf"), "hist");
  EXPECT_EQ(ChangeHistoryName("hist"), "hist");
  EXPECT_EQ(ChangeHistoryName("a.b.c"), "a.b");
  EXPECT_EQ(ChangeHistoryName(".dbf"), ".dbf");
}

class FieldDefsReading : public ::testing::Test {
 protected:
  void SetUp() override { UserNameList() = {"ann", "bob"}; }
  void TearDown() override { UserNameList().clear(); }
  TestInstallation install_;
};

TEST_F(FieldDefsReading, SectionOfTheFirstFormName) {
  install_.WriteServerFile(
      "Bugs.ini",
      "[Morvane Orvik]\nFormNames=Defect,Other\nChngHist Datafile=hist\n"
      "[Other]\nField1=Wrong,Wrong,0,10,\n"
      "[Defect]\r\n"
      "Field1=Status,Status,5,10,0,,0,1:Open|2:Closed|,100,100,100,24,513,0,0,LK,,0,,\r\n"
      "Comment=not a field\n"
      "Field2=Owner,Owner,9,10,0,,0,x|,100,100,100,24,1,0,0,,,0,,\n"
      "Field3=Summary,Summary,0,80,0,,0,a:b|,100,100,100,24,512,0,0,,,0,,\n"
      "[Next]\nField1=After,After,0,10,\n");
  std::vector<CFieldDef> fields;
  std::string message;
  EXPECT_TRUE(ReadFieldDefs(install_.ServerFile("Bugs.ini"), fields, &message));
  EXPECT_EQ(message, "");
  ASSERT_EQ(fields.size(), 8u);
  EXPECT_EQ(fields[0].name, "Status");
  EXPECT_EQ(fields[0].sequence, 1);
  EXPECT_EQ(fields[0].choices, (std::vector<std::string>{"Open", "Closed"}));
  EXPECT_EQ(fields[1].choices, (std::vector<std::string>{"ann", "bob"}));
  EXPECT_EQ(fields[2].sequence, 3);
  EXPECT_EQ(fields[2].choices, (std::vector<std::string>{"a:b"}));  // no lookup text

  EXPECT_EQ(fields[3].name, "ChngHist->ChngDate");
  EXPECT_EQ(fields[3].label, "ChngHist->ChngDate");
  EXPECT_EQ(fields[3].type, CFieldDef::kDate);
  EXPECT_EQ(fields[3].sequence, 1);
  EXPECT_EQ(fields[4].name, "ChngHist->ChngBy");
  EXPECT_EQ(fields[4].choices, (std::vector<std::string>{"ann", "bob"}));
  EXPECT_EQ(fields[5].name, "ChngHist->ChngWhat");
  EXPECT_EQ(fields[5].type, CFieldDef::kList);
  EXPECT_EQ(fields[5].choices, (std::vector<std::string>{"Status", "Summary"}));
  EXPECT_EQ(fields[6].name, "ChngHist->ChngFrom");
  EXPECT_EQ(fields[7].name, "ChngHist->ChngTo");
  EXPECT_EQ(fields[7].sequence, 5);
}

TEST_F(FieldDefsReading, MissingOrReadOnlyFileGivesOnlyPseudoFields) {
  std::vector<CFieldDef> fields;
  std::string message;
  EXPECT_FALSE(ReadFieldDefs(install_.ServerFile("None.ini"), fields, &message));
  EXPECT_EQ(message, "Unable to open " + install_.ServerFile("None.ini") + "!");
  EXPECT_EQ(fields.size(), 5u);

  install_.WriteServerFile("Ro.ini", "[Morvane Orvik]\nFormNames=F\n[F]\nField1=A,A,0,1,\n");
  testing::FaultyFileSystem files;
  files.MakeReadOnly("Ro.ini");
  fields.clear();
  EXPECT_FALSE(ReadFieldDefs(install_.ServerFile("Ro.ini"), fields, &message));
  EXPECT_EQ(fields.size(), 5u);
}

TEST_F(FieldDefsReading, ManagerFindsTheTableIniPath) {
  install_.WriteServerFile("Proj.INI",
                           "[Table DSN]\nProj\\Ext=" + install_.ServerFile("ext") + "\n");
  std::filesystem::create_directory(install_.ServerFile("ext"));
  install_.WriteServerFile("ext/EXT.INI", "");
  EXPECT_EQ(FieldDefsIniPath(install_.paths(), 1, "Proj", "Bugs"), install_.ServerFile("Bugs.ini"));
  EXPECT_EQ(FieldDefsIniPath(install_.paths(), 1, "Proj", "Ext"),
            install_.ServerFile("ext/EXT.INI"));
}

}  // namespace
}  // namespace vigilo
