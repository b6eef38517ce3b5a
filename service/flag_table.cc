// The flag table of a watched table: what makes a rule fire once per record
// each time the record comes to meet the condition. Stale pairs are dropped
// before each selection, new pairs are written after the rule has acted.
#include "service/flag_table.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/text.h"
#include "data/activity.h"
#include "data/log_stream.h"
#include "data/database_kind.h"
#include "platform/sql/database.h"
#include "service/project.h"
#include "service/project_table.h"

namespace vigilo {

bool IsFileFromName(int32_t db_type, const std::string& from_name) {
  return db_type == kDbaseKind && from_name.find(" AS ", 1) != std::string::npos;
}

std::string CreateFlagTableStatement(int32_t db_type, const std::string& project,
                                     const TableNames& names) {
  std::string target = names.from_flag;
  if (IsFileFromName(db_type, target)) target = target.substr(0, target.find(" AS ", 1));
  const size_t dot = names.qualified_flag.rfind('.');
  const std::string suffix =
      dot == std::string::npos ? names.qualified_flag : names.qualified_flag.substr(dot + 1);
  // Record numbers pass 2^31 on servers; a dBase INT column (N 11) already
  // holds every number a dBase FormID field can.
  const char* form_id_type = db_type == 0 ? "INT" : "NUMERIC(19)";
  return Format(
      "CREATE TABLE %s (FormID %s, RuleID INT, CONSTRAINT pk_%s%s PRIMARY KEY (FormID, RuleID))",
      target.c_str(), form_id_type, project.c_str(), suffix.c_str());
}

std::string StaleFlagsStatement(const CRule& rule, const TableNames& names) {
  const long rule_id = rule.rule_id;
  if (rule.uses_chnghist) {
    return Format(
        "DELETE FROM %s WHERE FormID NOT IN (SELECT DISTINCT %s.FormID FROM %s WHERE %s.FormID "
        "=%s.FormID AND %s) AND RuleID =%ld",
        names.from_flag.c_str(), names.qualified_table.c_str(), rule.from_list.c_str(),
        names.qualified_table.c_str(), names.qualified_change_history.c_str(),
        rule.where_condition.c_str(), rule_id);
  }
  return Format(
      "DELETE FROM %s WHERE FormID NOT IN (SELECT DISTINCT %s.FormID FROM %s WHERE %s) AND "
      "RuleID =%ld",
      names.from_flag.c_str(), names.qualified_table.c_str(), rule.from_list.c_str(),
      rule.where_condition.c_str(), rule_id);
}

std::string FlagInsertTarget(int32_t db_type, const TableNames& names) {
  if (IsFileFromName(db_type, names.from_flag)) {
    return Format("\"%s/%s.DBF\"", names.directory.c_str(), names.flag.c_str());
  }
  return names.qualified_flag;
}

std::string FlagInsertStatement(const std::string& target, long form_id, int32_t rule_id) {
  return Format("INSERT INTO %s(FormID,RuleID) VALUES(%ld,%d)", target.c_str(), form_id,
                static_cast<int>(rule_id));
}

std::string ParameterizedFlagInsertStatement(const std::string& target, int32_t rule_id) {
  return Format("INSERT INTO %s(FormID,RuleID) VALUES(?,%d)", target.c_str(),
                static_cast<int>(rule_id));
}

std::string FlagInsertStatement(const std::string& target, const std::vector<long long>& form_ids,
                                int32_t rule_id) {
  std::string statement = Format("INSERT INTO %s(FormID,RuleID) VALUES", target.c_str());
  for (size_t i = 0; i < form_ids.size(); ++i) {
    statement += Format("%s(%ld,%d)", i == 0 ? "" : ",", static_cast<long>(form_ids[i]),
                        static_cast<int>(rule_id));
  }
  return statement;
}

int CProjectTable::ProbeFlagTable() {
  Database& db = project()->database();
  if (!db.IsOpen()) return 0;
  const std::string probe_statement = Format("SELECT FormID FROM %s", names().from_flag.c_str());
  try {
    Recordset probe;
    probe.Open(db, probe_statement);
    flag_form_id_limit_ = probe.LargestWholeNumber(0);
    return 1;
  } catch (const DbException&) {
    return 0;
  }
}

int CProjectTable::EnsureFlagTable() {
  Database& db = project()->database();
  if (!db.IsOpen()) return 0;
  // A missing table is the expected case here: it is created below.
  if (ProbeFlagTable()) return 1;
  const std::string statement =
      CreateFlagTableStatement(project()->db_type(), project()->name(), names());
  try {
    db.ExecuteSQL(statement);
  } catch (const DbException& error) {
    LogDbError(&error, "While Creating Flag Table", statement);
    return 0;
  }
  try {
    Recordset probe;
    probe.Open(db, Format("SELECT FormID FROM %s", names().from_flag.c_str()));
    flag_form_id_limit_ = probe.LargestWholeNumber(0);
  } catch (const DbException&) {
    // Created but not readable yet: the limit stays unknown, and a number
    // the field cannot hold fails its insert with a logged error.
  }
  return 1;
}

bool CProjectTable::FitsFlagTable(const CRule& rule, long form_id) {
  if (!flag_form_id_limit_ || form_id <= *flag_form_id_limit_) return true;
  // Acted on but never flagged, the record would fire at every tick; a
  // wrapped number would flag another record.
  if (unfit_reported_.insert({rule.rule_id, form_id}).second && log != nullptr) {
    log->Write(Format("Record %ld of table %s does not fit the FormID field of its flag table "
                      "(at most %ld); Rule ID : %ld leaves it alone\r\n",
                      form_id, key().c_str(), static_cast<long>(*flag_form_id_limit_),
                      static_cast<long>(rule.rule_id)));
  }
  return false;
}

std::string CProjectTable::FindNewRecords(const CRule& rule) {
  Database& db = project()->database();
  if (!db.IsOpen()) return {};
  std::string statement = StaleFlagsStatement(rule, names());
  try {
    db.ExecuteSQL(statement);
    statement = rule.selection;
    std::string list;
    Recordset records;
    for (records.Open(db, statement); !records.IsEOF(); records.MoveNext()) {
      const long form_id = static_cast<long>(records.GetInt64(0));
      if (!FitsFlagTable(rule, form_id)) continue;
      list += Format(",%ld", form_id);
    }
    records.Close();
    if (!list.empty()) list.erase(0, 1);
    if (ActivityObserver* activity = CurrentActivity()) {
      activity->OnSelected(rule.rule_id,
                           list.empty() ? 0 : 1 + std::count(list.begin(), list.end(), ','));
    }
    return list;
  } catch (const DbException& error) {
    LogDbError(&error,
               Format("While Retrieving RecordIDs, Rule ID : %ld", static_cast<long>(rule.rule_id)),
               statement);
    return {};
  }
}

int CProjectTable::InsertFlags(const std::string& list, int32_t rule_id) {
  Database& db = project()->database();
  if (!db.IsOpen()) return 0;
  const std::string target = FlagInsertTarget(project()->db_type(), names());
  std::vector<int64_t> form_ids;
  for (const std::string& item : SplitText(list, ',')) {
    const long form_id = LeadingNumber(item);
    if (form_id > 0) form_ids.push_back(form_id);
  }
  if (form_ids.empty()) return 1;
  // One statement prepared once and run for every pair as one batch; the
  // pairs before a failing one stay written and the rest are left, as when
  // each ran alone.
  size_t done = 0;
  try {
    db.ExecuteForEach(ParameterizedFlagInsertStatement(target, rule_id), form_ids, &done);
  } catch (const DbException& error) {
    LogDbError(&error,
               Format("While Inserting record to Flag Table, Rule ID : %ld",
                      static_cast<long>(rule_id)),
               FlagInsertStatement(target, static_cast<long>(form_ids[std::min(
                                               done, form_ids.size() - 1)]),
                                   rule_id));
  }
  return 1;
}

}  // namespace vigilo
