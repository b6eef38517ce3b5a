#include "data/project_tables.h"

#include <gtest/gtest.h>

#include "tests/data/installation_fixture.h"

namespace vigilo {
namespace {

using testing::Installation;

std::vector<std::string> Field(const std::vector<ProjectIniTable>& tables,
                               std::string ProjectIniTable::*field) {
  std::vector<std::string> values;
  for (const ProjectIniTable& table : tables) values.push_back(table.*field);
  return values;
}

TEST(ProjectIniTables, ListsDataFilesWhateverTheirKeysCaseSeparatorsAndDots) {
  Installation install;
  install.Write("Proj.INI",
                "[morvane orvik]\nProject Name=Proj\nLINKINFO DATAFILE=Proj.dbf\n"
                "bugs datafile=/srv/orvik/proj/Bugs.dbf\n"
                "chnghist datafile=Hist.dbf\n"
                "Tasks DATAFILE=D:\\data.v2\\Tasks.DBF\n"
                "Notes Datafile=notes.2024.dbf\n"
                "Plain Datafile=Plain\n"
                "Hidden Datafile=\\.hidden\n"
                "Empty Datafile=\n"
                "FormNames=Bugs\n");
  std::vector<ProjectIniTable> tables = ReadProjectIniTables(install.File("Proj.INI"));
  EXPECT_EQ(Field(tables, &ProjectIniTable::table),
            (std::vector<std::string>{"Bugs", "Tasks", "notes.2024", "Plain", "\\.hidden"}));
  EXPECT_EQ(Field(tables, &ProjectIniTable::directory),
            (std::vector<std::string>{"/srv/orvik/proj", "D:\\data.v2", "", "", ""}));
  EXPECT_EQ(tables[0].key, "bugs datafile");
  EXPECT_EQ(tables[1].value, "D:\\data.v2\\Tasks");

  EXPECT_TRUE(ReadProjectIniTables(install.File("Missing.INI")).empty());
}

}  // namespace
}  // namespace vigilo
