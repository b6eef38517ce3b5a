// CProjectTable: one watched table of a project, with the rules that watch it.
//
// Built once, at rule loading, from the table's resolved names (TableNames),
// with the field definitions of its table INI file when the table has a
// change history; holds the update rules and the notification rules in rule-table order and
// the table's last poll time. At each firing tick its project runs the update
// rules, then the notification rules, then writes the last poll time into the
// table INI file. Owned by its CProject; owns its rules.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "data/field_def.h"
#include "data/rule.h"
#include "data/table_names.h"
#include "data/translation_context.h"

namespace vigilo {

class CMailSender;
class CProject;
class CServerPaths;
class DbException;
class LogStream;

class CProjectTable {
 public:
  // Takes the log stream, mail sender and settings pointers from its project.
  // When the names say the table has a change history, reads the field
  // definitions (a missing table INI leaves "Unable to open %s!" in the
  // settings' message and only the change-history pseudo-fields).
  CProjectTable(std::string table_name, CProject* project, TableNames names);
  virtual ~CProjectTable() = default;
  CProjectTable(const CProjectTable&) = delete;
  CProjectTable& operator=(const CProjectTable&) = delete;

  // Returns 1 when the table's flag table exists or was created; 0 when it
  // could not be created or is damaged (the error is logged; the table keeps
  // its rules and FlagTableReady tries again at each tick). A dBase flag
  // table left without its header by a creation cut short is created again.
  // REQUIRES: the project's database is open.
  int EnsureFlagTable();
  // At each tick, before the table's rules run: true when the flag table is
  // usable, else EnsureFlagTable again (which logs why it is not).
  bool FlagTableReady();
  // Moves the flag table aside (a dBase file is kept as FILE.damaged, a
  // server table is dropped) and creates it empty. Returns 1, or 0 with the
  // reason in why.
  int RebuildFlagTable(std::string* why);
  // How the table is named to --rebuild-flags: project, "\", table.
  std::string TableArgument() const;
  // Returns 1 when the table's flag table can be read, 0 otherwise; creates
  // nothing.
  int ProbeFlagTable();

  // Fills the rule's selection, uses-change-history flag, WHERE condition,
  // flag-table select and FROM list from its condition (service/selection.h).
  // Returns 1.
  int BuildSelection(CRule& rule);

  // Fills the update rule's statement template from its Values text
  // (service/update_statement.h). Returns 1, or 0 when no assignment is
  // usable (the rule is then dropped).
  int BuildUpdateStatement(CUpdateRule& rule);

  // One tick of a rule's selection: drops the flags of records that no
  // longer meet the condition, then returns the FormIDs that meet it and are
  // not flagged, in decimal joined by ",". Empty when none, when the
  // database is not open, or on a database error (logged; the rule then
  // does nothing this tick).
  std::string FindNewRecords(const CRule& rule);

  // Flags every positive FormID of the list for the rule. Returns 0 when the
  // project's database is not open, else 1; a database error is logged and
  // ends the insertion (the records not yet flagged fire again next tick).
  int InsertFlags(const std::string& list, int32_t rule_id);

  // Checks the record against the table (CheckRule, data/rule_check.h) and
  // builds an update or a notification rule from it. A rule that must not run
  // is refused: one run-log line names it, the reason and the table, and its
  // RuleId stays listed among the refused rules. Update assignments left out
  // for their value get a run-log line each. A rule that cannot be prepared
  // otherwise is dropped.
  void AddRuleToTable(const CRule& record);

  // Run the table's update / notification rules once. Return 0 when the
  // table has no rules of that kind, else 1.
  int UpdateRecords();
  int NotifyRecords();

  // Writes last_poll_time as LAST_POLL_TIME into the table INI file.
  // Returns 1, or 0 when the file could not be written.
  int WriteLastPollTime();

  // Whether a record number fits the FormID field of the flag table (always
  // true while its size is unknown). A number that does not is logged once
  // per rule and left alone by the rule: unflagged, it would fire at every
  // tick.
  bool FitsFlagTable(const CRule& rule, long form_id);

  // The database error entry of the run log (nothing when error is null).
  void LogDbError(const DbException* error, const std::string& context,
                  const std::string& statement);

  const std::string& name() const { return name_; }
  // Project key + "\" + table name, e.g. 1\BUGS\Proj\Bugs.
  const std::string& key() const { return key_; }
  const TableNames& names() const { return names_; }
  CProject* project() const { return project_; }

  // RuleIds in rule-table order.
  std::vector<int32_t> UpdateRuleIds() const;
  std::vector<int32_t> NotifyRuleIds() const;
  const std::vector<int32_t>& RefusedRuleIds() const { return refused_rule_ids_; }
  // Why the rule of that id was refused at load, as the run log says; empty
  // when it was not.
  std::string RefusalOf(int32_t rule_id) const;

  // How conditions of this table are translated: the project's kind, the
  // settings' date format, messages to the service's error stream.
  TranslationContext ConditionContext() const;

  // Created on first use: absent until the table's first rule of that kind.
  std::optional<std::vector<std::unique_ptr<CUpdateRule>>> update_rules;
  std::optional<std::vector<std::unique_ptr<CNotifyRule>>> notify_rules;

  std::vector<CFieldDef> field_defs;
  // False only on a table loaded for a preview whose flag table does not
  // exist yet: no record of it is flagged.
  bool has_flag_table = true;
  int32_t last_poll_time = 0;  // seconds since 1970 of the last visit
  LogStream* log = nullptr;
  CMailSender* mail_sender = nullptr;
  CServerPaths* settings = nullptr;

 private:
  // Prepare a rule for running: its selection, and the update statement or
  // the report columns and recipients. False drops the rule.
  bool PrepareUpdateRule(CUpdateRule& rule);
  void PrepareNotifyRule(CNotifyRule& rule);
  // Tells the tick's observer which records a rule updated and, when the
  // statement for a record failed, that record and the error.
  void ReportUpdates(const CUpdateRule& rule, const std::vector<long long>& updated,
                     long long failed, const std::string& error);

  // The dBase file of the flag table ("" on a server).
  std::string FlagTableFile() const;
  // Unlinks path, or renames it to keep_as when given; a missing file is no
  // failure.
  bool RemoveFlagFile(const std::string& path, const std::string& keep_as, std::string* why);
  // The error line of a flag table the rules cannot use, at each tick.
  void LogUnusableFlagTable();

  std::vector<int32_t> refused_rule_ids_;
  std::vector<std::string> refusals_;  // the reason of each refused rule, in step
  bool flag_table_ready_ = false;
  std::string probe_error_;  // why the last probe of the flag table failed
  // The largest FormID the flag table holds, when its backend says.
  std::optional<int64_t> flag_form_id_limit_;
  std::set<std::pair<int32_t, long>> unfit_reported_;  // (RuleId, FormID) logged
  std::string name_;
  std::string key_;
  TableNames names_;
  CProject* project_;
};

}  // namespace vigilo
