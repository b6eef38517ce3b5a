#include "platform/xbase/dbf_query.h"

#include <gtest/gtest.h>

#include "tests/platform/xbase/xbase_test_util.h"

namespace vigilo {
namespace {

std::vector<std::string> Matches(DbfQuery& query, DbfTable& table, int field) {
  std::vector<std::string> found;
  for (bool on = query.QueryFirst(); on; on = query.QueryNext()) found.push_back(table.Text(field));
  return found;
}

// The membership table of the defect-tracking product: member login name
// first, group name in GrpName.
class MembershipQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = DbfTable::Create(dir_.File("usringrp.dbf"),
                              {{"UserName", 'C', 20, 0}, {"GrpName", 'C', 20, 0}});
    for (auto [user, group] : {std::pair{"ann", "dev"}, {"bob", "devops"}, {"cid", "dev"},
                               {"dan", "qa"}, {"eve", "Dev"}, {"fay", "dev"}}) {
      table_->AppendStart();
      table_->AssignText(0, user);
      table_->AssignText(1, group);
      table_->AppendWrite();
    }
    ASSERT_TRUE(table_->Read(6));
    table_->DeleteRecord();
  }

  testing::TempDir dir_;
  std::unique_ptr<DbfTable> table_;
};

TEST_F(MembershipQueryTest, GroupFilterWithTrailingBlanksMatchesOnlyThatGroup) {
  DbfQuery query(*table_);
  query.SetQuery("GrpName = 'dev    '");
  EXPECT_EQ(Matches(query, *table_, 0), (std::vector<std::string>{"ann", "cid"}));
  query.SetQuery("GrpName = 'qa    '");
  EXPECT_EQ(Matches(query, *table_, 0), (std::vector<std::string>{"dan"}));
  query.SetQuery("GrpName = 'nobody    '");
  EXPECT_FALSE(query.QueryFirst());
  EXPECT_EQ(table_->RecNo(), 0u);
  EXPECT_FALSE(query.QueryNext());
}

TEST_F(MembershipQueryTest, DeletedRowsMatchOnlyWhenShown) {
  DbfQuery query(*table_);
  query.SetQuery("UPPER(GrpName) = UPPER('DEV    ')");
  EXPECT_EQ(Matches(query, *table_, 0), (std::vector<std::string>{"ann", "cid", "eve"}));
  table_->ShowDeleted(true);
  EXPECT_EQ(Matches(query, *table_, 0), (std::vector<std::string>{"ann", "cid", "eve", "fay"}));
}

TEST_F(MembershipQueryTest, OrdersMatchesByAnExpression) {
  DbfQuery query(*table_);
  query.SetQuery("");
  query.SetRelationOrder("GrpName");
  EXPECT_EQ(Matches(query, *table_, 0),
            (std::vector<std::string>{"eve", "ann", "cid", "bob", "dan"}));
  query.SetRelationOrder("UPPER(GrpName) + UserName");
  query.SetQuery("GrpName <> 'qa'");
  EXPECT_EQ(Matches(query, *table_, 0), (std::vector<std::string>{"ann", "cid", "eve", "bob"}));
  query.SetRelationOrder("");
  EXPECT_EQ(Matches(query, *table_, 0), (std::vector<std::string>{"ann", "bob", "cid", "eve"}));
}

TEST_F(MembershipQueryTest, SeesRecordsAppendedBeforeTheNextQueryFirst) {
  DbfQuery query(*table_);
  query.SetQuery("GrpName = 'qa    '");
  auto other = DbfTable::Open(table_->path(), true);
  other->AppendStart();
  other->AssignText(0, "gus");
  other->AssignText(1, "qa");
  other->AppendWrite();
  EXPECT_EQ(Matches(query, *table_, 0), (std::vector<std::string>{"dan", "gus"}));
}

TEST_F(MembershipQueryTest, RefusesFiltersThatAreWrongOrNotLogical) {
  DbfQuery query(*table_);
  EXPECT_THROW(query.SetQuery("GrpName"), XbaseExpressionError);
  EXPECT_THROW(query.SetQuery("GrpName = 'dev"), XbaseExpressionError);
  EXPECT_THROW(query.SetRelationOrder("NoSuchField"), XbaseExpressionError);
}

TEST(DbfQueryTest, SelectsRulesOfOneProjectTableInRuleIdOrder) {
  testing::TempDir dir;
  std::vector<DbfField> fields = {
      {"RuleId", 'N', 8, 0},      {"DbType", 'N', 8, 0},     {"Dsn", 'C', 64, 0},
      {"DbTable", 'C', 64, 0},    {"Action", 'C', 32, 0},    {"Target", 'C', 32, 0},
      {"Values", 'C', 128, 0},    {"Cond", 'C', 255, 0},     {"Flag", 'N', 8, 0},
      {"Reserved1", 'C', 32, 0},  {"Reserved2", 'C', 32, 0}, {"Reserved3", 'C', 32, 0},
      {"Reserved4", 'C', 32, 0},  {"Reserved5", 'C', 32, 0}};
  auto rules = DbfTable::Create(dir.File("Vigtab.dbf"), fields, DbfVersion::kDbase4,
                                {"RuleId", "DbTable", "Action", "Target"});
  struct Rule { long id; long type; const char* dsn; const char* table; const char* action; };
  for (Rule r : {Rule{30, 1, "Bugs", "Proj\\Bugs", "Update"}, Rule{10, 1, "BUGS", "Proj\\Bugs", "Notify"},
                 Rule{20, 1, "Bugs", "Proj\\Bugs2", "Update"}, Rule{5, 0, "Bugs", "Proj\\Bugs", "Update"},
                 Rule{15, 1, "bugs", "proj\\bugs", "Update"}}) {
    rules->AppendStart();
    rules->AssignLong(0, r.id);
    rules->AssignLong(1, r.type);
    rules->AssignText(2, r.dsn);
    rules->AssignText(3, r.table);
    rules->AssignText(4, r.action);
    rules->AppendWrite();
  }
  rules->SelectTag(rules->TagByName("RuleId"));
  DbfQuery query(*rules);
  query.SetRelationOrder("RuleId");
  query.SetQuery("(DbType = 1) .AND. (UPPER(Dsn) = UPPER('Bugs   ')) .AND. "
                 "(UPPER(DbTable) = UPPER('Proj\\Bugs    '))");
  EXPECT_EQ(Matches(query, *rules, 0), (std::vector<std::string>{"10", "15", "30"}));
  query.SetQuery("(DbType = 1) .AND. (UPPER(Dsn) = UPPER('Bugs   ')) .AND. "
                 "(UPPER(DbTable) = UPPER('Proj\\Bugs    ')) .AND. (UPPER(Action) = UPPER('Update '))");
  EXPECT_EQ(Matches(query, *rules, 0), (std::vector<std::string>{"15", "30"}));
}

}  // namespace
}  // namespace vigilo
