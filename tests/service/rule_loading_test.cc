// Rule loading through the embedded dBase engine: the rule table written
// with the xBase library, read with the service's query, listed in the run
// log.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/format.h"
#include "common/ini_profile.h"
#include "data/log_stream.h"
#include "platform/host/message_line.h"
#include "service/read_thread.h"
#include "tests/service/rule_table_fixture.h"
#include "tests/service/service_fixture.h"

namespace vigilo {
namespace {

using testing::TestRule;
using testing::WriteRuleTable;

class RuleLoadingTest : public ::testing::Test {
 protected:
  RuleLoadingTest() {
    std::filesystem::create_directories(ProjectDir());
    testing::WriteTableIni(ProjectDir(), "Bugs");
    testing::WriteTableIni(ProjectDir(), "Tasks");
    // Field definitions are read where the installation keeps them: the
    // "Orvik Dsn" directory of a dBase project, the server directory else.
    WriteProfileString(install_.server_dir() + "/morvik.ini", "Orvik Dsn", "Proj", ProjectDir());
    testing::WriteTableIni(install_.server_dir(), "Bugs");
    worker_.projects.emplace();
    // Every project, whatever its kind, lives in dBase files here.
    worker_.resolvers.project = [this](const CServerPaths&, long, std::string_view,
                                       std::string_view project) {
      ProjectSource source;
      if (unreachable_ == project) return source;
      source.directory = ProjectDir();
      source.ini_path = ProjectDir() + "/" + std::string(project) + ".INI";
      source.connection_string = Format(
          "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
          ProjectDir().c_str());
      return source;
    };
    // ... and names its tables as a dBase project does.
    worker_.resolvers.table = [](long, std::string_view project, const ProjectSource& source,
                                 std::string_view table) {
      return ResolveTableNames(0, project, source, table);
    };
  }

  std::string RuleTable() const { return install_.rule_table(); }
  std::string ProjectDir() const { return install_.server_dir() + "/proj"; }
  std::string Listing() {
    worker_.WriteProjectListing();
    return log_.Text();
  }

  testing::ServiceEnvironment env_;

  testing::TestInstallation install_;
  LogStream log_{[this] { return install_.run_log(); }};
  CReadThread worker_{&log_};
  std::string unreachable_;
};

TEST_F(RuleLoadingTest, ListsProjectsTablesAndRulesInRuleTableOrder) {
  // Written out of order; Reserved1 "1" is skipped, the lower-case action
  // refused.
  WriteRuleTable(RuleTable(), {
      {7, 1, "bugs", "Proj\\Bugs", "Update"},
      {3, 0, "ORVIK", "Proj\\Tasks", "Notify"},
      {2, 0, "ORVIK", "Proj\\Bugs", "Notify"},
      {1, 0, "ORVIK", "Proj\\Bugs", "Update"},
      {5, 0, "ORVIK", "Proj\\Bugs", "Update", "1"},
      {4, 0, "ORVIK", "Proj\\Bugs", "notify"},
      {6, 1, "BUGS", "Proj\\Bugs", "Update"},
      {8, 0, "ORVIK", "Proj\\Bugs", "Update"},
  });
  ASSERT_EQ(worker_.LoadRules(RuleTable()), 1) << log_.Text();
  EXPECT_EQ(Listing(),
            "Rule refused ( Rule ID : 4 ) on table 0\\ORVIK\\Proj\\Bugs : the Action \"notify\" "
            "is neither \"Update\" nor \"Notify\"\r\n"
            "ORVIK PROJECTS \r\n\r\n"
            " 1) 0\\ORVIK\\Proj (TABLES)\r\n"
            "    1. Bugs\r\n"
            "         Update Rules       : 1,8\r\n"
            "         Notification Rules : 2\r\n"
            "         Refused Rules      : 4\r\n"
            "\r\n"
            "    2. Tasks\r\n"
            "         Notification Rules : 3\r\n"
            "\r\n"
            "\r\n"
            " 2) 1\\BUGS\\Proj (TABLES)\r\n"
            "    1. Bugs\r\n"
            "         Update Rules       : 6\r\n"
            "\r\n"
            "\r\n"
            " 3) 1\\bugs\\Proj (TABLES)\r\n"
            "    1. Bugs\r\n"
            "         Update Rules       : 7\r\n"
            "\r\n"
            "\r\n");
  // The listing closes the connections opened while the rules loaded.
  for (const auto& project : *worker_.projects) EXPECT_FALSE(project->database().IsOpen());
}

TEST_F(RuleLoadingTest, RulesOfOneTableGiveOneProjectWithOneTable) {
  WriteRuleTable(RuleTable(), {
      {10, 0, "ORVIK", "Proj\\Bugs", "Notify"},
      {11, 0, "ORVIK", "Proj\\Bugs", "Update", ""},
  });
  ASSERT_EQ(worker_.LoadRules(RuleTable()), 1);
  EXPECT_EQ(Listing(),
            "ORVIK PROJECTS \r\n\r\n"
            " 1) 0\\ORVIK\\Proj (TABLES)\r\n"
            "    1. Bugs\r\n"
            "         Update Rules       : 11\r\n"
            "         Notification Rules : 10\r\n"
            "\r\n"
            "\r\n");
}

TEST_F(RuleLoadingTest, ProjectThatCannotBeOpenedIsListedWithItsRulesWaiting) {
  unreachable_ = "Gone";
  WriteRuleTable(RuleTable(), {
      {1, 0, "ORVIK", "Gone\\Bugs", "Update"},
      {2, 0, "ORVIK", "Proj\\Bugs", "Update"},
  });
  ASSERT_EQ(worker_.LoadRules(RuleTable()), 1);
  EXPECT_EQ(Listing(),
            "ORVIK PROJECTS \r\n\r\n"
            " 1) 0\\ORVIK\\Gone (TABLES)\r\n"
            "    Rules waiting for the database : 1\r\n"
            "\r\n"
            " 2) 0\\ORVIK\\Proj (TABLES)\r\n"
            "    1. Bugs\r\n"
            "         Update Rules       : 2\r\n"
            "\r\n"
            "\r\n");
}

TEST_F(RuleLoadingTest, FlagTableIsCreatedOnceAndATableWithoutHistoryLosesItsRules) {
  WriteRuleTable(RuleTable(), {
      {1, 0, "ORVIK", "Proj\\Bugs", "Update"},
      {2, 0, "ORVIK", "Proj\\Plain", "Update"},  // its INI names no change history
  });
  ASSERT_EQ(worker_.LoadRules(RuleTable()), 1);
  const std::string text = log_.Text();
  EXPECT_EQ(text.rfind("ODBC Reported Error (While Creating Flag Table) : ", 0), 0u) << text;
  EXPECT_NE(text.find(" \r\n    Query   : CREATE TABLE  (FormID INT, RuleID INT, "
                      "CONSTRAINT pk_Proj PRIMARY KEY (FormID, RuleID))\r\n\r\n"),
            std::string::npos)
      << text;
  ASSERT_EQ(worker_.projects->size(), 1u);
  const auto& tables = worker_.projects->front()->tables();
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0]->name(), "Bugs");
  EXPECT_GE(tables[0]->field_defs.size(), 5u);  // at least the change-history fields

  // The flag table now exists: a second load finds it and logs nothing.
  Database db;
  ASSERT_TRUE(db.Open(worker_.projects->front()->source().connection_string));
  EXPECT_NO_THROW(db.ExecuteSQL("SELECT FormID, RuleID FROM BugsVGLS"));
  db.Close();
  CReadThread again(&log_);
  again.resolvers = worker_.resolvers;
  log_.Flush(kLogRecreate);
  WriteRuleTable(RuleTable(), {{1, 0, "ORVIK", "Proj\\Bugs", "Update"}});
  ASSERT_EQ(again.LoadRules(RuleTable()), 1);
  EXPECT_TRUE(log_.IsEmpty()) << log_.Text();
  EXPECT_EQ(again.projects->front()->tables().size(), 1u);
}

TEST_F(RuleLoadingTest, TableInItsOwnDirectoryGetsItsFlagTableFileThere) {
  const std::string own = install_.server_dir() + "/bugsdata";
  std::filesystem::create_directories(own);
  WriteProfileString(ProjectDir() + "/Proj.INI", "Table DSN", "Proj\\Bugs", own);
  testing::WriteTableIni(own, "Bugs");
  WriteRuleTable(RuleTable(), {{1, 0, "ORVIK", "Proj\\Bugs", "Update"}});
  ASSERT_EQ(worker_.LoadRules(RuleTable()), 1);
  EXPECT_TRUE(log_.IsEmpty()) << log_.Text();
  EXPECT_TRUE(std::filesystem::exists(own + "/BugsVGLS.DBF"));
  EXPECT_FALSE(std::filesystem::exists(ProjectDir() + "/BugsVGLS.DBF"));
}

TEST_F(RuleLoadingTest, NoLoadableRuleSetsTheStartUpMessage) {
  WriteRuleTable(RuleTable(), {
      {1, 0, "ORVIK", "Proj\\Bugs", "Update", "1"},
  });
  EXPECT_EQ(worker_.LoadRules(RuleTable()), 0);
  EXPECT_EQ(worker_.startup_message,
            "No rules are defined. Please create the rules and then start the server");
  EXPECT_TRUE(worker_.projects->empty());
  EXPECT_TRUE(log_.IsEmpty());
}

TEST_F(RuleLoadingTest, RuleTableThatCannotBeOpenedFailsSilently) {
  EXPECT_EQ(worker_.LoadRules(install_.server_dir() + "/missing/Vigtab.dbf"), 0);
  EXPECT_EQ(worker_.startup_message, "");
  EXPECT_TRUE(log_.IsEmpty());
}

TEST_F(RuleLoadingTest, UnreadableRuleTableLogsTheErrorAndTheQuery) {
  // The directory opens; the table in it does not exist.
  EXPECT_EQ(worker_.LoadRules(RuleTable()), 0);
  const std::string prefix = "ODBC Reported Error (While Loading Rules) : ";
  EXPECT_EQ(worker_.startup_message.rfind(prefix, 0), 0u) << worker_.startup_message;
  EXPECT_EQ(worker_.error_detail,
            worker_.startup_message +
                "\r\nSELECT * FROM Vigtab WHERE (RESERVED1 <> '1') OR (RESERVED1 =NULL) "
                "ORDER BY DBTYPE, DSN, DBTABLE, RULEID");
  EXPECT_EQ(log_.Text(), worker_.error_detail + "\r\n");
}

}  // namespace
}  // namespace vigilo
