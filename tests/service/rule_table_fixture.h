// Writes a rule table (Vigtab.dbf) with the fields and widths the rule
// manager gives it, for the loading tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/xbase/dbf_table.h"

namespace vigilo::testing {

struct RuleRow {
  RuleRow(long id, long type, std::string data_source, std::string table,
          std::string rule_action, std::string reserved = "")
      : rule_id(id),
        db_type(type),
        dsn(std::move(data_source)),
        db_table(std::move(table)),
        action(std::move(rule_action)),
        reserved1(std::move(reserved)) {
    // An update rule needs an assignment of a defined field to be loaded.
    if (action == "Update") values = "Status=Closed";
  }

  long rule_id = 0;
  long db_type = 0;
  std::string dsn;
  std::string db_table;
  std::string action;
  std::string target = "User";
  std::string values = "sysop";
  std::string cond = "(Status is (New))";
  long flag = 0;
  std::string reserved1;
};

inline void WriteRuleTable(const std::string& path, const std::vector<RuleRow>& rows) {
  const std::vector<DbfField> fields = {
      {"RuleId", 'N', 8, 0},     {"DbType", 'N', 8, 0},     {"Dsn", 'C', 64, 0},
      {"DbTable", 'C', 64, 0},   {"Action", 'C', 32, 0},    {"Target", 'C', 32, 0},
      {"Values", 'C', 128, 0},   {"Cond", 'C', 255, 0},     {"Flag", 'N', 8, 0},
      {"Reserved1", 'C', 32, 0}, {"Reserved2", 'C', 32, 0}, {"Reserved3", 'C', 32, 0},
      {"Reserved4", 'C', 32, 0}, {"Reserved5", 'C', 32, 0}};
  auto table = DbfTable::Create(path, fields, DbfVersion::kDbase4,
                                {"RuleId", "DbTable", "Action", "Target"});
  for (const RuleRow& row : rows) {
    table->AppendStart();
    table->AssignLong(0, row.rule_id);
    table->AssignLong(1, row.db_type);
    table->AssignText(2, row.dsn);
    table->AssignText(3, row.db_table);
    table->AssignText(4, row.action);
    table->AssignText(5, row.target);
    table->AssignText(6, row.values);
    table->AssignText(7, row.cond);
    table->AssignLong(8, row.flag);
    table->AssignText(9, row.reserved1);
    table->AppendWrite();
  }
  table->Close();
}

}  // namespace vigilo::testing
