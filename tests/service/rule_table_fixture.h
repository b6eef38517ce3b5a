// Rule tables for the loading tests, written through data/rule_table: a rule
// is the table's own record with the defaults these tests share.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "data/rule_table.h"

namespace vigilo::testing {

struct TestRule : RuleRecord {
  TestRule(int32_t id, int32_t type, std::string data_source, std::string table,
           std::string rule_action, std::string reserved1 = "") {
    rule_id = id;
    db_type = type;
    dsn = std::move(data_source);
    db_table = std::move(table);
    action = std::move(rule_action);
    target = "User";
    // An update rule needs an assignment of a defined field to be loaded.
    values = action == kUpdateAction ? "Status=Closed" : "sysop";
    cond = "(Status is (New))";
    reserved[0] = std::move(reserved1);
  }
};

inline void WriteRuleTable(const std::string& path, const std::vector<TestRule>& rules) {
  RuleTableStatus status =
      vigilo::WriteRuleTable(path, std::vector<RuleRecord>(rules.begin(), rules.end()));
  if (!status.ok()) throw std::runtime_error(status.message);
}

}  // namespace vigilo::testing
