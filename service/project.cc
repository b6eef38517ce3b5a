#include "service/project.h"

#include <ctime>
#include <utility>

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
    return database_.Open(source_.connection_string, Database::kNoOdbcDialog) ? 1 : 0;
  } catch (const DbException& error) {
    if (log_ != nullptr) {
      log_->Write("ODBC Reported Error (While Opening database) : " +
                  DriverMessage(error) + "\r\n");
    }
    return 0;
  }
}

int CProject::CloseProject() {
  if (database_.IsOpen()) database_.Close();
  return 1;
}

int CProject::ProcessProject() {
  for (const auto& table : tables_) {
    const int32_t now = static_cast<int32_t>(std::time(nullptr));
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
      if (!created->EnsureFlagTable()) return;
    } else {
      created->has_flag_table = created->ProbeFlagTable() != 0;
    }
    table = created.get();
    tables_.push_back(std::move(created));
  }
  table->AddRuleToTable(record);
}

}  // namespace vigilo
