#include "service/rule_preview.h"

#include <map>
#include <memory>
#include <unordered_set>
#include <utility>

#include "common/format.h"
#include "common/text.h"
#include "data/date_settings.h"
#include "data/log_stream.h"
#include "data/rule.h"
#include "data/server_paths.h"
#include "notify/database_notify_access.h"
#include "notify/mail_sender.h"
#include "notify/notify_message.h"
#include "notify/notify_rules.h"
#include "notify/report_columns.h"
#include "platform/sql/database.h"
#include "service/installation_lock.h"
#include "service/preview_engine.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/update_statement.h"

namespace vigilo {
namespace {

// The notify action's access for a preview: the records are the ones given,
// and nothing is flagged.
class PreviewAccess : public DatabaseNotifyAccess {
 public:
  PreviewAccess(Database& db, std::string list) : DatabaseNotifyAccess(db), list_(std::move(list)) {}
  std::string FindNewRecords(const CNotifyRule&) override { return list_; }
  void InsertFlags(const std::string&, int32_t) override {}
  bool FlagRecord(long long, int32_t) override { return true; }

 private:
  std::string list_;
};

// The record numbers a selection yields, each once, in the order first seen
// (a join with the change history yields a record once per matching row).
std::vector<long> RunSelection(Database& db, const std::string& statement) {
  std::vector<long> ids;
  std::unordered_set<long> seen;
  Recordset rows;
  for (rows.Open(db, statement); !rows.IsEOF(); rows.MoveNext()) {
    const long id = rows.GetLong(0);
    if (seen.insert(id).second) ids.push_back(id);
  }
  return ids;
}

std::string JoinIds(const std::vector<long>& ids) {
  std::string text;
  for (long id : ids) text += (text.empty() ? "" : ",") + Format("%ld", id);
  return text;
}

// What the dry run found for one record.
struct RecordPreview {
  long form_id = 0;
  std::string column_value;
  std::string statement;   // update rules
  std::string subject;     // notification rules
  std::string recipients;  // notification rules, addresses joined by ","
};

struct RulePreview {
  const PreviewEngine::Entry* entry = nullptr;
  std::string selection;
  long meeting = 0;
  std::string column;
  std::vector<RecordPreview> records;
  std::string error;
};

void PreviewRule(PreviewEngine& engine, const PreviewEngine::Entry& entry, RulePreview& preview) {
  CProjectTable& table = *entry.table;
  CRule& rule = *entry.rule;
  Database& db = table.project()->database();
  preview.entry = &entry;
  preview.selection = rule.selection;
  const std::string meets =
      ConditionSelection(rule.selection, table.names().qualified_table, rule.flag_select);
  std::string statement = meets;
  try {
    if (!table.project()->OpenProject()) {
      preview.error = "the project database could not be opened";
      return;
    }
    const std::vector<long> meeting = RunSelection(db, meets);
    preview.meeting = static_cast<long>(meeting.size());
    // Without a flag table nothing is flagged yet: every record that meets
    // the condition would be acted on.
    statement = rule.selection;
    const std::vector<long> new_ids = table.has_flag_table ? RunSelection(db, rule.selection)
                                                           : meeting;

    const std::string columns =
        entry.update != nullptr
            ? BuildReportColumns(table.names().ini_path, table.names().directory, table.name(),
                                 table.field_defs)
            : static_cast<CNotifyRule&>(rule).report_columns;
    preview.column = FirstReportColumn(columns);
    for (long id : new_ids) {
      RecordPreview record;
      record.form_id = id;
      if (!preview.column.empty()) {
        statement = RetrievalStatement("FormID, " + preview.column, table.names().from_table, id);
        Recordset row;
        row.Open(db, statement);
        if (!row.IsEOF()) {
          record.column_value = row.GetText(1);
          TrimRight(record.column_value);
        }
      }
      if (entry.update != nullptr) {
        record.statement = UpdateStatementFor(entry.update->update_statement, id);
      } else {
        record.subject = MessageSubject(rule.rule_id, id, table.key());
      }
      preview.records.push_back(std::move(record));
    }

    if (entry.update == nullptr && !new_ids.empty()) {
      // The notify action itself resolves each record's recipients; its
      // deliveries end in the recording sender and nothing is flagged.
      engine.sender().recipients().clear();
      const std::string list = JoinIds(new_ids);
      PreviewAccess access(db, list);
      NotifyTableInfo info;
      info.table_id = table.key();
      info.table_from = table.names().from_table;
      info.table_name = table.name();
      info.db_type = table.project()->db_type();
      info.fields = &table.field_defs;
      if (table.settings != nullptr) info.date_settings = DateSettingsOf(*table.settings);
      info.log = nullptr;
      info.mail_sender = &engine.sender();
      NotifyRuleList one;
      one.emplace();
      one->push_back(std::move((*table.notify_rules)[entry.notify_index]));
      RunNotifyRules(one, info, access);
      (*table.notify_rules)[entry.notify_index] = std::move(one->front());
      for (RecordPreview& record : preview.records) {
        auto found = engine.sender().recipients().find(record.form_id);
        if (found != engine.sender().recipients().end()) record.recipients = found->second;
      }
    }
  } catch (const DbException& error) {
    preview.error = DriverMessage(error) + "\n    SQL : " + statement;
  }
}

void PrintText(const RulePreview& preview, std::ostream& out) {
  const CRule& rule = *preview.entry->rule;
  out << "Rule " << rule.rule_id << " (" << rule.action << ") on " << preview.entry->table->key()
      << "\n";
  out << "  Selection : " << preview.selection << "\n";
  if (!preview.error.empty()) {
    out << "  Error     : " << preview.error << "\n\n";
    return;
  }
  out << "  Meeting the condition now : " << preview.meeting << "\n";
  out << "  Would act on              : " << preview.records.size() << "\n";
  for (const RecordPreview& record : preview.records) {
    out << "    FormID " << record.form_id;
    if (!preview.column.empty()) out << "  " << preview.column << " : " << record.column_value;
    out << "\n";
    if (!record.statement.empty()) out << "      Statement  : " << record.statement << "\n";
    if (!record.subject.empty()) {
      out << "      Subject    : " << record.subject << "\n";
      out << "      Recipients : " << (record.recipients.empty() ? "(none)" : record.recipients)
          << "\n";
    }
  }
  out << "\n";
}

void PrintJson(const RulePreview& preview, std::ostream& out) {
  const CRule& rule = *preview.entry->rule;
  out << "{\"rule\":" << rule.rule_id << ",\"action\":" << JsonString(rule.action)
      << ",\"table\":" << JsonString(preview.entry->table->key())
      << ",\"selection\":" << JsonString(preview.selection);
  if (!preview.error.empty()) {
    out << ",\"error\":" << JsonString(preview.error) << "}\n";
    return;
  }
  out << ",\"meeting\":" << preview.meeting << ",\"column\":" << JsonString(preview.column)
      << ",\"records\":[";
  bool first = true;
  for (const RecordPreview& record : preview.records) {
    out << (first ? "" : ",") << "{\"form_id\":" << record.form_id
        << ",\"value\":" << JsonString(record.column_value);
    if (preview.entry->update != nullptr) {
      out << ",\"statement\":" << JsonString(record.statement);
    } else {
      out << ",\"subject\":" << JsonString(record.subject) << ",\"recipients\":[";
      bool first_recipient = true;
      for (const std::string& address : SplitText(record.recipients, ',')) {
        if (address.empty()) continue;
        out << (first_recipient ? "" : ",") << JsonString(address);
        first_recipient = false;
      }
      out << "]";
    }
    out << "}";
    first = false;
  }
  out << "]}\n";
}

}  // namespace

std::string ConditionSelection(const std::string& selection, const std::string& qualified_table,
                               const std::string& flag_select) {
  const std::string clause = Format("%s.FormID NOT IN (%s) AND ", qualified_table.c_str(),
                                    flag_select.c_str());
  std::string text = selection;
  const size_t pos = text.find(clause);
  if (pos != std::string::npos) text.erase(pos, clause.size());
  return text;
}

std::string FirstReportColumn(const std::string& report_columns) {
  for (const std::string& piece : SplitText(report_columns, ',')) {
    const std::string column = Trimmed(piece);
    if (column.empty() || column == "FormID" || column == "ATrail") continue;
    return column;
  }
  return {};
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': json += "\\\""; break;
      case '\\': json += "\\\\"; break;
      case '\n': json += "\\n"; break;
      case '\r': json += "\\r"; break;
      case '\t': json += "\\t"; break;
      default:
        if (c < 0x20) {
          json += Format("\\u%04x", static_cast<unsigned>(c));
        } else {
          json += static_cast<char>(c);
        }
    }
  }
  return json + "\"";
}

int RunDryRun(const std::vector<int32_t>& rule_ids, PreviewFormat format, std::ostream& out,
              std::ostream& err) {
  const bool written_back = DefaultsWrittenBack();
  SetDefaultsWrittenBack(false);
  int status = 0;
  {
    PreviewEngine engine(/*changes_nothing=*/true, err);
    if (!engine.Load()) {
      status = 1;
    } else {
      for (int32_t id : engine.Missing(rule_ids)) {
        err << "Rule " << id << " is not loaded (unknown, disabled, or its project or table "
               "could not be opened)\n";
        status = 1;
      }
      const std::vector<PreviewEngine::Entry> entries = engine.Rules(rule_ids);
      for (const PreviewEngine::Entry& entry : entries) {
        RulePreview preview;
        PreviewRule(engine, entry, preview);
        if (!preview.error.empty()) status = 1;
        if (format == PreviewFormat::kJsonLines) {
          PrintJson(preview, out);
        } else {
          PrintText(preview, out);
        }
      }
    }
  }
  SetDefaultsWrittenBack(written_back);
  return status;
}

int RunMarkCurrent(const std::vector<int32_t>& rule_ids, std::ostream& out, std::ostream& err) {
  if (rule_ids.empty()) {
    err << "--mark-current needs the ids of the rules to mark\n";
    return 1;
  }
  InstallationLock lock;
  std::string why;
  if (!lock.Acquire(InstallationLock::PathFor(CServerPaths().server_dir), &why)) {
    err << why << "\n";
    return 1;
  }
  PreviewEngine engine(/*changes_nothing=*/false, err);
  if (!engine.Load()) return 1;
  const std::vector<int32_t> missing = engine.Missing(rule_ids);
  for (int32_t id : missing) {
    err << "Rule " << id << " is not loaded (unknown, disabled, or its project or table could "
           "not be opened)\n";
  }
  if (!missing.empty()) return 1;
  int status = 0;
  for (const PreviewEngine::Entry& entry : engine.Rules(rule_ids)) {
    if (!MarkRuleCurrent(engine, entry, out, err)) status = 1;
  }
  return status;
}

bool MarkRuleCurrent(PreviewEngine& engine, const PreviewEngine::Entry& entry, std::ostream& out,
                     std::ostream& err) {
  CProjectTable& table = *entry.table;
  if (!table.project()->OpenProject()) {
    err << "Rule " << entry.rule->rule_id << ": the project database could not be opened\n";
    return false;
  }
  // The same selection a tick runs (stale flags dropped first), flagged as
  // if the rule had acted. Its statements log a failure instead of
  // throwing: a run log grown meanwhile means not every record was marked.
  const size_t logged = engine.LogText().size();
  const std::string list = table.FindNewRecords(*entry.rule);
  const size_t count = SplitFormIds(list).size();
  if (count > 0 && engine.LogText().size() == logged) {
    table.InsertFlags(list, entry.rule->rule_id);
  }
  if (engine.LogText().size() != logged) {
    err << "Rule " << entry.rule->rule_id
        << ": the records could not all be marked as already handled\n";
    return false;
  }
  out << "Rule " << entry.rule->rule_id << ": " << (list.empty() ? 0 : count)
      << " records marked as already handled\n";
  return true;
}

}  // namespace vigilo
