#include "service/table_notify.h"

#include <algorithm>

#include "common/format.h"
#include "data/database_kind.h"
#include "platform/sql/database.h"
#include "service/flag_table.h"
#include "data/date_settings.h"
#include "data/server_paths.h"
#include "notify/mail_sender.h"
#include "notify/notify_rules.h"
#include "notify/report_columns.h"
#include "service/project.h"
#include "service/project_table.h"

namespace vigilo {

int RunTableNotifications(CProjectTable& table) {
  if (!table.notify_rules) return 0;
  NotifyTableInfo info;
  info.table_id = table.key();
  info.table_from = table.names().from_table;
  info.table_name = table.name();
  info.db_type = table.project()->db_type();
  info.fields = &table.field_defs;
  if (table.settings != nullptr) info.date_settings = DateSettingsOf(*table.settings);
  info.log = table.log;
  info.mail_sender = table.mail_sender;
  ProjectTableAccess access(table);
  return RunNotifyRules(table.notify_rules, info, access);
}

int CProjectTable::NotifyRecords() { return RunTableNotifications(*this); }

ProjectTableAccess::ProjectTableAccess(CProjectTable& table)
    : DatabaseNotifyAccess(table.project()->database()), table_(table) {}

std::string ProjectTableAccess::FindNewRecords(const CNotifyRule& rule) {
  return table_.FindNewRecords(rule);
}

void ProjectTableAccess::InsertFlags(const std::string& list, int32_t rule_id) {
  table_.InsertFlags(list, rule_id);
}

bool ProjectTableAccess::FlagRecord(long long form_id, int32_t rule_id) {
  return FlagOneRecord(table_, form_id, rule_id, /*ensure=*/false);
}

bool ProjectTableAccess::EnsureFlag(long long form_id, int32_t rule_id) {
  return FlagOneRecord(table_, form_id, rule_id, /*ensure=*/true);
}

std::vector<bool> ProjectTableAccess::FlagRecords(const std::vector<long long>& form_ids,
                                                  int32_t rule_id) {
  return vigilo::FlagRecords(table_, form_ids, rule_id);
}

bool ProjectTableAccess::RemoveFlag(long long form_id, int32_t rule_id) {
  Database& db = table_.project()->database();
  if (!db.IsOpen() || form_id <= 0) return false;
  const std::string statement =
      Format("DELETE FROM %s WHERE FormID =%lld AND RuleID =%ld", table_.names().from_flag.c_str(),
             form_id, static_cast<long>(rule_id));
  try {
    db.ExecuteSQL(statement);
    return true;
  } catch (const DbException& error) {
    table_.LogDbError(&error,
                      Format("While Removing record from Flag Table, Rule ID : %ld",
                             static_cast<long>(rule_id)),
                      statement);
    return false;
  }
}

bool FlagOneRecord(CProjectTable& table, long long form_id, int32_t rule_id, bool ensure) {
  Database& db = table.project()->database();
  if (!db.IsOpen() || form_id <= 0) return false;
  std::string statement;
  try {
    if (ensure) {
      statement = Format("SELECT FormID FROM %s WHERE FormID =%lld AND RuleID =%ld",
                         table.names().from_flag.c_str(), form_id, static_cast<long>(rule_id));
      Recordset existing;
      existing.Open(db, statement);
      if (!existing.IsEOF()) return true;
    }
    statement = FlagInsertStatement(FlagInsertTarget(table.project()->db_type(), table.names()),
                                    static_cast<long>(form_id), rule_id);
    db.ExecuteSQL(statement);
    return true;
  } catch (const DbException& error) {
    table.LogDbError(&error,
                     Format("While Inserting record to Flag Table, Rule ID : %ld",
                            static_cast<long>(rule_id)),
                     statement);
    return false;
  }
}

std::vector<bool> FlagRecords(CProjectTable& table, const std::vector<long long>& form_ids,
                              int32_t rule_id) {
  Database& db = table.project()->database();
  bool ensure = false;
  if (db.IsOpen() && form_ids.size() > 1 &&
      std::all_of(form_ids.begin(), form_ids.end(), [](long long id) { return id > 0; })) {
    if (table.project()->db_type() == kDbaseKind) {
      try {
        db.ExecuteSQL(FlagInsertStatement(
            FlagInsertTarget(table.project()->db_type(), table.names()), form_ids, rule_id));
        return std::vector<bool>(form_ids.size(), true);
      } catch (const DbException&) {
        // Rows before the failing one may be written: each is made sure of
        // below, and a failure that stays is logged there.
        ensure = true;
      }
    } else {
      switch (InsertFlagBatch(table, form_ids, rule_id)) {
        case FlagBatchResult::kWritten:
          return std::vector<bool>(form_ids.size(), true);
        case FlagBatchResult::kLost:
          return std::vector<bool>(form_ids.size(), false);
        case FlagBatchResult::kRefused:
          // Nothing of the batch stays: each record goes alone below, and the
          // refused one is logged with its own statement.
          break;
      }
    }
  }
  std::vector<bool> flagged;
  flagged.reserve(form_ids.size());
  for (long long form_id : form_ids) {
    flagged.push_back(FlagOneRecord(table, form_id, rule_id, ensure));
  }
  return flagged;
}

void PrepareNotifyRecipients(CProjectTable& table, CNotifyRule& rule) {
  BuildReportColumns(rule, table.names().ini_path, table.names().directory, table.name(),
                     table.field_defs);
  if (table.mail_sender != nullptr) {
    ResolveRuleRecipients(table.mail_sender->directory(), rule);
    table.mail_sender->WatchTable(table.key());
  }
}

}  // namespace vigilo
