#include "manager/rule_test.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "common/format.h"
#include "common/text.h"
#include "data/log_stream.h"
#include "data/project_source.h"
#include "data/rule.h"
#include "data/rule_check.h"
#include "data/server_paths.h"
#include "data/table_names.h"
#include "notify/notify_rules.h"
#include "notify/report_columns.h"
#include "platform/sql/database.h"
#include "service/installation_lock.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/rule_preview.h"

namespace vigilo {
namespace {

constexpr const char* kNoTableMessage = "The rule names no table of a project (\"%s\").";
constexpr const char* kNoLoginMessage =
    "Unable to open the project %s: no login information was found for data source %s.";
constexpr const char* kCannotOpenMessage = "Unable to open the project %s.";
constexpr const char* kNoHistoryMessage =
    "The table %s has no change history (\"ChngHist Datafile\" in %s): the service does "
    "not watch it.";
constexpr const char* kNoTableIniMessage =
    "The project has no table %s: its INI file %s does not exist.";
constexpr const char* kRefusedMessage = "The service would refuse this rule: %s.";
constexpr const char* kNoWhereMessage =
    "The condition gives no WHERE clause: the service would fail to run the rule at every "
    "tick.";
constexpr const char* kFlagTableMessage = "Unable to create the flag table of %s.";

// Unwinds a count whose cancel flag was set.
struct CountCancelled {};

// The rule's project and table as the engine builds them when it loads the
// rule, with a run log that stays in memory (its text is the failure the
// caller shows) and translation messages kept beside it.
class RuleOnTable {
 public:
  explicit RuleOnTable(const TestedRule& tested)
      : log_([] { return std::string("/dev/null"); },
             [this](std::string_view text) {
               reports_ += std::string(text);
               if (!reports_.empty() && reports_.back() != '\n') reports_ += "\n";
             }) {
    record_.rule_id = static_cast<int32_t>(tested.rule_id.value_or(0));
    record_.db_type = static_cast<int32_t>(tested.kind);
    record_.dsn = tested.dsn;
    record_.db_table = tested.project_table;
    record_.action = tested.action;
    record_.target = tested.target;
    record_.values = tested.values;
    record_.cond = tested.condition;
    record_.flag = static_cast<int32_t>(tested.flag);
  }

  // Opens the project, builds the table and the rule's selection. creates:
  // a missing flag table is created (else it is noted on the table). False
  // with *why set when the rule cannot run on the table.
  bool Open(bool creates, std::string* why) {
    const std::string project_name = ProjectNameOf(record_.db_table);
    const std::string table_name = TableNameOf(record_.db_table);
    if (project_name.empty() || table_name.empty() || project_name == record_.db_table) {
      *why = Format(kNoTableMessage, record_.db_table.c_str());
      return false;
    }
    ProjectSource source =
        ResolveProjectSource(settings_, record_.db_type, record_.dsn, project_name);
    project_ = std::make_unique<CProject>(record_.db_type, record_.dsn, project_name, source,
                                          &settings_, nullptr, &log_);
    if (source.connection_string.empty()) {
      *why = Format(kNoLoginMessage, project_name.c_str(), record_.dsn.c_str());
      return false;
    }
    if (!project_->OpenProject()) {
      *why = WithDetail(Format(kCannotOpenMessage, project_name.c_str()));
      return false;
    }
    TableNames names = ResolveTableNames(record_.db_type, project_name, source, table_name);
    if (!names.has_change_history) {
      std::error_code error;
      *why = std::filesystem::exists(names.ini_path, error)
                 ? Format(kNoHistoryMessage, table_name.c_str(), names.ini_path.c_str())
                 : Format(kNoTableIniMessage, table_name.c_str(), names.ini_path.c_str());
      return false;
    }
    table_ = std::make_unique<CProjectTable>(table_name, project_.get(), std::move(names));
    if (creates) {
      if (!table_->EnsureFlagTable()) {
        *why = WithDetail(Format(kFlagTableMessage, table_name.c_str()));
        return false;
      }
    } else {
      table_->has_flag_table = table_->ProbeFlagTable() != 0;
    }

    // The condition is checked as the service checks it at load; an update's
    // assignments only once it has some, so a condition can be tried before
    // the values are chosen.
    CRule checked = record_;
    if (checked.action != "Update" || checked.values.empty()) checked.action = "Notify";
    const RuleCheck check = CheckRule(checked, table_->field_defs, table_->ConditionContext());
    if (check.refusal) {
      *why = WithDetail(Format(kRefusedMessage, check.refusal->c_str()));
      return false;
    }
    table_->BuildSelection(record_);
    if (Trimmed(record_.where_condition).empty()) {
      *why = WithDetail(kNoWhereMessage);
      return false;
    }
    return true;
  }

  CProjectTable& table() { return *table_; }
  CRule& rule() { return record_; }
  Database& database() { return project_->database(); }
  // The run log entries and messages collected so far.
  std::string Detail() const { return reports_ + log_.Text(); }
  bool LogEmpty() const { return log_.IsEmpty(); }
  std::string WithDetail(const std::string& message) const {
    std::string detail = Detail();
    detail.erase(std::remove(detail.begin(), detail.end(), '\r'), detail.end());
    while (!detail.empty() && detail.back() == '\n') detail.pop_back();
    return detail.empty() ? message : message + "\n\n" + detail;
  }

 private:
  std::string reports_;
  LogStream log_;
  CServerPaths settings_;
  CRule record_;
  std::unique_ptr<CProject> project_;  // before its table, which points to it
  std::unique_ptr<CProjectTable> table_;
};

// Reads the rows of statements, minding the cancel flag and telling the
// progress every so many rows.
class RowReader {
 public:
  explicit RowReader(const RuleTestOptions& options) : options_(options) {}

  void CheckCancel() const {
    if (options_.cancel != nullptr && options_.cancel->load()) throw CountCancelled();
  }

  void Step() {
    CheckCancel();
    if (++rows_ % kRuleTestProgressRows == 0 && options_.progress) options_.progress(rows_);
  }

  // The distinct record numbers the statement gives, in its order.
  std::vector<long> FormIds(Database& db, const std::string& statement) {
    CheckCancel();
    std::vector<long> ids;
    std::unordered_set<long> seen;
    Recordset rows;
    for (rows.Open(db, statement); !rows.IsEOF(); rows.MoveNext()) {
      Step();
      const long id = static_cast<long>(rows.GetInt64(0));
      if (seen.insert(id).second) ids.push_back(id);
    }
    return ids;
  }

  // Fills the value of each listed record from one pass over the table.
  void Values(Database& db, const std::string& statement, std::vector<TestedRecord>& records) {
    CheckCancel();
    std::unordered_map<long, size_t> wanted;
    for (size_t i = 0; i < records.size(); ++i) wanted.emplace(records[i].form_id, i);
    Recordset rows;
    for (rows.Open(db, statement); !rows.IsEOF() && !wanted.empty(); rows.MoveNext()) {
      Step();
      auto found = wanted.find(static_cast<long>(rows.GetInt64(0)));
      if (found == wanted.end()) continue;
      std::string value = rows.GetText(1);
      TrimRight(value);
      records[found->second].value = std::move(value);
      wanted.erase(found);
    }
  }

 private:
  const RuleTestOptions& options_;
  long rows_ = 0;
};

}  // namespace

RuleTestResult CountRule(const TestedRule& tested, const RuleTestOptions& options) {
  RuleTestResult result;
  RowReader reader(options);
  RuleOnTable on(tested);
  std::string statement;
  try {
    reader.CheckCancel();
    if (!on.Open(/*creates=*/false, &result.message)) {
      result.outcome = RuleTestResult::Outcome::kFailed;
      return result;
    }
    CProjectTable& table = on.table();
    const CRule& rule = on.rule();
    const TableNames& names = table.names();
    result.has_flag_table = table.has_flag_table;
    // A selective condition on a large table may run long before its first
    // row; the database stops such a statement itself.
    if (options.cancel != nullptr) {
      const std::atomic<bool>* cancel = options.cancel;
      on.database().SetStopCheck([cancel] { return cancel->load(); });
    }
    result.selection = ConditionSelection(rule.selection, names.qualified_table, rule.flag_select);

    statement = result.selection;
    const std::vector<long> meeting = reader.FormIds(on.database(), statement);
    result.meeting = static_cast<long>(meeting.size());
    // A rule not added yet has no flags, and without a flag table nothing is
    // flagged: each acts on every record that meets its condition.
    std::vector<long> acting = meeting;
    if (tested.rule_id && table.has_flag_table) {
      statement = rule.selection;
      acting = reader.FormIds(on.database(), statement);
    }
    result.to_act_on = static_cast<long>(acting.size());

    result.column = FirstReportColumn(
        BuildReportColumns(names.ini_path, names.directory, table.name(), table.field_defs));
    for (long id : acting) {
      if (result.records.size() >= options.list_limit) break;
      result.records.push_back({id, {}});
    }
    if (!result.column.empty() && !result.records.empty()) {
      statement = Format("SELECT FormID, %s FROM %s", result.column.c_str(),
                         names.from_table.c_str());
      reader.Values(on.database(), statement, result.records);
    }
    result.outcome = RuleTestResult::Outcome::kCounted;
  } catch (const CountCancelled&) {
    result = RuleTestResult();
    result.outcome = RuleTestResult::Outcome::kCancelled;
  } catch (const DbException& error) {
    if (options.cancel != nullptr && options.cancel->load()) {
      result = RuleTestResult();
      result.outcome = RuleTestResult::Outcome::kCancelled;
      return result;
    }
    result.outcome = RuleTestResult::Outcome::kFailed;
    result.message = DriverMessage(error) + "\n\nSQL : " + statement;
  }
  return result;
}

MarkResult MarkRuleHandled(const TestedRule& tested) {
  MarkResult result;
  InstallationLock lock;
  std::string why;
  if (!lock.Acquire(InstallationLock::PathFor(CServerPaths().server_dir), &why)) {
    result.message = Format(kMarkRefusedMessage, why.c_str());
    return result;
  }
  RuleOnTable on(tested);
  if (!on.Open(/*creates=*/true, &result.message)) return result;
  // The statements of a tick, which log their failures instead of throwing:
  // anything in the run log afterwards means the marking did not complete.
  CProjectTable& table = on.table();
  const std::string list = table.FindNewRecords(on.rule());
  const long count = list.empty() ? 0 : static_cast<long>(SplitFormIds(list).size());
  if (count > 0 && on.LogEmpty()) table.InsertFlags(list, on.rule().rule_id);
  if (!on.LogEmpty()) {
    result.message = on.WithDetail(kMarkFailedMessage);
    return result;
  }
  result.marked = true;
  result.count = count;
  return result;
}

}  // namespace vigilo
