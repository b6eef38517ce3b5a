#include "data/condition.h"

#include <gtest/gtest.h>

#include "tests/data/translation_fixture.h"

namespace vigilo {
namespace {

using testing::Manager;
using testing::SampleFields;
using testing::Service;

const char kSqlExample[] =
    "(Status is (Open,Fixed))  AND ((Priority is  NOT (1-3))  OR (Owner is (jsmith)))";
const char kXbaseExample[] =
    "(Status is (Open,Fixed)) .AND.((Priority is .NOT.(1-3)) .OR.(Owner is (jsmith)))";

class ConditionTranslation : public ::testing::Test {
 protected:
  std::string Translate(std::string condition, const TranslationContext& context) {
    if (context.IsService()) RewriteConnectors(condition);
    return TranslateCondition(condition, fields_, context);
  }
  std::vector<CFieldDef> fields_ = SampleFields();
};

TEST_F(ConditionTranslation, GroupedExampleOnEveryServerKind) {
  for (long kind : {1L, 2L, 3L}) {
    EXPECT_EQ(Translate(kSqlExample, Service(kind)),
              "((Status = 'Open') OR (Status = 'Fixed')) AND (( NOT (Priority >= 1 AND "
              "Priority <= 3)) OR (Owner = 'jsmith'))");
  }
}

TEST_F(ConditionTranslation, GroupedExampleOnDbaseKind) {
  // The service rewrites the xBase connectors and writes SQL.
  EXPECT_EQ(Translate(kXbaseExample, Service(0)),
            "((Status = 'Open    ') OR (Status = 'Fixed    ')) AND (( NOT (Priority >= 1 AND "
            "Priority <= 3)) OR (Owner = 'jsmith    '))");
  // The rule manager writes the xBase filter dialect.
  EXPECT_EQ(Translate(kXbaseExample, Manager(0)),
            "((Status = 'Open    ') .OR. (Status = 'Fixed    ')).AND.((.NOT.(Priority >= 1 "
            ".AND. Priority <= 3)).OR.(Owner = 'jsmith    '))");
}

TEST_F(ConditionTranslation, ConnectorsKeepTheirOrder) {
  EXPECT_EQ(Translate("(Status is (Open))  OR (Owner is (x))  AND (Name is (y))", Service(1)),
            "(Status = 'Open') OR (Owner = 'x') AND (Name = 'y')");
  EXPECT_EQ(Translate("(Status is (Open)) .OR.(Owner is (x)) .AND.(Name is (y))", Manager(0)),
            "(Status = 'Open    ').OR.(Owner = 'x    ').AND.(Name = 'y    ')");
}

TEST_F(ConditionTranslation, ValueWithADotKeepsItsConnector) {
  EXPECT_EQ(Translate("(Status is (Open))  AND (Version is (1.5))", Service(1)),
            "(Status = 'Open') AND (Version = '1.5')");
  EXPECT_EQ(Translate("(Status is (Open)) .AND.(Version is (1.5))", Service(0)),
            "(Status = 'Open    ') AND (Version = '1.5    ')");
  EXPECT_EQ(Translate("(Status is (Open)) .AND.(Version is (1.5))", Manager(0)),
            "(Status = 'Open    ').AND.(Version = '1.5    ')");
}

TEST_F(ConditionTranslation, NegatedSingleValue) {
  EXPECT_EQ(Translate("(Status is  NOT (Open))", Service(1)), "( NOT (Status = 'Open'))");
  EXPECT_EQ(Translate("(Status is .NOT.(Open))", Manager(0)), "(.NOT.(Status = 'Open    '))");
}

TEST_F(ConditionTranslation, DateTokenEndsAtItsParenthesis) {
  EXPECT_EQ(Translate("(Due is (>Date()))  AND (Name is (x))", Service(1)),
            "(Due > Date()) AND (Name = 'x')");
}

TEST_F(ConditionTranslation, ChangeClauseExpandsToHistoryClauses) {
  EXPECT_EQ(Translate("(Name is (x))  AND (Status is (Open -> Closed))", Service(1)),
            "(Name = 'x') AND (ChngHist->ChngWhat = 'Status') AND (ChngHist->ChngFrom = 'Open') "
            "AND (ChngHist->ChngTo = 'Closed')");
  EXPECT_EQ(Translate("(Status is (Open->Closed))", Service(2)),
            "(ChngHist->ChngWhat = 'Status') AND (ChngHist->ChngFrom = 'Open') AND "
            "(ChngHist->ChngTo = 'Closed')");
  EXPECT_EQ(Translate("(Name is (x)) .AND.(Status is (Open->Closed))", Manager(0)),
            "(Name = 'x    ').AND.(ChngHist->ChngWhat = 'Status    ').AND.(ChngHist->ChngFrom = "
            "'Open    ').AND.(ChngHist->ChngTo = 'Closed    ')");
}

TEST_F(ConditionTranslation, ChangeClauseKeepsGroupAndNegation) {
  EXPECT_EQ(Translate("(Name is (x))  AND ((Status is (Open->Closed))  OR (Name is (y)))",
                      Service(1)),
            "(Name = 'x') AND ((ChngHist->ChngWhat = 'Status') AND (ChngHist->ChngFrom = 'Open') "
            "AND (ChngHist->ChngTo = 'Closed') OR (Name = 'y'))");
  EXPECT_EQ(Translate("(Status is  NOT (Open->Closed))", Service(1)),
            "( NOT ((ChngHist->ChngWhat = 'Status') AND (ChngHist->ChngFrom = 'Open') AND "
            "(ChngHist->ChngTo = 'Closed')))");
}

TEST_F(ConditionTranslation, HistoryFieldsAreNotChangeClauses) {
  EXPECT_EQ(Translate("(ChngHist->ChngBy is (jsmith))", Service(1)),
            "(ChngHist->ChngBy = 'jsmith')");
}

TEST_F(ConditionTranslation, UnknownColumnsAreDroppedWithTheirConnector) {
  EXPECT_EQ(Translate("(Status is (Open))  AND (Gone is (x))", Service(1)), "(Status = 'Open')");
  EXPECT_EQ(Translate("(Gone is (x))  AND (Status is (Open))", Service(1)), "(Status = 'Open')");
  EXPECT_EQ(Translate("(status is (Open))", Service(1)), "");  // letter case counts
  EXPECT_EQ(Translate("(Status is (Open))  AND ((Gone is (x))  OR (Owner is (y)))", Service(1)),
            "(Status = 'Open') AND ((Owner = 'y'))");
  EXPECT_EQ(Translate("(Status is (Open))  AND ((Gone is (x))  OR (Gone is (y)))  OR (Name is (z))",
                      Service(1)),
            "(Status = 'Open') OR (Name = 'z')");
  // An untranslatable value drops its clause the same way.
  EXPECT_EQ(Translate("(Due is (13/45/99))  AND (Status is (Open))", Service(1)),
            "(Status = 'Open')");
}

TEST_F(ConditionTranslation, ApostrophesCannotCutTheCondition) {
  EXPECT_EQ(Translate("(Name is (O'Brien))  AND (Status is (Open))", Service(1)),
            "(Name = 'O''Brien') AND (Status = 'Open')");
  // The value ends at its parenthesis; the apostrophe stays inside the text.
  EXPECT_EQ(Translate("(Name is (x') OR 1=1 --))", Service(2)), "(Name = 'x''')");
}

// Text after the last clause (or a clause without its closing parenthesis)
// would be passed over by the translation: the check names it, and leaves
// well-formed conditions alone.
TEST_F(ConditionTranslation, TextThatIsNoClauseIsAFault) {
  auto fault_of = [this](std::string condition, const TranslationContext& context) {
    if (context.IsService()) RewriteConnectors(condition);
    std::optional<ConditionFault> fault;
    TranslateCondition(condition, fields_, context, &fault);
    return fault;
  };
  for (const char* bad : {"(Status is (Open)) OR 1=1 --",
                          "(Status is (Open))  AND (Owner is (x)) x", "(Status is (Open)"}) {
    std::optional<ConditionFault> fault = fault_of(bad, Service(1));
    ASSERT_TRUE(fault) << bad;
    EXPECT_EQ(fault->kind, ConditionFault::Kind::kTrailingText) << bad;
  }
  EXPECT_FALSE(fault_of(kSqlExample, Service(1)));
  EXPECT_FALSE(fault_of(kXbaseExample, Manager(0)));
  EXPECT_FALSE(fault_of("(Status is (Open))  AND ((Owner is (x)))", Service(1)));
}

TEST(ClauseText, ParseSqlForm) {
  Clause clause = ParseClause(" AND ((Priority is  NOT (1-3))", 1);
  EXPECT_EQ(clause.connector, Connector::kAnd);
  EXPECT_TRUE(clause.group_open);
  EXPECT_TRUE(clause.negated);
  EXPECT_FALSE(clause.group_close);
  EXPECT_EQ(clause.column, "Priority");
  EXPECT_EQ(clause.values, "1-3");

  clause = ParseClause(" OR (Owner is (jsmith)))", 1);
  EXPECT_EQ(clause.connector, Connector::kOr);
  EXPECT_TRUE(clause.group_close);
  EXPECT_EQ(clause.values, "jsmith");
}

TEST(ClauseText, ParseXbaseFormAndTokens) {
  Clause clause = ParseClause(".OR.(ChngHist->ChngDate is (>Date()))", 0);
  EXPECT_EQ(clause.connector, Connector::kOr);
  EXPECT_EQ(clause.column, "ChngHist->ChngDate");
  EXPECT_EQ(clause.values, ">Date()");
  EXPECT_FALSE(clause.group_close);
  EXPECT_EQ(ParseClause("(Status is ( ))", 0).values, " ");
}

TEST(ClauseText, MalformedTextNeverFails) {
  for (const char* text : {"", "(", " AND ", "((", "(x", "(x is", "(x is (", "(x is  NOT ",
                           ")))", "()()()"}) {
    Clause clause = ParseClause(text, 1);
    EXPECT_LE(clause.values.size(), std::string_view(text).size()) << text;
  }
}

TEST(ClauseText, FormatRoundTripsByKind) {
  for (const char* text : {"(Status is (Open,Fixed))", " AND ((Priority is  NOT (1-3))",
                           " OR (Owner is (jsmith)))"}) {
    EXPECT_EQ(FormatClause(ParseClause(text, 1), 1), text);
  }
  for (const char* text : {"(Status is (Open,Fixed))", ".AND.((Priority is .NOT.(1-3))",
                           ".OR.(Owner is (jsmith)))"}) {
    EXPECT_EQ(FormatClause(ParseClause(text, 0), 0), text);
  }
  Clause qualified;
  qualified.qualifier = "ChngHist";
  qualified.column = "ChngTo";
  qualified.values = "Closed";
  qualified.connector = Connector::kAnd;
  EXPECT_EQ(FormatClause(qualified, 2), " AND (ChngHist->ChngTo is (Closed))");
}

TEST(RewriteConnectors, KeepsLength) {
  std::string text = "(a is (1)) .AND.(b is .NOT.(2)) .OR.(c is (1.5))";
  std::string before = text;
  RewriteConnectors(text);
  EXPECT_EQ(text, "(a is (1))  AND (b is  NOT (2))  OR (c is (1.5))");
  EXPECT_EQ(text.size(), before.size());
}

TEST(SubstituteDateFunction, EveryStandaloneTokenByKind) {
  EXPECT_EQ(SubstituteDateFunction("(Due > date()) AND (Fix < DATE())", 1),
            "(Due > getdate()) AND (Fix < getdate())");
  EXPECT_EQ(SubstituteDateFunction("(Due = Date())", 3), "(Due = getdate())");
  EXPECT_EQ(SubstituteDateFunction("(Due = Date())", 2), "(Due = sysdate)");
  EXPECT_EQ(SubstituteDateFunction("(Due = Date())", 0), "(Due = DATE())");
  // After a letter and at the very start the six characters stay.
  EXPECT_EQ(SubstituteDateFunction("(Due = UPDATE()) AND x", 1), "(Due = UPDATE()) AND x");
  EXPECT_EQ(SubstituteDateFunction("DATE() = Due", 1), "DATE() = Due");
  EXPECT_EQ(SubstituteDateFunction("(When = DateTime())", 1), "(When = DateTime())");
  EXPECT_EQ(SubstituteDateFunction("(Due = Date())", 7), "(Due = Date())");
}

}  // namespace
}  // namespace vigilo
