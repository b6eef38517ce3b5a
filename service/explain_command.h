// vgservice --explain RULE FORMID: why a rule does or does not act on a
// record, now. Each clause of the stored condition with its translated form,
// the record's value it looks at (the change-history rows for change-history
// clauses) and whether it holds; whether the whole condition holds; whether
// the record is flagged for the rule; what the next tick would do; and the
// firing history's last actions of the rule on the record.
//
// The rules are loaded as a start loads them, but nothing is written: no
// flag table, no default setting, no run log. A rule that the load refuses
// is refused here with the load's reason.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace vigilo {

struct ClauseExplanation {
  std::string text;         // the clause as stored, connector included
  std::string translated;   // its SQL
  std::string column;       // the field it looks at (empty for an SQL form)
  std::vector<std::string> values;  // the record's value, or change-history rows
  bool holds = false;
  std::string error;        // the database's error when it could not be checked
};

struct Explanation {
  int32_t rule_id = 0;
  long long form_id = 0;
  std::string action;       // "Update" or "Notify"
  std::string table;        // the table's key
  std::string condition;    // as stored
  bool sql_form = false;
  std::vector<ClauseExplanation> clauses;
  bool record_found = false;
  bool holds = false;       // the whole condition
  bool flagged = false;
  std::string next_tick;    // one sentence
  std::vector<std::string> last_actions;  // newest first, one line each
  std::vector<std::string> last_actions_json;
};

// Explains the rule on the record for the current program directory's
// installation. Returns false with why set when the rule is not loaded
// (refused at load: the load's reason) or the project cannot be read.
bool ExplainRule(int32_t rule_id, long long form_id, Explanation* explanation, std::string* why);

// Prints it as text or as one JSON object.
void PrintExplanation(const Explanation& explanation, bool json, std::ostream& out);

// The command: 0 after printing, 1 when the rule cannot be explained.
int RunExplain(int32_t rule_id, long long form_id, bool json, std::ostream& out,
               std::ostream& err);

}  // namespace vigilo
