// The rule table as the rule manager reads and writes it: the rules of one
// project table for Setup Rules, all rules for View of Rules and the summary
// print, and the Add and Delete writes of Setup Rules.
//
// Everything goes through the xBase table library: appends, deletions and the
// pack after them hold its write lock, so the service or a second rule manager
// reading the table meanwhile never sees half a record. Each call opens the
// table and closes it again before it returns; nothing is kept open.
//
// Rules reach the lists as rule rows read field by field, so a "|" inside a
// condition (an SQL "||") or a values text stays where it belongs.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "manager/rule_list.h"
#include "platform/xbase/dbf_table.h"

namespace vigilo {

// The fields and tags of a new rule table.
std::vector<DbfField> NewRuleTableFields();
std::vector<std::string> NewRuleTableTags();

// Widths of the rule table's character fields, for the checks before a write.
inline constexpr size_t kDsnWidth = 64;
inline constexpr size_t kDbTableWidth = 64;
inline constexpr size_t kActionWidth = 32;
inline constexpr size_t kTargetWidth = 32;
inline constexpr size_t kValuesWidth = 128;
inline constexpr size_t kCondWidth = 255;

// Every rule with a rule id above 0, ordered by DbTable (rules of one table
// in the order they were written). A missing or unreadable table gives none.
OrderedRuleRows ReadAllRules(const std::string& path);

// The rules of one project table (kind, data source and Project Table text,
// letter case ignored) in RuleId order; row.table stays empty. A missing or
// unreadable table gives none.
OrderedRuleRows ReadTableRules(const std::string& path, long kind, const std::string& dsn,
                               const std::string& table);

// The filter that selects the rules of one project table.
std::string TableRulesFilter(long kind, const std::string& dsn, const std::string& table);

// The summary print lines: "007 Notify User bob" and, with a condition,
// "... if (Status) is Open", in RuleId order. A missing or unreadable table
// gives none.
std::vector<std::string> ReadRuleSummaryLines(const std::string& path);

// Reserved1 to Reserved5. Reserved1 "1" keeps the rule from being loaded by
// the service.
using RuleReserved = std::array<std::string, 5>;
inline constexpr const char* kRuleDisabledMark = "1";

// A rule to write.
struct RuleRecord {
  long rule_id = 0;
  long kind = 0;
  std::string dsn;
  std::string table;  // project and table joined by a backslash
  std::string action;
  std::string target;
  std::string values;
  std::string condition;
  long flag = 0;
};

// A record of the rule table read back whole.
struct StoredRuleRecord {
  RuleRecord record;
  RuleReserved reserved;

  bool disabled() const { return reserved[0] == kRuleDisabledMark; }
};

// Every record of the rule table, in file order. A missing or unreadable
// table gives none.
std::vector<StoredRuleRecord> ReadStoredRules(const std::string& path);

// The first record with the rule id in file order; std::nullopt when there is
// none or the table cannot be read.
std::optional<StoredRuleRecord> ReadStoredRule(const std::string& path, long rule_id);

// Writes Reserved1 of every record with the rule id ("1" to keep the rules
// from the service, blank to let it load them). False when the table cannot
// be opened for writing or the write failed.
bool SetRuleReserved1(const std::string& path, long rule_id, const std::string& text);

enum class AddRuleOutcome { kAdded, kCannotOpen, kCannotAppend };

// Appends the rule, creating the table with its fields and tags when the file
// does not exist. Without a rule id the rule gets the last RuleId plus 1 (1 in
// an empty table); record->rule_id is set to the id written. Reserved1 to
// Reserved5 are written from reserved (blank for a new rule).
AddRuleOutcome AppendRuleRecord(const std::string& path, RuleRecord* record,
                                std::optional<long> rule_id, const RuleReserved& reserved = {});

// Deletes every record with the rule id and packs the table. False when the
// table cannot be opened for writing or the write failed.
bool DeleteRuleRecords(const std::string& path, long rule_id);

}  // namespace vigilo
