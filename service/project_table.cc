#include "service/project_table.h"

#include <utility>

#include "service/log_stream.h"
#include "service/project.h"
#include "service/server_paths.h"

namespace vigilo {

CProjectTable::CProjectTable(std::string table_name, CProject* project,
                             TableSource source)
    : log(project->log()),
      mail_sender(project->mail_sender()),
      settings(project->settings()),
      name_(std::move(table_name)),
      key_(project->key() + "\\" + name_),
      source_(std::move(source)),
      project_(project) {}

int CProjectTable::EnsureFlagTable() {
  // The flag table is created by the selection step of the rules; until a
  // table's rules select records there is nothing to keep flags for.
  return 1;
}

void CProjectTable::AddRuleToTable(const CRule& record) {
  if (record.action == "Update") {
    auto rule = std::make_unique<CUpdateRule>(record);
    if (!PrepareUpdateRule(*rule)) return;
    if (!update_rules) {
      update_rules.emplace();
      update_rules->reserve(32);
    }
    update_rules->push_back(std::move(rule));
  } else if (record.action == "Notify") {
    if (!notify_rules) {
      notify_rules.emplace();
      notify_rules->reserve(32);
    }
    notify_rules->push_back(std::make_unique<CNotifyRule>(record));
    PrepareNotifyRule(*notify_rules->back());
  }
}

bool CProjectTable::PrepareUpdateRule(CUpdateRule& rule) {
  (void)rule;
  return true;
}

void CProjectTable::PrepareNotifyRule(CNotifyRule& rule) { (void)rule; }

int CProjectTable::UpdateRecords() { return update_rules ? 1 : 0; }

int CProjectTable::NotifyRecords() { return notify_rules ? 1 : 0; }

int CProjectTable::WriteLastPollTime() {
  if (source_.ini_path.empty()) return 0;
  return WriteLastPollTimeKey(source_.ini_path, last_poll_time) ? 1 : 0;
}

void CProjectTable::LogDbError(const DbException* error, const std::string& context,
                               const std::string& statement) {
  vigilo::LogDbError(log, error, context, statement);
}

std::vector<int32_t> CProjectTable::UpdateRuleIds() const {
  std::vector<int32_t> ids;
  if (update_rules) {
    for (const auto& rule : *update_rules) ids.push_back(rule->rule_id);
  }
  return ids;
}

std::vector<int32_t> CProjectTable::NotifyRuleIds() const {
  std::vector<int32_t> ids;
  if (notify_rules) {
    for (const auto& rule : *notify_rules) ids.push_back(rule->rule_id);
  }
  return ids;
}

}  // namespace vigilo
