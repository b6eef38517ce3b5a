// The SQL a rule runs at each tick, built once when the rule is loaded: the
// selection of records that meet the rule's condition and are not yet in the
// table's flag table, the WHERE condition, the FROM list and the flag-table
// select (the operation CProjectTable::BuildSelection fills a rule with).
//
// The functions here are the text work of that build, free of any database,
// so they can be held character for character against the statements the
// service runs. A condition comes either in the SQL form "FROM tables WHERE
// clause" (bit 0 of the rule's Flag) or in the condition language, which is
// translated by TranslateCondition after its xBase connectors are rewritten.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "data/condition.h"  // RewriteConnectors, SubstituteDateFunction, TranslateCondition
#include "data/rule.h"
#include "data/table_names.h"

namespace vigilo {

// The names a rule's statements use, for the project's database kind.
struct SelectionNames {
  int32_t db_type = 0;
  std::string table;          // T: qualified table name
  std::string table_from;     // TR: the table's From-name
  std::string chnghist;       // H: qualified change-history table name
  std::string chnghist_from;  // HR: the change-history table's From-name
  std::string flag_from;      // FR: the flag table's From-name
};

SelectionNames SelectionNamesOf(const TableNames& table, int32_t db_type);

// Turns a condition-language text (connectors already rewritten) into SQL in
// which change-history fields still read "ChngHist->" + field name.
using ConditionTranslator = std::function<std::string(const std::string&)>;

// Fills the rule's selection, uses-change-history flag, WHERE condition,
// flag-table select and FROM list from its Cond, Flag and RuleId. A
// condition that gives no SQL (an SQL form without "WHERE", or every clause
// dropped by the translation) leaves the WHERE condition empty, so the
// selection ends in "AND ()": it fails at each tick with a logged error and
// never acts on a record.
void BuildSelectionSql(CRule& rule, const SelectionNames& names,
                       const ConditionTranslator& translate);

// Splits an SQL-form condition "FROM " + list + " WHERE " + clause into the
// table list and the clause, each with surrounding blanks removed. Returns
// false when the text is shorter than "FROM " or holds no "WHERE" after it
// (the list is then all the text after "FROM " and the clause is empty).
bool SplitSqlCondition(std::string_view cond, std::string* from_list, std::string* where);

// Replaces every "ChngHist->" by `chnghist` + "."; returns how many.
int ReplaceChngHistPrefix(std::string& text, std::string_view chnghist);

}  // namespace vigilo
