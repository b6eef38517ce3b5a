#include "service/project_table.h"

#include <utility>

#include "common/format.h"
#include "data/field_defs_reader.h"
#include "data/log_stream.h"
#include "data/rule_check.h"
#include "data/server_paths.h"
#include "service/project.h"
#include "service/table_notify.h"

namespace vigilo {
namespace {

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

CProjectTable::CProjectTable(std::string table_name, CProject* project,
                             TableNames names)
    : log(project->log()),
      mail_sender(project->mail_sender()),
      settings(project->settings()),
      name_(std::move(table_name)),
      key_(project->key() + "\\" + name_),
      names_(std::move(names)),
      project_(project) {
  if (names_.has_change_history && settings != nullptr) {
    field_defs.reserve(128);
    ReadFieldDefs(
        FieldDefsIniPath(*settings, project->db_type(), project->name(), name_),
        field_defs, &settings->message);
  }
}

void CProjectTable::AddRuleToTable(const CRule& record) {
  const long rule_id = record.rule_id;
  const RuleCheck check = CheckRule(record, field_defs, ConditionContext());
  if (log != nullptr) {
    for (const std::string& message : check.skipped) {
      log->Write(Format("Update assignment left out ( Rule ID : %ld ) on table %s : %s\r\n",
                        rule_id, key_.c_str(), WithoutLineEnd(message).c_str()));
    }
  }
  if (check.refusal) {
    // Run without the part that cannot be translated, the rule would act
    // on records or fields its text does not name.
    refused_rule_ids_.push_back(record.rule_id);
    refusals_.push_back(*check.refusal);
    if (log != nullptr) {
      log->Write(Format("Rule refused ( Rule ID : %ld ) on table %s : %s\r\n", rule_id,
                        key_.c_str(), check.refusal->c_str()));
    }
    return;
  }
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
  return BuildSelection(rule) && BuildUpdateStatement(rule);
}

void CProjectTable::PrepareNotifyRule(CNotifyRule& rule) {
  BuildSelection(rule);
  PrepareNotifyRecipients(*this, rule);
}

int CProjectTable::WriteLastPollTime() {
  if (names_.ini_path.empty()) return 0;
  return WriteLastPollTimeKey(names_.ini_path, last_poll_time) ? 1 : 0;
}

void CProjectTable::LogDbError(const DbException* error, const std::string& context,
                               const std::string& statement) {
  // A lost connection is the project's to report, once per outage.
  if (project_->database().ConnectionLost()) return;
  vigilo::LogDbError(log, error, context, statement);
}

std::string CProjectTable::RefusalOf(int32_t rule_id) const {
  for (size_t i = 0; i < refused_rule_ids_.size(); ++i) {
    if (refused_rule_ids_[i] == rule_id) return refusals_[i];
  }
  return {};
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
