// The loading tests' rules in the short form they list them in: id, kind,
// data source, project table, action and Reserved1. Each is a kit rule
// (RuleBuilder) for User "sysop" (an update assigns Status=Closed) when
// Status is New, stored through the kit's WriteRules.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "data/rule_table.h"
#include "tests/support/rule_builder.h"

namespace vigilo::testing {

struct TestRule : RuleRecord {
  TestRule(int32_t id, int32_t type, std::string data_source, std::string table,
           std::string rule_action, std::string reserved1 = "")
      : RuleRecord(RuleBuilder(id)
                       .Source(type, std::move(data_source))
                       .On(std::move(table))
                       .When("(Status is (New))")
                       // An update rule needs an assignment of a defined field
                       // to be loaded.
                       .Notify("User", rule_action == kUpdateAction ? "Status=Closed" : "sysop")
                       .Action(rule_action)) {
    reserved[0] = std::move(reserved1);
  }
};

inline void WriteRuleTable(const std::string& path, const std::vector<TestRule>& rules) {
  WriteRules(path, std::vector<RuleRecord>(rules.begin(), rules.end()));
}

}  // namespace vigilo::testing
