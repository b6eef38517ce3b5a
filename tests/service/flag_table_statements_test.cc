#include <gtest/gtest.h>

#include "service/flag_table.h"
#include "service/selection.h"

namespace vigilo {
namespace {

TableNames Names(long kind, bool own_directory = false) {
  TableNames names;
  names.table = "Bugs";
  names.directory = "/srv/sep";
  names.own_directory = own_directory;
  names.has_change_history = true;
  names.change_history = "BugsHist";
  names.flag = "BugsVGLS";
  if (kind == 0) {
    names.qualified_table = "Bugs";
    names.qualified_change_history = "BugsHist";
    names.qualified_flag = "BugsVGLS";
  } else if (kind == 2) {
    names.qualified_table = "proj.Bugs";
    names.qualified_change_history = "proj.BugsHist";
    names.qualified_flag = "proj.BugsVGLSVGLS";
  } else {
    names.qualified_table = "Proj..Bugs";
    names.qualified_change_history = "Proj..BugsHist";
    names.qualified_flag = "Proj..BugsVGLSVGLS";
  }
  auto from = [&](const std::string& qualified) {
    return own_directory ? "\"/srv/sep/" + qualified + ".DBF\" AS " + qualified : qualified;
  };
  names.from_table = from(names.qualified_table);
  names.from_change_history = from(names.qualified_change_history);
  names.from_flag = from(names.qualified_flag);
  return names;
}

TEST(FlagTableStatementsTest, CreateNamesTheConstraintAfterProjectAndFlagTable) {
  EXPECT_EQ(CreateFlagTableStatement(1, "Proj", Names(1)),
            "CREATE TABLE Proj..BugsVGLSVGLS (FormID NUMERIC(19), RuleID INT, CONSTRAINT "
            "pk_ProjBugsVGLSVGLS PRIMARY KEY (FormID, RuleID))");
  EXPECT_EQ(CreateFlagTableStatement(2, "proj", Names(2)),
            "CREATE TABLE proj.BugsVGLSVGLS (FormID NUMERIC(19), RuleID INT, CONSTRAINT "
            "pk_projBugsVGLSVGLS PRIMARY KEY (FormID, RuleID))");
  EXPECT_EQ(CreateFlagTableStatement(0, "Proj", Names(0)),
            "CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT pk_ProjBugsVGLS PRIMARY "
            "KEY (FormID, RuleID))");
}

TEST(FlagTableStatementsTest, TableInItsOwnDirectoryCreatesAndFillsTheQuotedFile) {
  const TableNames names = Names(0, true);
  EXPECT_EQ(CreateFlagTableStatement(0, "Proj", names),
            "CREATE TABLE \"/srv/sep/BugsVGLS.DBF\" (FormID INT, RuleID INT, CONSTRAINT "
            "pk_ProjBugsVGLS PRIMARY KEY (FormID, RuleID))");
  EXPECT_EQ(FlagInsertTarget(0, names), "\"/srv/sep/BugsVGLS.DBF\"");
  EXPECT_EQ(FlagInsertStatement(FlagInsertTarget(0, names), 12, 3),
            "INSERT INTO \"/srv/sep/BugsVGLS.DBF\"(FormID,RuleID) VALUES(12,3)");
  EXPECT_EQ(FlagInsertTarget(1, Names(1)), "Proj..BugsVGLSVGLS");
}

TEST(FlagTableStatementsTest, RecordNumbersPastTwoToThe31AreWrittenWhole) {
  EXPECT_EQ(FlagInsertStatement("BugsVGLS", 9999999999L, 3),
            "INSERT INTO BugsVGLS(FormID,RuleID) VALUES(9999999999,3)");
}

TEST(FlagTableStatementsTest, StaleFlagsFollowTheRulesSelection) {
  CRule plain;
  plain.rule_id = 8;
  plain.cond = "(Status is (Closed))";
  BuildSelectionSql(plain, SelectionNamesOf(Names(1), 1),
                    [](const std::string&) { return std::string("(Status = 'Closed')"); });
  EXPECT_EQ(StaleFlagsStatement(plain, Names(1)),
            "DELETE FROM Proj..BugsVGLSVGLS WHERE FormID NOT IN (SELECT DISTINCT "
            "Proj..Bugs.FormID FROM Proj..Bugs WHERE (Status = 'Closed')) AND RuleID =8");

  CRule history;
  history.rule_id = 9;
  history.cond = "(ChngHist->ChngBy is (ann))";
  BuildSelectionSql(history, SelectionNamesOf(Names(2), 2), [](const std::string&) {
    return std::string("(ChngHist->ChngBy = 'ann')");
  });
  EXPECT_EQ(StaleFlagsStatement(history, Names(2)),
            "DELETE FROM proj.BugsVGLSVGLS WHERE FormID NOT IN (SELECT DISTINCT proj.Bugs.FormID "
            "FROM proj.Bugs,proj.BugsHist WHERE proj.Bugs.FormID =proj.BugsHist.FormID AND "
            "(proj.BugsHist.ChngBy = 'ann')) AND RuleID =9");
}

}  // namespace
}  // namespace vigilo
