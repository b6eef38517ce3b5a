// The update action: at load, an update rule's Values text becomes one UPDATE
// statement template; at each tick the template runs once per record that
// newly meets the rule's condition, the run log gets one "Updating records"
// block per rule, and the records are flagged so they are not updated again
// while they keep meeting the condition.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/text.h"
#include "data/activity.h"
#include "data/date_settings.h"
#include "data/log_stream.h"
#include "platform/sql/database.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/update_statement.h"

namespace vigilo {

int CProjectTable::BuildUpdateStatement(CUpdateRule& rule) {
  const DateSettings dates = settings != nullptr ? DateSettingsOf(*settings) : DateSettings();
  const std::string set_list = BuildSetList(rule.values, field_defs, names().qualified_table,
                                            project()->db_type(), dates);
  if (set_list.empty()) return 0;
  rule.update_statement = UpdateStatementTemplate(names().from_table, set_list);
  return 1;
}

void CProjectTable::ReportUpdates(const CUpdateRule& rule, const std::vector<long long>& updated,
                                  long long failed, const std::string& error) {
  if (CurrentActivity() == nullptr) return;
  ActionEvent event;
  event.rule_id = rule.rule_id;
  event.table = key();
  event.action = kActionUpdate;
  event.detail = rule.values;
  event.outcome = kOutcomeUpdated;
  for (long long form_id : updated) {
    event.record = form_id;
    ReportAction(event);
  }
  if (failed <= 0) return;
  event.record = failed;
  event.outcome = kOutcomeFailed;
  event.error = error;
  while (!event.error.empty() && (event.error.back() == '\n' || event.error.back() == '\r')) {
    event.error.pop_back();
  }
  ReportAction(event);
}

int CProjectTable::UpdateRecords() {
  if (!update_rules) return 0;
  Database& db = project()->database();
  if (!db.IsOpen()) return 1;
  for (const auto& rule : *update_rules) {
    const std::string list = FindNewRecords(*rule);
    if (list.empty()) continue;
    const long rule_id = rule->rule_id;
    std::vector<int64_t> form_ids;
    for (const std::string& item : SplitText(list, ',')) {
      const long form_id = LeadingNumber(item);
      if (form_id > 0) form_ids.push_back(form_id);
    }
    // Every record of the rule gets the same SET list. A server gets the
    // records in IN lists, all in one transaction; when that fails, nothing
    // of it stays and the records run one by one below, so that the failing
    // record is found and those before it keep their update.
    bool written = form_ids.empty();
    if (!written && !db.IsDbase()) {
      const std::vector<std::string> statements =
          UpdateStatementsForAll(rule->update_statement, form_ids, kRecordsPerServerStatement);
      try {
        if (!statements.empty()) {
          db.ExecuteAsOne(statements);
          written = true;
        }
      } catch (const DbException& error) {
        if (!db.IsOpen()) {
          // The connection is gone: no record of the rule was updated.
          ReportUpdates(*rule, {}, form_ids.front(), error.Message());
          LogDbError(&error,
                     Format("While Updating Database, Rule ID : %ld\r\n    SQL        : %s\r\n",
                            rule_id, rule->selection.c_str()),
                     UpdateStatementFor(rule->update_statement, static_cast<long>(form_ids.front())));
          continue;
        }
      }
    }
    // Otherwise one statement, prepared once and run for each record as one
    // batch.
    size_t done = 0;
    try {
      if (!written) db.ExecuteForEach(ParameterizedUpdateStatement(rule->update_statement), form_ids, &done);
    } catch (const DbException& error) {
      const size_t failed_at = std::min(done, form_ids.size() - 1);
      ReportUpdates(*rule, std::vector<long long>(form_ids.begin(), form_ids.begin() + failed_at),
                    form_ids[failed_at], error.Message());
      // No record of the rule is flagged: all are selected and updated again
      // at the next tick.
      LogDbError(&error,
                 Format("While Updating Database, Rule ID : %ld\r\n    SQL        : %s\r\n",
                        rule_id, rule->selection.c_str()),
                 UpdateStatementFor(rule->update_statement, static_cast<long>(form_ids[failed_at])));
      continue;
    }
    const std::string statement =
        form_ids.empty()
            ? std::string()
            : UpdateStatementFor(rule->update_statement, static_cast<long>(form_ids.back()));
    ReportUpdates(*rule, std::vector<long long>(form_ids.begin(), form_ids.end()), 0, {});
    if (log != nullptr) {
      log->Write(Format("Updating records ( Rule ID : %ld)\r\n    Query   : %s\r\n    SQL     : "
                        "%s\r\n",
                        rule_id, statement.c_str(), rule->selection.c_str()));
      log->Write(Format("    Records : %s\r\n", list.c_str()));
      log->Write("\r\n");
    }
    InsertFlags(list, rule->rule_id);
  }
  return 1;
}

}  // namespace vigilo
