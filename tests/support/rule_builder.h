// RuleBuilder: one rule of the rule table for a test, as the rule manager
// would store it. It starts as a rule on the dBase project table Proj\Bugs
// (data source ORVIK) firing when Status is Closed; a test changes only what
// it is about. WriteRules is the one place the tests store rule rows.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "data/rule_table.h"

namespace vigilo::testing {

class RuleBuilder {
 public:
  explicit RuleBuilder(int32_t id) {
    rule_.rule_id = id;
    rule_.db_type = 0;
    rule_.dsn = "ORVIK";
    rule_.db_table = "Proj\\Bugs";
    rule_.cond = "(Status is (Closed))";
  }

  RuleBuilder& Notify(std::string target, std::string values) {
    rule_.action = kNotifyAction;
    rule_.target = std::move(target);
    rule_.values = std::move(values);
    return *this;
  }
  RuleBuilder& Update(std::string assignments) {
    rule_.action = kUpdateAction;
    rule_.target.clear();
    rule_.values = std::move(assignments);
    return *this;
  }
  // Any action text, for rules the service must refuse.
  RuleBuilder& Action(std::string action) {
    rule_.action = std::move(action);
    return *this;
  }
  // The project table, as "Project\Table".
  RuleBuilder& On(std::string db_table) {
    rule_.db_table = std::move(db_table);
    return *this;
  }
  // The client-server project of the server tests: table bugs of schema proj
  // through the data source VGPG.
  RuleBuilder& OnServer() {
    rule_.db_type = 2;
    rule_.dsn = "VGPG";
    rule_.db_table = "proj\\bugs";
    return *this;
  }
  RuleBuilder& Source(int32_t db_type, std::string dsn) {
    rule_.db_type = db_type;
    rule_.dsn = std::move(dsn);
    return *this;
  }
  RuleBuilder& When(std::string cond) {
    rule_.cond = std::move(cond);
    return *this;
  }
  RuleBuilder& Flag(int32_t flag) {
    rule_.flag = flag;
    return *this;
  }
  // Marked so the service does not load it.
  RuleBuilder& Disabled() {
    rule_.reserved[0] = kRuleDisabledMark;
    return *this;
  }

  const RuleRecord& rule() const { return rule_; }
  operator RuleRecord() const { return rule_; }  // NOLINT: built in place

 private:
  RuleRecord rule_;
};

// Replaces the rule table at path with these rules, through the table's own
// writer; a refused write fails the test at once rather than leaving it to
// run against an old table.
inline void WriteRules(const std::string& path, const std::vector<RuleRecord>& rules) {
  if (RuleTableStatus status = WriteRuleTable(path, rules); !status.ok()) {
    throw std::runtime_error(status.message);
  }
}

}  // namespace vigilo::testing
