// The Query Builder: cutting a stored condition into criteria, every gesture
// on the criteria list, OK, and the round trip of what it writes through the
// rule service's translation and back into the Query Builder.
#include "manager/query_builder.h"

#include <gtest/gtest.h>

#include <random>

#include "data/condition.h"
#include "manager/where_operator.h"
#include "manager/where_value_list.h"
#include "tests/manager/recording_prompts.h"

namespace vigilo {
namespace {

using testing::RecordingPrompts;

CFieldDef Field(const std::string& name, int type, std::vector<std::string> choices = {},
                int flags = 1) {
  CFieldDef field(1);
  field.name = name;
  field.label = name;
  field.type = type;
  field.choices = std::move(choices);
  field.flags = flags;
  return field;
}

std::vector<CFieldDef> Fields() {
  return {Field("Status", CFieldDef::kList, {"Open", "Fixed", "Closed"}, 0x201),
          Field("Priority", CFieldDef::kNumber),
          Field("Title", CFieldDef::kText),
          Field("Version", CFieldDef::kText),
          Field("Internal", CFieldDef::kText, {}, 0x2001),
          Field("Hidden", CFieldDef::kHiddenType),
          Field("Due", CFieldDef::kDate)};
}

size_t RowOf(const QueryBuilderLogic& logic, const std::string& name) {
  const auto& names = logic.FieldNames();
  return static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

// Adds a clause on a field with the value a Where Condition dialog gave.
void AddClause(QueryBuilderLogic& logic, const std::string& field, const std::string& value) {
  std::optional<Clause> clause = logic.BeginAdd(RowOf(logic, field));
  ASSERT_TRUE(clause);
  clause->values = value;
  logic.FinishAdd(*clause);
}

TEST(QueryBuilder, ListsFieldsButThoseKeptFromUpdatesAndHiddenOnes) {
  RecordingPrompts prompts;
  QueryBuilderLogic logic(1, Fields(), "", DateSettings{}, prompts);
  EXPECT_EQ(logic.FieldNames(),
            (std::vector<std::string>{"Status", "Priority", "Title", "Version", "Due"}));
  EXPECT_FALSE(logic.Selected());
  EXPECT_FALSE(logic.BeginAdd(std::nullopt));  // no field chosen: nothing
}

// Status through the value-list dialog with Open and Fixed as "Or items",
// Priority through the operator dialog with "=" and a typed 1.
std::string StatusAndPriority(long kind) {
  RecordingPrompts prompts;
  QueryBuilderLogic logic(kind, Fields(), "", DateSettings{}, prompts);
  std::optional<Clause> status = logic.BeginAdd(RowOf(logic, "Status"));
  EXPECT_EQ(status->connector, Connector::kNone);
  ValueListCondLogic values(logic.FieldOf(*status), *status, prompts);
  status->values = *values.Ok({0, 1}, "", SearchOption::kOr);
  logic.FinishAdd(*status);

  std::optional<Clause> priority = logic.BeginAdd(RowOf(logic, "Priority"));
  EXPECT_EQ(priority->connector, Connector::kAnd);
  OperatorCondLogic op(logic.FieldOf(*priority), *priority, DateSettings{}, prompts);
  std::string expression = op.InitialExpression();
  EXPECT_EQ(op.Select(0, expression), OperatorCondLogic::Selection::kReplaced);
  priority->values = *op.Ok(expression + "1");
  logic.FinishAdd(*priority);
  EXPECT_EQ(logic.Selected(), std::optional<size_t>(1));
  return logic.Ok().value_or("<refused>");
}

TEST(QueryBuilder, JoinsClausesWithTheConnectorOfTheKind) {
  EXPECT_EQ(StatusAndPriority(1), "(Status is (Open,Fixed))  AND (Priority is (=1))");
  EXPECT_EQ(StatusAndPriority(0), "(Status is (Open,Fixed)) .AND.(Priority is (=1))");
}

TEST(QueryBuilder, ReopensMixedConnectorsOneEntryPerClauseAndWritesThemBackUnchanged) {
  RecordingPrompts prompts;
  const std::string sql =
      "(Status is (Open,Fixed))  OR (Priority is (=1))  AND ((Version is (1.5))  OR "
      "(Title is  NOT (abc)))";
  QueryBuilderLogic logic(1, Fields(), sql, DateSettings{}, prompts);
  EXPECT_EQ(logic.Entries(),
            (std::vector<std::string>{"(Status is (Open,Fixed))", " OR (Priority is (=1))",
                                      " AND ((Version is (1.5))", " OR (Title is  NOT (abc)))"}));
  EXPECT_EQ(logic.Selected(), std::optional<size_t>(3));
  EXPECT_EQ(logic.Ok(), sql);  // no blank is added by reopening

  const std::string xbase =
      "(Status is (Open,Fixed)) .OR.(Priority is (=1)) .AND.((Version is (1.5)) .OR."
      "(Title is .NOT.(abc)))";
  QueryBuilderLogic dbase(0, Fields(), xbase, DateSettings{}, prompts);
  EXPECT_EQ(dbase.Entries(),
            (std::vector<std::string>{"(Status is (Open,Fixed))", ".OR.(Priority is (=1))",
                                      ".AND.((Version is (1.5))", ".OR.(Title is .NOT.(abc)))"}));
  EXPECT_EQ(dbase.Ok(), xbase);
}

TEST(QueryBuilder, FlipsTheSelectedEntryAndLeavesAFirstEntryWithoutConnector) {
  RecordingPrompts prompts;
  QueryBuilderLogic logic(1, Fields(), "(Status is (Open))  AND (Priority is (=1))", DateSettings{},
                          prompts);
  logic.FlipConnector();
  EXPECT_EQ(logic.Entries()[1], " OR (Priority is (=1))");
  logic.FlipNegated();
  logic.FlipGroupOpen();
  logic.FlipGroupClose();
  EXPECT_EQ(logic.Entries()[1], " OR ((Priority is  NOT (=1)))");
  EXPECT_EQ(logic.Selected(), std::optional<size_t>(1));
  logic.FlipNegated();
  EXPECT_EQ(logic.Entries()[1], " OR ((Priority is (=1)))");

  logic.Select(0);
  logic.FlipConnector();
  EXPECT_EQ(logic.Entries()[0], "(Status is (Open))");
}

TEST(QueryBuilder, RemovingTheFirstEntryStripsTheConnectorOfTheNewFirst) {
  RecordingPrompts prompts;
  QueryBuilderLogic sql(1, Fields(), "", DateSettings{}, prompts);
  AddClause(sql, "Status", "Open");
  AddClause(sql, "Priority", "=1");
  AddClause(sql, "Title", "abc");
  sql.FlipConnector();  // the last one now joins with OR
  sql.Select(0);
  sql.Remove();
  EXPECT_EQ(sql.Entries(),
            (std::vector<std::string>{"(Priority is (=1))", " OR (Title is (abc))"}));
  EXPECT_EQ(sql.Selected(), std::optional<size_t>(0));  // the same position
  sql.Select(0);
  sql.Remove();
  EXPECT_EQ(sql.Entries(), std::vector<std::string>{"(Title is (abc))"});  // " OR " cut

  QueryBuilderLogic dbase(0, Fields(), "(Status is (Open)) .OR.(Priority is (=1))", DateSettings{},
                          prompts);
  dbase.Select(0);
  dbase.Remove();
  EXPECT_EQ(dbase.Entries(), std::vector<std::string>{"(Priority is (=1))"});

  // The last entry removed: the one before is selected; then none is left.
  QueryBuilderLogic two(1, Fields(), "(Status is (Open))  AND (Title is (x))", DateSettings{},
                        prompts);
  two.Remove();
  EXPECT_EQ(two.Selected(), std::optional<size_t>(0));
  two.Remove();
  EXPECT_TRUE(two.Entries().empty());
  EXPECT_FALSE(two.Selected());
  EXPECT_EQ(prompts.beeps, 0);
  two.Remove();
  EXPECT_EQ(prompts.beeps, 1);
}

TEST(QueryBuilder, ModifyRewritesTheEntryInPlaceWithItsConnector) {
  RecordingPrompts prompts;
  QueryBuilderLogic logic(1, Fields(), "(Status is (Open))  OR (Version is (1.5))", DateSettings{},
                          prompts);
  std::optional<Clause> clause = logic.BeginModify();
  ASSERT_TRUE(clause);
  EXPECT_EQ(clause->column, "Version");
  EXPECT_EQ(clause->values, "1.5");
  EXPECT_EQ(clause->connector, Connector::kOr);
  clause->values = "2.0";
  logic.FinishModify(*clause);
  EXPECT_EQ(logic.Ok(), "(Status is (Open))  OR (Version is (2.0))");
}

TEST(QueryBuilder, RefusesAConditionTheRuleCouldNotHold) {
  RecordingPrompts prompts;
  QueryBuilderLogic logic(1, Fields(), "", DateSettings{}, prompts);
  while (JoinEntries(logic.Entries()).size() <= kConditionLimit) {
    AddClause(logic, "Title", std::string(20, 'x'));
  }
  EXPECT_FALSE(logic.Ok());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_NE(prompts.shown[0].text.find("at most 255"), std::string::npos);
  EXPECT_EQ(prompts.shown[0].caption, "Morvane Vigilo");
  logic.Remove();
  EXPECT_TRUE(logic.Ok());  // fewer criteria fit again
}

TEST(QueryBuilder, RefusesADateTheServiceCouldNotRead) {
  RecordingPrompts prompts;
  for (long kind : {0L, 1L}) {
    QueryBuilderLogic logic(kind, Fields(), "", DateSettings{}, prompts);
    AddClause(logic, "Due", "13/45/99");
    AddClause(logic, "Title", "abc");
    EXPECT_FALSE(logic.Ok());
    logic.Select(0);
    std::optional<Clause> clause = logic.BeginModify();
    clause->values = "=19991231";
    logic.FinishModify(*clause);
    EXPECT_TRUE(logic.Ok());
  }
  EXPECT_EQ(prompts.Texts(),
            std::vector<std::string>(2, "Invalid date value (MM/DD/YY) in the Due field!\n"));
}

// What the rule service makes of one clause on its own, and how the clauses
// of a whole condition must be put together around that.
std::string TranslatedAlone(const Clause& clause, const std::vector<CFieldDef>& fields,
                            const TranslationContext& context) {
  Clause alone = clause;
  alone.connector = Connector::kNone;
  alone.negated = alone.group_open = alone.group_close = false;
  std::string text = FormatClause(alone, 1);
  return TranslateCondition(text, fields, context);
}

TEST(QueryBuilder, WhatItWritesIsWhatTheServiceRunsAndReopensTheSame) {
  const std::vector<CFieldDef> fields = Fields();
  struct Choice {
    const char* field;
    const char* value;
  };
  const std::vector<Choice> choices = {{"Status", "Open,Fixed"},
                                       {"Status", "Open&Closed"},
                                       {"Status", " "},
                                       {"Priority", "=1"},
                                       {"Priority", "<5"},
                                       {"Priority", "1-3"},
                                       {"Title", "*abc*,*de*"},
                                       {"Title", "abc"},
                                       {"Version", "1.5"},
                                       {"Due", "=19990102"},
                                       {"Title", " "}};
  std::mt19937 random(15);
  for (long kind : {0L, 1L, 2L}) {
    TranslationContext context;
    context.kind = kind;
    for (int round = 0; round < 200; ++round) {
      RecordingPrompts prompts;
      QueryBuilderLogic logic(kind, fields, "", DateSettings{}, prompts);
      std::vector<Clause> clauses;
      int count = 1 + static_cast<int>(random() % 5);
      int open_groups = 0;
      for (int i = 0; i < count; ++i) {
        const Choice& choice = choices[random() % choices.size()];
        AddClause(logic, choice.field, choice.value);
        if (i > 0 && random() % 2) logic.FlipConnector();
        if (random() % 3 == 0) logic.FlipNegated();
        // Groups of two or more clauses, never nested, closed by the end.
        if (open_groups == 0 && i + 1 < count && random() % 4 == 0) {
          logic.FlipGroupOpen();
          ++open_groups;
        } else if (open_groups > 0 && (i + 1 == count || random() % 2)) {
          logic.FlipGroupClose();
          --open_groups;
        }
        clauses.push_back(*logic.BeginModify());
      }
      std::optional<std::string> condition = logic.Ok();
      if (!condition) {  // too long for a rule, and refused
        ASSERT_FALSE(prompts.shown.empty());
        EXPECT_NE(prompts.shown.back().text.find("at most 255"), std::string::npos);
        continue;
      }

      std::string expected;
      for (const Clause& clause : clauses) {
        std::string t = TranslatedAlone(clause, fields, context);
        if (clause.negated) t = "( NOT " + t + ")";
        if (clause.connector == Connector::kAnd) expected += " AND ";
        if (clause.connector == Connector::kOr) expected += " OR ";
        expected += (clause.group_open ? "(" : "") + t + (clause.group_close ? ")" : "");
      }
      std::string service_form = *condition;
      RewriteConnectors(service_form);
      EXPECT_EQ(TranslateCondition(service_form, fields, context), expected)
          << "kind " << kind << ": " << *condition;

      QueryBuilderLogic reopened(kind, fields, *condition, DateSettings{}, prompts);
      EXPECT_EQ(reopened.Entries(), logic.Entries()) << *condition;
      EXPECT_EQ(reopened.Ok(), condition);
    }
  }
}

}  // namespace
}  // namespace vigilo
