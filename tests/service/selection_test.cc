#include "service/selection.h"

#include <gtest/gtest.h>

#include "data/field_defs_reader.h"
#include "data/translation_context.h"

namespace vigilo {
namespace {

// Names of table Bugs of project Proj (change history BugsHist) by kind.
SelectionNames KindOneNames() {
  return {1, "Proj..Bugs", "Proj..Bugs", "Proj..BugsHist", "Proj..BugsHist", "Proj..BugsVGLSVGLS"};
}

SelectionNames KindZeroNames() { return {0, "Bugs", "Bugs", "BugsHist", "BugsHist", "BugsVGLS"}; }

// A table kept in a directory of its own: every From-name is the quoted file.
SelectionNames OwnDirectoryNames() {
  return {0, "Bugs", "\"/srv/sep\\Bugs.DBF\" AS Bugs", "BugsHist",
          "\"/srv/sep\\BugsHist.DBF\" AS BugsHist", "\"/srv/sep\\BugsVGLS.DBF\" AS BugsVGLS"};
}

CRule RuleWith(int32_t id, std::string cond, int32_t flag = 0) {
  CRule rule;
  rule.rule_id = id;
  rule.cond = std::move(cond);
  rule.flag = flag;
  return rule;
}

// Stands in for TranslateCondition: hands back a fixed translation and
// remembers what it was given.
struct FixedTranslator {
  std::string result;
  std::string* seen;
  std::string operator()(const std::string& text) const {
    *seen = text;
    return result;
  }
};

TEST(SelectionSqlTest, SqlFormSplitsTableListAndClause) {
  CRule rule = RuleWith(7, "FROM Bugs, Users WHERE (Bugs.Owner = Users.Login)",
                        kRuleFlagSqlCondition);
  BuildSelectionSql(rule, KindOneNames(), nullptr);
  EXPECT_EQ(rule.from_list, "Bugs, Users");
  EXPECT_EQ(rule.where_condition, "(Bugs.Owner = Users.Login)");
  EXPECT_EQ(rule.uses_chnghist, 0);
  EXPECT_EQ(rule.flag_select, "SELECT DISTINCT FormID FROM Proj..BugsVGLSVGLS WHERE RuleID =7");
  EXPECT_EQ(rule.selection,
            "SELECT DISTINCT Proj..Bugs.FormID FROM Bugs, Users WHERE Proj..Bugs.FormID NOT IN "
            "(SELECT DISTINCT FormID FROM Proj..BugsVGLSVGLS WHERE RuleID =7) AND "
            "((Bugs.Owner = Users.Login))");
}

TEST(SelectionSqlTest, SqlFormTrimsBlanksAroundBothParts) {
  std::string from, where;
  ASSERT_TRUE(SplitSqlCondition("FROM   Bugs    WHERE   (a = 1)  ", &from, &where));
  EXPECT_EQ(from, "Bugs");
  EXPECT_EQ(where, "(a = 1)");
}

TEST(SelectionSqlTest, SqlFormWithoutWhereGivesASelectionThatCannotRun) {
  CRule rule = RuleWith(3, "FROM Bugs", kRuleFlagSqlCondition);
  BuildSelectionSql(rule, KindOneNames(), nullptr);
  EXPECT_EQ(rule.from_list, "Bugs");
  EXPECT_EQ(rule.where_condition, "");
  EXPECT_EQ(rule.selection.substr(rule.selection.size() - 6), "AND ()");
  std::string from, where;
  EXPECT_FALSE(SplitSqlCondition("FR", &from, &where));
  EXPECT_EQ(from + where, "");
}

TEST(SelectionSqlTest, ConditionLanguageIsRewrittenAndTranslated) {
  std::string seen;
  CRule rule = RuleWith(12, "(Status is (Open)) .AND.(Priority is .NOT.(1))");
  BuildSelectionSql(rule, KindZeroNames(),
                                FixedTranslator{"(Status = 'Open    ') AND ( NOT (Priority = 1))",
                                                &seen});
  EXPECT_EQ(seen, "(Status is (Open))  AND (Priority is  NOT (1))");
  EXPECT_EQ(rule.from_list, "Bugs");
  EXPECT_EQ(rule.uses_chnghist, 0);
  EXPECT_EQ(rule.selection,
            "SELECT DISTINCT Bugs.FormID FROM Bugs WHERE Bugs.FormID NOT IN (SELECT DISTINCT "
            "FormID FROM BugsVGLS WHERE RuleID =12) AND ((Status = 'Open    ') AND ( NOT "
            "(Priority = 1)))");
}

TEST(SelectionSqlTest, ChangeHistoryFieldsJoinTheHistoryTable) {
  std::string seen;
  CRule rule = RuleWith(5, "(Status is (Open->Closed))");
  BuildSelectionSql(
      rule, KindOneNames(),
      FixedTranslator{"(ChngHist->ChngWhat = 'Status') AND (ChngHist->ChngFrom = 'Open') AND "
                      "(ChngHist->ChngTo = 'Closed')",
                      &seen});
  EXPECT_EQ(rule.uses_chnghist, 1);
  EXPECT_EQ(rule.from_list, "Proj..Bugs,Proj..BugsHist");
  EXPECT_EQ(rule.where_condition,
            "(Proj..BugsHist.ChngWhat = 'Status') AND (Proj..BugsHist.ChngFrom = 'Open') AND "
            "(Proj..BugsHist.ChngTo = 'Closed')");
  EXPECT_EQ(rule.selection,
            "SELECT DISTINCT Proj..Bugs.FormID FROM Proj..Bugs,Proj..BugsHist WHERE "
            "Proj..Bugs.FormID =Proj..BugsHist.FormID AND Proj..Bugs.FormID NOT IN (SELECT "
            "DISTINCT FormID FROM Proj..BugsVGLSVGLS WHERE RuleID =5) AND ((Proj..BugsHist.ChngWhat "
            "= 'Status') AND (Proj..BugsHist.ChngFrom = 'Open') AND (Proj..BugsHist.ChngTo = "
            "'Closed'))");
}

TEST(SelectionSqlTest, TableInItsOwnDirectoryUsesFileFromNames) {
  std::string seen;
  CRule rule = RuleWith(9, "(ChngHist->ChngBy is (jsmith))");
  BuildSelectionSql(rule, OwnDirectoryNames(),
                                FixedTranslator{"(ChngHist->ChngBy = 'jsmith')", &seen});
  EXPECT_EQ(rule.from_list,
            "\"/srv/sep\\Bugs.DBF\" AS Bugs,\"/srv/sep\\BugsHist.DBF\" AS BugsHist");
  EXPECT_EQ(rule.flag_select,
            "SELECT DISTINCT FormID FROM \"/srv/sep\\BugsVGLS.DBF\" AS BugsVGLS WHERE RuleID =9");
  EXPECT_EQ(rule.selection,
            "SELECT DISTINCT Bugs.FormID FROM \"/srv/sep\\Bugs.DBF\" AS "
            "Bugs,\"/srv/sep\\BugsHist.DBF\" AS BugsHist WHERE Bugs.FormID =BugsHist.FormID AND "
            "Bugs.FormID NOT IN (SELECT DISTINCT FormID FROM \"/srv/sep\\BugsVGLS.DBF\" AS "
            "BugsVGLS WHERE RuleID =9) AND ((BugsHist.ChngBy = 'jsmith'))");
}

TEST(SelectionSqlTest, EmptyTranslationGivesASelectionThatCannotRun) {
  std::string seen;
  CRule rule = RuleWith(4, "(Gone is (x))");
  BuildSelectionSql(rule, KindOneNames(), FixedTranslator{"", &seen});
  EXPECT_EQ(rule.selection,
            "SELECT DISTINCT Proj..Bugs.FormID FROM Proj..Bugs WHERE Proj..Bugs.FormID NOT IN "
            "(SELECT DISTINCT FormID FROM Proj..BugsVGLSVGLS WHERE RuleID =4) AND ()");
}

TEST(SelectionSqlTest, DateFunctionOfTheConditionFollowsTheKind) {
  std::string seen;
  CRule rule = RuleWith(2, "(Due is (<Date()))");
  SelectionNames names = KindOneNames();
  names.db_type = 2;
  BuildSelectionSql(rule, names, FixedTranslator{"(Due < Date())", &seen});
  EXPECT_EQ(rule.where_condition, "(Due < sysdate)");
}

TEST(RewriteConnectorsTest, RewritesEveryConnectorKeepingTheLength) {
  std::string text = "(a is (1)) .AND.(b is .NOT.(2)) .OR.(c is (3)) .AND.(d is (4))";
  const size_t length = text.size();
  RewriteConnectors(text);
  EXPECT_EQ(text, "(a is (1))  AND (b is  NOT (2))  OR (c is (3))  AND (d is (4))");
  EXPECT_EQ(text.size(), length);
}

TEST(SubstituteDateFunctionTest, ReplacesThePlaceholderPerKind) {
  EXPECT_EQ(SubstituteDateFunction("(Due < Date())", 0), "(Due < DATE())");
  EXPECT_EQ(SubstituteDateFunction("(Due < Date())", 1), "(Due < getdate())");
  EXPECT_EQ(SubstituteDateFunction("(Due < date())", 3), "(Due < getdate())");
  EXPECT_EQ(SubstituteDateFunction("(Due < DATE())", 2), "(Due < sysdate)");
  EXPECT_EQ(SubstituteDateFunction("(Due < DATE())", 7), "(Due < DATE())");
}

TEST(SubstituteDateFunctionTest, LeavesNamesEndingInDateAndTheVeryStartAlone) {
  EXPECT_EQ(SubstituteDateFunction("(x = MYDATE())", 1), "(x = MYDATE())");
  EXPECT_EQ(SubstituteDateFunction("DATE() = Due", 1), "DATE() = Due");
  EXPECT_EQ(SubstituteDateFunction("(x = DateTime())", 1), "(x = DateTime())");
  EXPECT_EQ(SubstituteDateFunction("", 1), "");
}

TEST(SubstituteDateFunctionTest, ReplacesEveryStandaloneOccurrence) {
  EXPECT_EQ(SubstituteDateFunction("(a >= Date()) AND (b < DATE()) OR (c = xDATE())", 1),
            "(a >= getdate()) AND (b < getdate()) OR (c = xDATE())");
  EXPECT_EQ(SubstituteDateFunction("DATE()<(Date())", 2), "DATE()<(sysdate)");
}

TEST(ReplaceChngHistPrefixTest, CountsAndQualifies) {
  std::string text = "(ChngHist->ChngTo = 'x') AND (Status = 'ChngHist')";
  EXPECT_EQ(ReplaceChngHistPrefix(text, "proj.BugsHist"), 1);
  EXPECT_EQ(text, "(proj.BugsHist.ChngTo = 'x') AND (Status = 'ChngHist')");
}

}  // namespace
}  // namespace vigilo

namespace vigilo {
namespace {

// The whole chain with the real translation: connectors, change clauses,
// change-history fields and the date function.
class SelectionWithTranslationTest : public ::testing::Test {
 protected:
  SelectionWithTranslationTest() {
    CFieldDef status(1);
    status.name = status.label = "Status";
    status.width = 10;
    status.flags = CFieldDef::kHistoryFlag;
    CFieldDef due(2);
    due.name = due.label = "Due";
    due.type = CFieldDef::kDate;
    fields_ = {status, due};
    for (const CFieldDef& field : ChangeHistoryFields(fields_)) fields_.push_back(field);
  }

  CRule Build(int32_t kind, const std::string& cond, SelectionNames names) {
    TranslationContext context;
    context.kind = kind;
    names.db_type = kind;
    CRule rule = RuleWith(21, cond);
    BuildSelectionSql(rule, names, [&](const std::string& text) {
      return TranslateCondition(text, fields_, context);
    });
    return rule;
  }

  std::vector<CFieldDef> fields_;
};

TEST_F(SelectionWithTranslationTest, ChangeClauseJoinsTheHistoryOnSqlServer) {
  const CRule rule = Build(1, "(Due is (<Date())) AND (Status is (Open -> Closed))", KindOneNames());
  EXPECT_EQ(rule.uses_chnghist, 1);
  EXPECT_EQ(rule.where_condition,
            "(Due < getdate()) AND (Proj..BugsHist.ChngWhat = 'Status') AND "
            "(Proj..BugsHist.ChngFrom = 'Open') AND (Proj..BugsHist.ChngTo = 'Closed')");
  EXPECT_EQ(rule.from_list, "Proj..Bugs,Proj..BugsHist");
}

TEST_F(SelectionWithTranslationTest, DbaseConnectorsAreRewrittenBeforeTranslation) {
  const CRule rule =
      Build(0, "(Status is (Closed)) .AND.(Due is .NOT.(Date()))", KindZeroNames());
  EXPECT_EQ(rule.uses_chnghist, 0);
  EXPECT_EQ(rule.where_condition, "(Status = 'Closed    ') AND ( NOT (Due = DATE()))");
  EXPECT_EQ(rule.selection,
            "SELECT DISTINCT Bugs.FormID FROM Bugs WHERE Bugs.FormID NOT IN (SELECT DISTINCT "
            "FormID FROM BugsVGLS WHERE RuleID =21) AND ((Status = 'Closed    ') AND ( NOT (Due "
            "= DATE())))");
}

TEST_F(SelectionWithTranslationTest, OwnerKindUsesSysdateAndDoublesApostrophes) {
  SelectionNames names{2, "proj.Bugs", "proj.Bugs", "proj.BugsHist", "proj.BugsHist",
                       "proj.BugsVGLSVGLS"};
  const CRule rule = Build(2, "(Due is (>Date())) OR (ChngHist->ChngTo is (won't))", names);
  EXPECT_EQ(rule.where_condition,
            "(Due > sysdate) OR (proj.BugsHist.ChngTo = 'won''t')");
}

}  // namespace
}  // namespace vigilo
