#include "notify/notify_records.h"

#include <utility>

#include "data/date_settings.h"
#include "notify/mail_sender.h"
#include "notify/notify_rules.h"
#include "notify/report_columns.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/server_paths.h"

namespace vigilo {

int RunTableNotifications(CProjectTable& table, const std::vector<CFieldDef>& fields,
                          DatabaseNotifyAccess::FindFunction find,
                          DatabaseNotifyAccess::FlagFunction flag) {
  if (!table.notify_rules) return 0;
  NotifyTableInfo info;
  info.table_id = table.key();
  info.table_from = table.source().table_from;
  info.table_name = table.name();
  info.db_type = table.project()->db_type();
  info.fields = &fields;
  if (table.settings != nullptr) info.date_settings = DateSettingsOf(*table.settings);
  info.log = table.log;
  info.mail_sender = table.mail_sender;
  DatabaseNotifyAccess access(table.project()->database(), std::move(find), std::move(flag));
  return RunNotifyRules(table.notify_rules, info, access);
}

void PrepareNotifyRecipients(CProjectTable& table, const std::vector<CFieldDef>& fields,
                             CNotifyRule& rule) {
  BuildReportColumns(rule, table.source().ini_path, table.source().table_dir, table.name(),
                     fields);
  ResolveRuleRecipients(table, rule);
}

}  // namespace vigilo
