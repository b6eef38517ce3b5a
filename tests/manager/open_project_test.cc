// Choosing the project in the Open Project and Project dialogs: the kinds
// offered, the remembered LastDsn, Browse for both families of kinds and the
// checks of OK in their order.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/ini_profile.h"
#include "manager/open_project.h"
#include "manager/project_dialog.h"
#include "tests/manager/manager_fixture.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

class ScriptedBrowser : public ProjectBrowser {
 public:
  bool ChooseCatalogueProject(ProjectSelection& selection,
                              std::vector<std::string> data_sources) override {
    offered = data_sources;
    if (!catalogue_choice) return false;
    selection.dsn = catalogue_choice->first;
    selection.project = catalogue_choice->second;
    return true;
  }
  std::optional<std::string> ChooseProjectFile(const std::string& start_dir) override {
    file_start = start_dir;
    return file_choice;
  }

  std::optional<std::pair<std::string, std::string>> catalogue_choice;
  std::optional<std::string> file_choice;
  std::vector<std::string> offered;
  std::string file_start;
};

class OpenProject : public ::testing::Test {
 protected:
  OpenProject() : logic_(home_.paths(), selection_, prompts_, browser_) {
    logic_.set_data_source_lister([] {
      return std::vector<std::string>{"BUGS", std::string(40, 'D')};
    });
    logic_.set_catalogue_lookup([this](const CServerPaths&, Reporter report, long kind,
                                       const std::string& dsn, const std::string& project)
                                    -> std::optional<std::optional<std::string>> {
      lookups_.push_back(std::to_string(kind) + "\\" + dsn + "\\" + project);
      if (!catalogue_reachable_) {
        report("Unable to connect to '" + dsn + "' data source!");
        return std::nullopt;
      }
      return std::optional<std::string>("otherdb");
    });
  }

  void SetLastDsn(const std::string& value) {
    ASSERT_TRUE(WriteProfileString(home_.paths().program_ini_path, "Misc", "LastDsn", value));
  }
  std::string LastDsn() {
    return GetProfileString(home_.paths().program_ini_path, "Misc", "LastDsn", "<none>");
  }
  // A dBase project file with its INI beside it.
  std::string MakeDbaseProject(const std::string& dir, const std::string& name,
                               bool with_link_info = true) {
    std::filesystem::create_directories(dir);
    testing::WriteText(dir + "/" + name + ".DBF", "not read here");
    testing::WriteText(dir + "/" + name + ".ini",
                       with_link_info ? "[Morvane Orvik]\nLinkInfo Datafile=link.dbf\n"
                                      : "[Morvane Orvik]\nProject Name=x\n");
    return dir + "/" + name + ".DBF";
  }

  testing::TestInstallation home_{testing::ManagerHomeBuilder()};
  RecordingPrompts prompts_;
  ScriptedBrowser browser_;
  ProjectSelection selection_;
  OpenProjectLogic logic_;
  std::vector<std::string> lookups_;
  bool catalogue_reachable_ = true;
};

TEST_F(OpenProject, OffersTheFirstThreeKindsAndNothingChosenWithoutLastDsn) {
  OpenProjectView view = logic_.Open();
  EXPECT_EQ(view.kinds,
            (std::vector<std::string>{"ORVIK Database", "Microsoft SQL Server", "Oracle Database"}));
  EXPECT_EQ(view.kind_index, -1);
  EXPECT_EQ(view.project_field, "");
  EXPECT_EQ(selection_.kind, "");
}

TEST_F(OpenProject, LastDsnOfAServerKindShowsSourceAndProject) {
  SetLastDsn("2\\ORA\\Proj\\");
  OpenProjectView view = logic_.Open();
  EXPECT_EQ(view.kind_index, 2);
  EXPECT_EQ(view.project_field, "ORA\\Proj");
  EXPECT_EQ(selection_.dsn, "ORA");
  EXPECT_EQ(selection_.project, "Proj");
}

TEST_F(OpenProject, LastDsnOfSybaseSelectsNoKindButShowsTheProject) {
  SetLastDsn("3\\SYB\\Proj\\");
  OpenProjectView view = logic_.Open();
  EXPECT_EQ(view.kind_index, -1);
  EXPECT_EQ(view.project_field, "SYB\\Proj");
}

TEST_F(OpenProject, LastDsnOfADbaseProjectShowsItsDirectory) {
  home_.WriteServerFile("morvik.ini", "[Orvik Dsn]\nDemo=" + home_.File("projects\\Demo") + "\n");
  SetLastDsn("0\\SERVERDIR\\Demo\\");
  OpenProjectView view = logic_.Open();
  EXPECT_EQ(view.kind_index, 0);
  EXPECT_EQ(view.project_field, home_.File("projects/Demo/Demo"));
}

TEST_F(OpenProject, ChangingTheKindEmptiesTheFieldSoOkOnlyBeeps) {
  SetLastDsn("2\\ORA\\Proj\\");
  logic_.Open();
  std::string field = logic_.KindChanged(1);
  EXPECT_EQ(field, "");
  EXPECT_FALSE(logic_.Ok(1, field));
  EXPECT_EQ(prompts_.beeps, 1);
  EXPECT_TRUE(prompts_.shown.empty());
  EXPECT_EQ(LastDsn(), "2\\ORA\\Proj\\");
}

TEST_F(OpenProject, BrowseForAServerKindOffersTheMachinesDataSources) {
  logic_.Open();
  browser_.catalogue_choice = {{"BUGS", "Proj"}};
  EXPECT_EQ(logic_.Browse(1), "BUGS\\Proj");
  EXPECT_EQ(browser_.offered, (std::vector<std::string>{"BUGS", std::string(40, 'D')}));
  EXPECT_EQ(selection_.kind, "1");
  browser_.catalogue_choice.reset();
  EXPECT_EQ(logic_.Browse(1), std::nullopt);  // cancelled: the field stays
}

TEST(MachineDataSources, AreCutToThirtyCharacters) {
  for (const std::string& name : MachineDataSources()) EXPECT_LE(name.size(), 30u);
}

TEST_F(OpenProject, OkForAServerProjectChecksTheIniThenTheCatalogue) {
  logic_.Open();
  selection_ = {"", "BUGS", "Proj", ""};
  EXPECT_FALSE(logic_.Ok(1, "BUGS\\Proj"));
  EXPECT_EQ(prompts_.Texts(),
            std::vector<std::string>{"Invalid Project Name " + home_.File("Proj.ini") + "!"});
  EXPECT_TRUE(lookups_.empty());

  home_.WriteServerFile("PROJ.INI", "[Morvane Orvik]\nLinkInfo Datafile=proj.lnk\n");
  catalogue_reachable_ = false;
  EXPECT_FALSE(logic_.Ok(1, "BUGS\\Proj"));
  EXPECT_EQ(prompts_.Texts().back(), "Unable to connect to 'BUGS' data source!");
  EXPECT_EQ(LastDsn(), "<none>");

  // A database name that differs from the data source's is accepted.
  catalogue_reachable_ = true;
  EXPECT_TRUE(logic_.Ok(1, "BUGS\\Proj"));
  EXPECT_EQ(lookups_.back(), "1\\BUGS\\Proj");
  EXPECT_EQ(LastDsn(), "1\\BUGS\\Proj\\");
  EXPECT_EQ(prompts_.waiting, 0);
  EXPECT_GT(prompts_.waits, 0);
}

TEST_F(OpenProject, DbaseFileGivesItsBaseNameAndTheIniBesideIt) {
  std::string file = MakeDbaseProject(home_.File("proj"), "PROJ");
  logic_.Open();
  browser_.file_choice = file;
  std::optional<std::string> field = logic_.Browse(0);
  EXPECT_EQ(field, file);
  EXPECT_EQ(browser_.file_start, home_.paths().server_dir);
  EXPECT_EQ(selection_.dsn, "SERVERDIR");
  EXPECT_EQ(selection_.project, "PROJ.dbf");

  EXPECT_TRUE(logic_.Ok(0, *field));
  EXPECT_EQ(selection_.kind, "0");
  EXPECT_EQ(selection_.project, "PROJ");
  EXPECT_EQ(LastDsn(), "0\\SERVERDIR\\PROJ\\");
  EXPECT_TRUE(prompts_.shown.empty());
}

TEST_F(OpenProject, DbaseFieldWithoutExtensionFindsTheDbfFile) {
  std::string file = MakeDbaseProject(home_.File("proj"), "Demo");
  EXPECT_TRUE(logic_.Ok(0, home_.File("proj/Demo")));
  EXPECT_EQ(selection_.project, "Demo");
}

TEST_F(OpenProject, DotInADirectoryNameDoesNotCutThePath) {
  std::string file = MakeDbaseProject(home_.File("orvik.d/proj"), "PROJ");
  EXPECT_EQ(DbaseProjectIniPath(file), home_.File("orvik.d/proj/PROJ.ini"));
  EXPECT_TRUE(logic_.Ok(0, home_.File("orvik.d/proj/PROJ")));
  EXPECT_EQ(selection_.project, "PROJ");
}

TEST_F(OpenProject, DbaseChecksFileThenIni) {
  EXPECT_FALSE(logic_.Ok(0, home_.File("none/PROJ.DBF")));
  EXPECT_EQ(prompts_.Texts().back(), "Unable to open " + home_.File("none/PROJ.DBF") + "!");

  std::string file = MakeDbaseProject(home_.File("proj"), "PROJ", false);
  EXPECT_FALSE(logic_.Ok(0, file));
  EXPECT_EQ(prompts_.Texts().back(),
            "Invalid Project Name " + home_.File("proj/PROJ.ini") + "!");
  EXPECT_EQ(LastDsn(), "<none>");
}

TEST_F(OpenProject, WithNoKindChosenTheRememberedKindStandsOrItBeeps) {
  EXPECT_FALSE(logic_.Ok(-1, "BUGS\\Proj"));
  EXPECT_EQ(logic_.Browse(-1), std::nullopt);
  EXPECT_EQ(prompts_.beeps, 2);

  SetLastDsn("3\\SYB\\Proj\\");
  logic_.Open();
  home_.WriteServerFile("Proj.ini", "[Morvane Orvik]\nLinkInfo Datafile=proj.lnk\n");
  EXPECT_TRUE(logic_.Ok(-1, "SYB\\Proj"));
  EXPECT_EQ(lookups_.back(), "3\\SYB\\Proj");
  EXPECT_EQ(LastDsn(), "3\\SYB\\Proj\\");
}

TEST(ProjectDialog, ListsTheCatalogueOfTheChosenSourceAndNeedsBothChoices) {
  testing::TestInstallation home{testing::ManagerHomeBuilder()};
  RecordingPrompts prompts;
  ProjectSelection selection{"2", "", "", ""};
  std::vector<std::string> asked;
  ProjectLogic logic(selection, {"ORA", "EMPTY"}, home.paths(), prompts,
                     [&](const CServerPaths&, Reporter, long kind, const std::string& dsn) {
                       asked.push_back(std::to_string(kind) + dsn);
                       if (dsn == "EMPTY") return std::vector<std::string>{};
                       return std::vector<std::string>{"Alpha", std::string(40, 'P')};
                     });
  EXPECT_TRUE(logic.projects().empty());
  EXPECT_FALSE(logic.Ok(-1, -1));
  EXPECT_EQ(logic.DataSourceChanged(0), 0);
  EXPECT_EQ(logic.projects(), (std::vector<std::string>{"Alpha", std::string(32, 'P')}));
  EXPECT_EQ(logic.DataSourceChanged(1), -1);
  EXPECT_TRUE(logic.projects().empty());
  EXPECT_FALSE(logic.Ok(1, -1));
  EXPECT_EQ(prompts.beeps, 2);
  EXPECT_EQ(asked, (std::vector<std::string>{"2ORA", "2EMPTY"}));
  EXPECT_EQ(prompts.waiting, 0);

  logic.DataSourceChanged(0);
  EXPECT_TRUE(logic.Ok(0, 1));
  EXPECT_EQ(selection.dsn, "ORA");
  EXPECT_EQ(selection.project, std::string(32, 'P'));
}

}  // namespace
}  // namespace vigilo
