#include "service/explain_command.h"

#include <sys/stat.h>

#include <exception>
#include <sstream>

#include "common/format.h"
#include "common/text.h"
#include "data/condition.h"
#include "data/firing_history.h"
#include "data/log_stream.h"
#include "data/server_paths.h"
#include "notify/notify_message.h"
#include "platform/sql/database.h"
#include "service/history_command.h"
#include "service/preview_engine.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/rule_preview.h"
#include "service/selection.h"

namespace vigilo {
namespace {

// The change-history rows shown for one clause at most.
constexpr int kHistoryRowsShown = 20;
constexpr size_t kLastActions = 5;

std::string Chomp(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The FROM list and join that make "FormID = N AND (clause)" a statement of
// the rule's own tables.
struct RecordQuery {
  std::string from;
  std::string table;     // qualified table name
  std::string chnghist;  // qualified change-history name, when joined
  bool join = false;

  std::string Count(long long form_id, const std::string& condition) const {
    std::string sql = Format("SELECT COUNT(*) FROM %s WHERE %s.FormID =%lld", from.c_str(),
                             table.c_str(), form_id);
    if (join) sql += Format(" AND %s.FormID =%s.FormID", table.c_str(), chnghist.c_str());
    return sql + " AND (" + condition + ")";
  }
};

long long CountRows(Database& db, const std::string& statement) {
  Recordset rows;
  rows.Open(db, statement);
  return rows.IsEOF() ? 0 : rows.GetInt64(0);
}

// The load's run-log line that refused the rule, without its line end.
std::string RefusalLine(const std::string& log_text, int32_t rule_id) {
  const std::string mark = Format("Rule refused ( Rule ID : %ld )", static_cast<long>(rule_id));
  const size_t at = log_text.find(mark);
  if (at == std::string::npos) return {};
  return Chomp(log_text.substr(at, log_text.find('\n', at) - at));
}

void ExplainClause(Database& db, const CProjectTable& table, const SelectionNames& names,
                   const RecordQuery& base, long long form_id, ClauseExplanation& clause) {
  const TranslationContext context = table.ConditionContext();
  Clause parsed = ParseClause(clause.text, context.kind);
  clause.column = parsed.column;
  Clause alone = parsed;
  alone.connector = Connector::kNone;
  alone.group_open = alone.group_close = false;
  std::string sql = TranslateCondition(FormatClause(alone, context.kind), table.field_defs,
                                       context);
  const bool history = ReplaceChngHistPrefix(sql, names.chnghist) > 0;
  clause.translated = SubstituteDateFunction(sql, names.db_type);
  if (clause.translated.empty()) {
    clause.error = "the clause gives no SQL";
    return;
  }
  RecordQuery query = base;
  if (history && !query.join) {
    query.from += "," + names.chnghist_from;
    query.join = true;
  }
  try {
    clause.holds = CountRows(db, query.Count(form_id, clause.translated)) > 0;
    if (history) {
      // The record's change history, as the clause reads it.
      Recordset rows;
      rows.Open(db, Format("SELECT ChngWhat, ChngFrom, ChngTo FROM %s WHERE FormID =%lld",
                           names.chnghist_from.c_str(), form_id));
      for (int shown = 0; !rows.IsEOF() && shown < kHistoryRowsShown; rows.MoveNext(), ++shown) {
        std::string what = rows.GetText(0), from = rows.GetText(1), to = rows.GetText(2);
        TrimRight(what);
        TrimRight(from);
        TrimRight(to);
        clause.values.push_back(what + ": " + from + " -> " + to);
      }
      if (clause.values.empty()) clause.values.push_back("(no change-history rows)");
    } else if (!parsed.column.empty()) {
      Recordset row;
      row.Open(db, RetrievalStatement(parsed.column, names.table_from, static_cast<long>(form_id)));
      if (!row.IsEOF()) {
        std::string value = row.GetText(0);
        TrimRight(value);
        clause.values.push_back(value);
      }
    }
  } catch (const DbException& error) {
    clause.error = Chomp(error.Message());
  }
}

void LastActions(const std::string& server_dir, int32_t rule_id, long long form_id,
                 Explanation& explanation) {
  const std::string path = FiringHistory::PathOf(server_dir);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;
  try {
    FiringHistory history;
    history.OpenForReading(path);
    HistoryFilter filter;
    filter.rule_id = rule_id;
    filter.record = form_id;
    filter.limit = kLastActions;
    for (const ActionRecord& row : history.Actions(filter)) {
      std::string line = HistoryTimeText(row.event.time) + " " + row.event.action + " " +
                         row.event.outcome;
      if (!row.event.detail.empty()) line += " " + row.event.detail;
      if (!row.event.error.empty()) line += " : " + row.event.error;
      explanation.last_actions.push_back(line);
      explanation.last_actions_json.push_back(ActionJson(row));
    }
  } catch (const std::exception& error) {
    explanation.last_actions.push_back(std::string("(history not readable: ") +
                                       Chomp(error.what()) + ")");
  }
}

std::string NextTick(const Explanation& e) {
  if (!e.record_found) return "nothing: there is no such record";
  if (e.holds && !e.flagged) {
    return e.action == "Update" ? "update the record (it newly meets the condition)"
                                : "notify about the record (it newly meets the condition)";
  }
  if (e.holds) {
    return "nothing: the record is flagged for the rule and fires again only after it stops "
           "meeting the condition";
  }
  if (e.flagged) return "remove the record's flag (it no longer meets the condition); no action";
  return "nothing: the record does not meet the condition";
}

}  // namespace

bool ExplainRule(int32_t rule_id, long long form_id, Explanation* explanation, std::string* why) {
  std::ostringstream load_errors;
  PreviewEngine engine(/*changes_nothing=*/true, load_errors, /*quiet=*/true);
  // The rule manager explains in its own process: its name lists stay.
  engine.worker().clears_name_lists = false;
  std::string load_why;
  const bool loaded = engine.Load(&load_why);
  std::vector<PreviewEngine::Entry> entries = loaded ? engine.Rules({rule_id})
                                                     : std::vector<PreviewEngine::Entry>();
  if (entries.empty()) {
    const std::string refusal = RefusalLine(engine.LogText(), rule_id);
    if (!refusal.empty()) {
      *why = refusal;
    } else if (!loaded) {
      *why = Chomp(load_why.empty() ? "no rule could be loaded" : load_why);
    } else {
      *why = Format("Rule %ld is not loaded (no such rule, or its project or table cannot be "
                    "read)", static_cast<long>(rule_id));
    }
    return false;
  }
  const PreviewEngine::Entry& entry = entries.front();
  CProjectTable& table = *entry.table;
  const CRule& rule = *entry.rule;
  Explanation& e = *explanation;
  e.rule_id = rule_id;
  e.form_id = form_id;
  e.action = rule.action;
  e.table = table.key();
  e.condition = rule.cond;
  e.sql_form = (rule.flag & kRuleFlagSqlCondition) != 0;

  if (!table.project()->OpenProject()) {
    *why = "The project database of " + table.key() + " could not be opened";
    return false;
  }
  Database& db = table.project()->database();
  const SelectionNames names = SelectionNamesOf(table.names(), table.project()->db_type());
  RecordQuery base;
  base.from = rule.from_list;
  base.table = names.table;
  base.chnghist = names.chnghist;
  base.join = rule.uses_chnghist != 0;
  try {
    e.record_found =
        CountRows(db, Format("SELECT COUNT(*) FROM %s WHERE FormID =%lld",
                             names.table_from.c_str(), form_id)) > 0;
    e.holds = CountRows(db, base.Count(form_id, rule.where_condition)) > 0;
    e.flagged = table.has_flag_table &&
                CountRows(db, Format("SELECT COUNT(*) FROM %s WHERE RuleID =%ld AND FormID =%lld",
                                     names.flag_from.c_str(), static_cast<long>(rule_id),
                                     form_id)) > 0;
  } catch (const DbException& error) {
    *why = "The rule's condition cannot be checked: " + Chomp(error.Message());
    return false;
  }

  if (e.sql_form) {
    ClauseExplanation clause;
    clause.text = rule.cond;
    clause.translated = rule.where_condition;
    clause.holds = e.holds;
    e.clauses.push_back(std::move(clause));
  } else {
    std::string condition = rule.cond;
    RewriteConnectors(condition);
    for (const std::string& text : ConditionClauses(condition, table.ConditionContext())) {
      ClauseExplanation clause;
      clause.text = text;
      ExplainClause(db, table, names, base, form_id, clause);
      clause.text = Trimmed(clause.text);
      e.clauses.push_back(std::move(clause));
    }
  }
  e.next_tick = NextTick(e);
  LastActions(engine.settings().server_dir, rule_id, form_id, e);
  return true;
}

void PrintExplanation(const Explanation& e, bool json, std::ostream& out) {
  if (json) {
    out << "{\"rule\":" << e.rule_id << ",\"record\":" << e.form_id
        << ",\"action\":" << JsonString(e.action) << ",\"table\":" << JsonString(e.table)
        << ",\"condition\":" << JsonString(e.condition)
        << ",\"sql_form\":" << (e.sql_form ? "true" : "false") << ",\"clauses\":[";
    for (size_t i = 0; i < e.clauses.size(); ++i) {
      const ClauseExplanation& c = e.clauses[i];
      out << (i ? "," : "") << "{\"clause\":" << JsonString(c.text)
          << ",\"sql\":" << JsonString(c.translated) << ",\"column\":" << JsonString(c.column)
          << ",\"values\":[";
      for (size_t v = 0; v < c.values.size(); ++v) out << (v ? "," : "") << JsonString(c.values[v]);
      out << "],\"holds\":" << (c.holds ? "true" : "false");
      if (!c.error.empty()) out << ",\"error\":" << JsonString(c.error);
      out << "}";
    }
    out << "],\"record_found\":" << (e.record_found ? "true" : "false")
        << ",\"holds\":" << (e.holds ? "true" : "false")
        << ",\"flagged\":" << (e.flagged ? "true" : "false")
        << ",\"next_tick\":" << JsonString(e.next_tick) << ",\"last_actions\":[";
    for (size_t i = 0; i < e.last_actions_json.size(); ++i) {
      out << (i ? "," : "") << e.last_actions_json[i];
    }
    out << "]}\n";
    return;
  }
  out << "Rule " << e.rule_id << " (" << e.action << ") on " << e.table << ", record " << e.form_id
      << "\n";
  if (!e.record_found) out << "  The table has no record " << e.form_id << ".\n";
  out << "Condition" << (e.sql_form ? " (SQL form)" : "") << ": " << e.condition << "\n";
  int number = 0;
  for (const ClauseExplanation& c : e.clauses) {
    out << "  " << ++number << ". " << c.text << "\n"
        << "     SQL:    " << c.translated << "\n";
    if (!c.column.empty() || !c.values.empty()) {
      out << "     Value:  ";
      if (c.values.empty()) out << "(none)";
      for (size_t v = 0; v < c.values.size(); ++v) out << (v ? "\n             " : "") << c.values[v];
      out << "\n";
    }
    if (!c.error.empty()) {
      out << "     Error:  " << c.error << "\n";
    } else {
      out << "     " << (c.holds ? "holds" : "does not hold") << "\n";
    }
  }
  out << "The condition " << (e.holds ? "holds" : "does not hold") << " for record "
      << e.form_id << ".\n";
  out << "The record is " << (e.flagged ? "" : "not ") << "flagged for the rule.\n";
  out << "Next tick: " << e.next_tick << "\n";
  out << "Last actions:\n";
  if (e.last_actions.empty()) out << "  (none)\n";
  for (const std::string& line : e.last_actions) out << "  " << line << "\n";
}

int RunExplain(int32_t rule_id, long long form_id, bool json, std::ostream& out,
               std::ostream& err) {
  const bool written_back = DefaultsWrittenBack();
  SetDefaultsWrittenBack(false);
  Explanation explanation;
  std::string why;
  const bool explained = ExplainRule(rule_id, form_id, &explanation, &why);
  SetDefaultsWrittenBack(written_back);
  if (!explained) {
    err << "vgservice: " << why << "\n";
    return 1;
  }
  PrintExplanation(explanation, json, out);
  return 0;
}

}  // namespace vigilo
