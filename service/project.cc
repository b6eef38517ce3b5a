#include "service/project.h"

#include <ctime>
#include <utility>

#include "common/format.h"
#include "data/log_stream.h"

namespace vigilo {

std::string ProjectNameOf(const std::string& db_table) {
  size_t pos = db_table.rfind('\\');
  if (pos == std::string::npos || pos == 0) return db_table;
  return db_table.substr(0, pos);
}

std::string TableNameOf(const std::string& db_table) {
  size_t pos = db_table.rfind('\\');
  if (pos == std::string::npos) return db_table;
  return db_table.substr(pos + 1);
}

CProject::CProject(int32_t db_type, std::string dsn, std::string project_name,
                   ProjectSource source, CServerPaths* settings,
                   CMailSender* mail_sender, LogStream* log)
    : db_type_(db_type),
      key_(ProjectKey(db_type, dsn, project_name)),
      name_(std::move(project_name)),
      dsn_(std::move(dsn)),
      source_(std::move(source)),
      mail_sender_(mail_sender),
      settings_(settings),
      log_(log) {
  tables_.reserve(10);
}

CProject::~CProject() {
  database_.Close();
  tables_.clear();
}

int CProject::OpenProject() {
  if (source_.connection_string.empty()) return 0;
  if (database_.IsOpen()) return 1;
  try {
    if (!database_.Open(source_.connection_string, Database::kNoOdbcDialog)) return 0;
    outage_ = false;
    return 1;
  } catch (const DbException& error) {
    if (!outage_ && log_ != nullptr) {
      log_->Write("ODBC Reported Error (While Opening database) : " +
                  DriverMessage(error) + "\r\n");
    }
    outage_ = true;
    return 0;
  }
}

void CProject::NoteConnectionLost() {
  if (!outage_ && log_ != nullptr) {
    // The driver's text spans lines; the outage is to read as one.
    std::string message;
    for (char c : database_.LostMessage()) {
      const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
      if (blank && (message.empty() || message.back() == ' ')) continue;
      message += blank ? ' ' : c;
    }
    while (!message.empty() && message.back() == ' ') message.pop_back();
    if (message.empty()) message = "the driver reports the connection dead";
    log_->Write(Format("Connection to project %s lost, opening it anew : %s\r\n", key_.c_str(),
                       message.c_str()));
  }
  outage_ = true;
}

void CProject::FireTick(bool keep_connection) {
  if (database_.IsConnectionDead()) {
    database_.Close();
    NoteConnectionLost();
  }
  if (!OpenProject()) return;
  PrepareWaitingRules();
  ProcessProject();
  if (database_.ConnectionLost()) {
    NoteConnectionLost();
    if (OpenProject()) {
      PrepareWaitingRules();
      ProcessProject();
    }
  }
  if (!keep_connection) CloseProject();
}

void CProject::PrepareWaitingRules() {
  if (waiting_rules_.empty() || !database_.IsOpen()) return;
  if (log_ != nullptr) {
    std::string ids;
    for (const CRule& rule : waiting_rules_) {
      ids += (ids.empty() ? "" : ",") + Format("%ld", static_cast<long>(rule.rule_id));
    }
    log_->Write(Format("Project %s opened: its waiting rules %s are prepared\r\n", key_.c_str(),
                       ids.c_str()));
  }
  std::vector<CRule> rules = std::move(waiting_rules_);
  waiting_rules_.clear();
  for (const CRule& rule : rules) {
    // Lost again while preparing: the rest waits for the next open.
    if (!database_.IsOpen()) {
      waiting_rules_.push_back(rule);
      continue;
    }
    AddRuleToProject(rule);
  }
}

std::vector<int32_t> CProject::WaitingRuleIds() const {
  std::vector<int32_t> ids;
  for (const CRule& rule : waiting_rules_) ids.push_back(rule.rule_id);
  return ids;
}

int CProject::CloseProject() {
  if (database_.IsOpen()) database_.Close();
  return 1;
}

int CProject::ProcessProject() {
  for (const auto& table : tables_) {
    const int32_t now = static_cast<int32_t>(std::time(nullptr));
    if (creates_flag_tables_ && !table->FlagTableReady()) continue;
    table->UpdateRecords();
    table->NotifyRecords();
    table->last_poll_time = now;
    table->WriteLastPollTime();
  }
  return 1;
}

void CProject::AddRuleToProject(const CRule& record) {
  const std::string table_name = TableNameOf(record.db_table);
  const std::string table_key = key_ + "\\" + table_name;
  CProjectTable* table = nullptr;
  for (const auto& candidate : tables_) {
    if (candidate->key() == table_key) {
      table = candidate.get();
      break;
    }
  }
  if (table == nullptr) {
    TableNames names =
        table_resolver_ ? table_resolver_(db_type_, name_, source_, table_name) : TableNames();
    auto created = std::make_unique<CProjectTable>(table_name, this, std::move(names));
    if (creates_flag_tables_) {
      // A table without a change history has no flag table name and never
      // gets one: it is dropped. Otherwise it is kept when the flag table
      // cannot be made yet (a full disk): each tick tries again, and logs
      // why until it works.
      if (!created->EnsureFlagTable() && created->names().flag.empty()) return;
    } else {
      created->has_flag_table = created->ProbeFlagTable() != 0;
    }
    table = created.get();
    tables_.push_back(std::move(created));
  }
  table->AddRuleToTable(record);
}

}  // namespace vigilo
