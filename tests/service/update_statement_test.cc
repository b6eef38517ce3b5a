#include "service/update_statement.h"

#include <gtest/gtest.h>

namespace vigilo {
namespace {

CFieldDef Field(const std::string& name, int type, int flags = 1) {
  CFieldDef field(1);
  field.name = name;
  field.label = name;
  field.type = type;
  field.flags = flags;
  return field;
}

std::vector<CFieldDef> BugFields() {
  return {Field("Priority", CFieldDef::kNumber),  Field("Status", CFieldDef::kText),
          Field("Fixed", CFieldDef::kDate),       Field("Closed", CFieldDef::kDateTime),
          Field("Count", CFieldDef::kNumber7),    Field("Stamp", CFieldDef::kSeconds),
          Field("Notes", CFieldDef::kMemo),       Field("Locked", CFieldDef::kText, 0x2001),
          Field("Status", CFieldDef::kNumber)};
}

std::string SetList(std::string_view values, int32_t kind, std::string_view table = "Bugs") {
  return BuildSetList(values, BugFields(), table, kind, DateSettings());
}

TEST(UpdateSetListTest, NumericUnquotedAndTextQuoted) {
  EXPECT_EQ(SetList("Priority=3;Status=Closed", 1, "Proj..Bugs"),
            "Proj..Bugs.Priority = 3,Proj..Bugs.Status = 'Closed'");
  EXPECT_EQ(SetList("Priority=-12", 0), "Bugs.Priority = -12");
}

TEST(UpdateSetListTest, TypesSevenAndElevenAndOthersAreQuoted) {
  EXPECT_EQ(SetList("Count=4;Stamp=99;Notes=see log", 1, "Proj..bugs"),
            "Proj..bugs.Count = '4',Proj..bugs.Stamp = '99',Proj..bugs.Notes = 'see log'");
}

TEST(UpdateSetListTest, OwnerTableKindWritesUnqualifiedTargetColumns) {
  EXPECT_EQ(SetList("Priority=2;Notes=it's done", 2, "proj.bugs"),
            "Priority = 2,Notes = 'it''s done'");
}

TEST(UpdateSetListTest, ApostrophesAreDoubled) {
  EXPECT_EQ(SetList("Status=won't fix", 1), "Bugs.Status = 'won''t fix'");
  EXPECT_EQ(SetList("Status=it's;Fixed=01/02/99", 3),
            "Bugs.Status = 'it''s',Bugs.Fixed = '01/02/99'");
}

TEST(UpdateSetListTest, DateOnDbaseFilesKeepsDateFunctionInAnyCase) {
  EXPECT_EQ(SetList("Fixed=DATE()", 0), "Bugs.Fixed = DATE()");
  EXPECT_EQ(SetList("Fixed=date()", 0), "Bugs.Fixed = date()");
  EXPECT_EQ(SetList("Fixed=12/31/2026", 0), "Bugs.Fixed = #12/31/2026#");
  EXPECT_EQ(SetList("Fixed=12/31/2026", 1), "Bugs.Fixed = '12/31/2026'");
  EXPECT_EQ(SetList("Fixed=12/31/2026", 3), "Bugs.Fixed = '12/31/2026'");
}

TEST(UpdateSetListTest, DateTimeLiteralPerKind) {
  EXPECT_EQ(SetList("Closed=12/31/26 17:05:09", 1), "Bugs.Closed = '12/31/2026 17:05:09'");
  EXPECT_EQ(SetList("Closed=2026-03-04 08:15", 3), "Bugs.Closed = '03/04/2026 08:15:00'");
  EXPECT_EQ(SetList("Closed=12/31/26 17:05:09", 2),
            "Closed = TO_DATE('12/31/2026 17:05:09','MM/DD/YYYY HH24:MI:SS')");
  EXPECT_EQ(SetList("Closed=12/31/26 17:05:09", 0), "Bugs.Closed = #12/31/2026#");
}

TEST(UpdateSetListTest, EmptyDateTimeIsNullAndUnreadableOneIsLeftOut) {
  EXPECT_EQ(SetList("Closed=", 0), "Bugs.Closed = NULL");
  EXPECT_EQ(SetList("Closed=soon;Status=x", 1), "Bugs.Status = 'x'");
  EXPECT_EQ(SetList("Closed=13/45/26", 2), "");
}

TEST(UpdateSetListTest, ValuesThatAreNotOfTheFieldsTypeNeverReachTheStatement) {
  // Between # marks a value could close the literal and add assignments.
  EXPECT_EQ(SetList("Fixed=01/02/2026#, Priority = 9 --;Status=x", 0), "Bugs.Status = 'x'");
  EXPECT_EQ(SetList("Fixed=20260102 DROP", 0), "");
  EXPECT_EQ(SetList("Fixed=02/30/26", 1), "");
  EXPECT_EQ(SetList("Priority=12abc;Count=4.5;Stamp=x", 1), "");
  // A date in the user's order is written in the engine's month-first form.
  DateSettings european;
  european.separator = '.';
  european.order[0] = 'D';
  european.order[1] = 'M';
  european.picture = "DD.MM.YY";
  EXPECT_EQ(BuildSetList("Fixed=31.12.26", BugFields(), "Bugs", 0, european),
            "Bugs.Fixed = #12/31/2026#");
  EXPECT_EQ(BuildSetList("Fixed=20261231", BugFields(), "Bugs", 0, DateSettings()),
            "Bugs.Fixed = #12/31/2026#");
}

TEST(UpdateSetListTest, UnusableAssignmentsAreLeftOut) {
  // Unknown field, a field update rules leave alone, a letter-case mismatch
  // and an assignment without "=" are dropped; the others still apply.
  EXPECT_EQ(SetList("Nope=1;Locked=x;status=y;Priority;Status=Open;", 1),
            "Bugs.Status = 'Open'");
  EXPECT_EQ(SetList("Nope=1;Locked=x", 1), "");
  EXPECT_EQ(SetList("", 1), "");
}

TEST(UpdateSetListTest, SplitsAtTheFirstEqualsAndUsesTheFirstDefinition) {
  EXPECT_EQ(SetList("Status=a=b", 1), "Bugs.Status = 'a=b'");
}

TEST(UpdateStatementTemplateTest, HoldsThePlaceholderForTheFormId) {
  const std::string tmpl = UpdateStatementTemplate("Proj..Bugs", "Proj..Bugs.Priority = 3");
  EXPECT_EQ(tmpl, "UPDATE Proj..Bugs SET Proj..Bugs.Priority = 3 WHERE FormID = %ld");
  EXPECT_EQ(UpdateStatementFor(tmpl, 42),
            "UPDATE Proj..Bugs SET Proj..Bugs.Priority = 3 WHERE FormID = 42");
}

TEST(UpdateStatementTemplateTest, TableInItsOwnDirectory) {
  const std::string tmpl =
      UpdateStatementTemplate("\"/srv/sep\\Bugs.DBF\" AS Bugs", "Bugs.Status = 'Closed'");
  EXPECT_EQ(UpdateStatementFor(tmpl, 7),
            "UPDATE \"/srv/sep\\Bugs.DBF\" AS Bugs SET Bugs.Status = 'Closed' WHERE FormID = 7");
}

TEST(UpdateStatementTemplateTest, PercentInValuesSurvivesFilling) {
  const std::string set_list = SetList("Status=50% done %ld %s", 1);
  const std::string tmpl = UpdateStatementTemplate("Bugs", set_list);
  EXPECT_EQ(UpdateStatementFor(tmpl, 3),
            "UPDATE Bugs SET Bugs.Status = '50% done %ld %s' WHERE FormID = 3");
}

TEST(UpdateStatementTemplateTest, ServerStatementsNameTheRecordsInBoundedInLists) {
  const std::string tmpl = UpdateStatementTemplate("proj.bugs", SetList("Status=50% %ld", 2));
  EXPECT_EQ(UpdateStatementsForAll(tmpl, {4, 9, 2, 7, 3}, 2),
            (std::vector<std::string>{
                "UPDATE proj.bugs SET Status = '50% %ld' WHERE FormID IN (4,9)",
                "UPDATE proj.bugs SET Status = '50% %ld' WHERE FormID IN (2,7)",
                "UPDATE proj.bugs SET Status = '50% %ld' WHERE FormID IN (3)"}));
  EXPECT_TRUE(UpdateStatementsForAll(tmpl, {}, 2).empty());
  // A template of another shape is left to the statement of each record.
  EXPECT_TRUE(UpdateStatementsForAll("UPDATE Bugs SET Bugs.Status = 'x'", {1}, 2).empty());
}

}  // namespace
}  // namespace vigilo
