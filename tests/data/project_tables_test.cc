#include "data/project_tables.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

using testing::TempDir;
using testing::WriteText;

std::vector<std::string> Field(const std::vector<ProjectIniTable>& tables,
                               std::string ProjectIniTable::*field) {
  std::vector<std::string> values;
  for (const ProjectIniTable& table : tables) values.push_back(table.*field);
  return values;
}

TEST(ProjectIniTables, ListsDataFilesWhateverTheirKeysCaseSeparatorsAndDots) {
  TempDir dir;
  WriteText(dir.File("Proj.INI"),
            "[morvane orvik]\nProject Name=Proj\nLINKINFO DATAFILE=Proj.dbf\n"
            "bugs datafile=/srv/orvik/proj/Bugs.dbf\n"
            "chnghist datafile=Hist.dbf\n"
            "Tasks DATAFILE=D:\\data.v2\\Tasks.DBF\n"
            "Notes Datafile=notes.2024.dbf\n"
            "Plain Datafile=Plain\n"
            "Hidden Datafile=\\.hidden\n"
            "Empty Datafile=\n"
            "FormNames=Bugs\n");
  std::vector<ProjectIniTable> tables = ReadProjectIniTables(dir.File("Proj.INI"));
  EXPECT_EQ(Field(tables, &ProjectIniTable::table),
            (std::vector<std::string>{"Bugs", "Tasks", "notes.2024", "Plain", "\\.hidden"}));
  EXPECT_EQ(Field(tables, &ProjectIniTable::directory),
            (std::vector<std::string>{"/srv/orvik/proj", "D:\\data.v2", "", "", ""}));
  EXPECT_EQ(tables[0].key, "bugs datafile");
  EXPECT_EQ(tables[1].value, "D:\\data.v2\\Tasks");

  EXPECT_TRUE(ReadProjectIniTables(dir.File("Missing.INI")).empty());
}

}  // namespace
}  // namespace vigilo
