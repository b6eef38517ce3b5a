// The stored condition language of rules and its translation into a WHERE
// expression (SQL, or the xBase filter dialect of the rule manager's kind 0).
//
// A condition is a first clause followed by later clauses, each joined with one
// blank and beginning with its connector: " AND " / " OR " (kinds 1 to 3 and,
// after RewriteConnectors, the service for every kind) or ".AND." / ".OR."
// (kind 0 as the rule manager writes it). A clause is
//   [group "("] "(" column " is " [negation] "(" values ")" ")" [group ")"]
// with the negation " NOT " or ".NOT.". A clause whose text holds "->" but not
// "ChngHist->" is a change clause "(Col is (from->to))", meaning that the
// column changed from one value to the other; it becomes three clauses on the
// change-history pseudo-fields ChngWhat, ChngFrom and ChngTo.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/field_def.h"
#include "data/translation_context.h"

namespace vigilo {

enum class Connector { kNone, kAnd, kOr };

// The parsed form of one clause.
struct Clause {
  Connector connector = Connector::kNone;
  bool group_open = false;
  bool group_close = false;
  bool negated = false;
  std::string qualifier;  // written before the column with "->"; never parsed
  std::string column;     // e.g. "Status" or "ChngHist->ChngDate"
  std::string values;     // the value text between the value parentheses

  bool operator==(const Clause&) const = default;
};

// Parses one clause text (both connector and negation forms are recognised).
// Malformed text gives whatever parts could be read; it never fails.
Clause ParseClause(std::string_view text, long kind);

// Writes a clause in the stored form of the kind.
std::string FormatClause(const Clause& clause, long kind);

// The first clause that keeps a condition from being translated whole.
struct ConditionFault {
  enum class Kind {
    kUnknownColumn,      // the column is not a field of the table
    kUntranslatableValue,  // a value gives no text, or a number is not a number
    kTrailingText          // text after a clause that is no clause (value holds it)
  };
  Kind kind = Kind::kUnknownColumn;
  std::string column;
  std::string value;  // the value item that failed (kUntranslatableValue)

  // One sentence for the run log and the rule manager, without a line end.
  std::string Reason() const;
};

// Translates a condition into a WHERE expression. Clauses whose column is not
// among the fields (exact name) and clauses whose values give no text are left
// out together with their connector; a connector never begins the result or a
// group, and an emptied group disappears with its connector. The result is
// empty when no clause contributes.
//
// With `fault`, the translation is also a check: the first clause that would
// be left out (or any of its value items), a value of a numeric field that
// is not a whole number, and text after a clause that is not a clause (which
// the translation passes over), is written there. A caller that runs the rule must
// refuse it then, as the translation is narrower or wider than the condition.
std::string TranslateCondition(std::string_view condition, const std::vector<CFieldDef>& fields,
                               const TranslationContext& context,
                               std::optional<ConditionFault>* fault = nullptr);

// The clause texts of a condition as TranslateCondition cuts it (each later
// one beginning with its connector), for showing a condition clause by clause.
std::vector<std::string> ConditionClauses(std::string_view condition,
                                          const TranslationContext& context);

// The service's rewrite of xBase connectors: every ".AND." becomes " AND ",
// ".OR." becomes " OR " and ".NOT." becomes " NOT " (same lengths).
void RewriteConnectors(std::string& condition);

// Replaces the date placeholder of a translated condition by the database's
// date function: every "DATE()" in any letter case that neither starts the
// text nor follows a letter becomes "DATE()" (kind 0), "getdate()" (kinds 1
// and 3) or "sysdate" (kind 2). Other kinds leave the text unchanged.
std::string SubstituteDateFunction(std::string_view condition, long kind);

}  // namespace vigilo
