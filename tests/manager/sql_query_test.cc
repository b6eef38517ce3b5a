// The SQL Query dialog and the Select Tables dialog it opens.
#include <gtest/gtest.h>

#include <filesystem>

#include "manager/select_tables.h"
#include "manager/sql_query.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

TEST(SqlQueryDialog, CutsAStoredQueryIntoTablesAndClause) {
  EXPECT_EQ(SplitSqlCondition("FROM Bugs, Tasks WHERE (Bugs.Status = 'Open')"),
            (std::pair<std::string, std::string>{"Bugs, Tasks", "Bugs.Status = 'Open'"}));
  EXPECT_EQ(SplitSqlCondition("FROM  Bugs  WHERE ( x = (1) )"),
            (std::pair<std::string, std::string>{"Bugs", "x = (1)"}));
  EXPECT_EQ(SplitSqlCondition("FROM Bugs"), (std::pair<std::string, std::string>{"Bugs", ""}));
  EXPECT_EQ(SplitSqlCondition("FROM Bugs WHERE"),
            (std::pair<std::string, std::string>{"Bugs", ""}));
  EXPECT_EQ(SplitSqlCondition(""), (std::pair<std::string, std::string>{}));
}

TEST(SqlQueryDialog, OkNeedsTablesAndAClauseAndFitsTheRule) {
  RecordingPrompts prompts;
  SqlQueryLogic logic(prompts);
  EXPECT_FALSE(logic.Ok("", "x = 1"));
  EXPECT_FALSE(logic.Ok("Bugs", ""));
  EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Please enter a table to select from.",
                                                       "Please enter a valid where clause."}));
  EXPECT_EQ(prompts.shown[0].caption, "Morvane Vigilo");
  EXPECT_EQ(logic.Ok("Bugs", "Status = 'Open'"), "FROM Bugs WHERE (Status = 'Open')");

  // 127 + 255 characters would not fit the rule's 255.
  EXPECT_FALSE(logic.Ok(std::string(127, 't'), std::string(255, 'w')));
  EXPECT_EQ(prompts.shown.size(), 3u);
  EXPECT_TRUE(logic.Ok(std::string(100, 't'), std::string(141, 'w')));  // exactly 255
}

TEST(SelectTablesDialog, ListsTheProjectsTablesByTheirFromNames) {
  testing::TestInstallation home{testing::ManagerHomeBuilder()};
  home.WriteServerFile(
      "Proj.INI",
      "[Morvane Orvik]\nProject Name=Proj\nLinkInfo Datafile=Proj.dbf\n"
      "Bugs Datafile=Bugs.dbf\nChngHist Datafile=Hist.dbf\nTasks Datafile=Tasks\n");
  EXPECT_EQ(ProjectTableNames(home.paths(), 1, "BUGS", "Proj"),
            (std::vector<std::string>{"Proj", "Bugs", "Tasks"}));
  std::vector<std::string> names = ProjectTableFromNames(home.paths(), 1, "BUGS", "Proj");
  EXPECT_EQ(names, (std::vector<std::string>{"Proj..Proj", "Proj..Bugs", "Proj..Tasks"}));
  EXPECT_TRUE(ProjectTableNames(home.paths(), 1, "BUGS", "Missing").empty());

  RecordingPrompts prompts;
  SelectTablesLogic logic(names, "Proj..Tasks, Proj..Proj,Other", prompts);
  EXPECT_EQ(logic.InitiallySelected(), (std::vector<size_t>{0, 2}));
  EXPECT_EQ(logic.Ok({2, 1}), "Proj..Bugs,Proj..Tasks");
  EXPECT_FALSE(logic.Ok({}));
  EXPECT_EQ(prompts.beeps, 1);
}

// A dBase project INI that names its data files with "/": the query names
// the table by its From-name, never by the data file's path.
TEST(SelectTablesDialog, NamesSlashSeparatedDbaseDataFilesByTheirTables) {
  testing::TestInstallation home{testing::ManagerHomeBuilder()};
  std::filesystem::create_directory(home.File("proj"));
  home.WriteServerFile("morvik.ini", "[Orvik Dsn]\nProj=" + home.File("proj") + "\n");
  home.WriteServerFile("proj/Proj.ini", "[Morvane Orvik]\nLinkInfo Datafile=Proj.dbf\nBugs Datafile=" +
                                            home.File("proj/Bugs.dbf") + "\n");
  EXPECT_EQ(ProjectTableFromNames(home.paths(), 0, "SERVERDIR", "Proj"),
            (std::vector<std::string>{"Proj", "Bugs"}));

  RecordingPrompts prompts;
  SelectTablesLogic logic(ProjectTableFromNames(home.paths(), 0, "SERVERDIR", "Proj"), "", prompts);
  EXPECT_EQ(logic.Ok({0, 1}), "Proj,Bugs");
}

}  // namespace
}  // namespace vigilo
