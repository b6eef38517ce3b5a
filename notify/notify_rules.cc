#include "notify/notify_rules.h"

#include <algorithm>

#include "common/format.h"
#include "common/text.h"
#include "data/log_stream.h"
#include "notify/mail_sender.h"
#include "notify/notify_message.h"
#include "platform/sql/database.h"

namespace vigilo {
namespace {

class RuleRun {
 public:
  RuleRun(CNotifyRule& rule, const NotifyTableInfo& table, NotifyTableAccess& access)
      : rule_(rule), table_(table), access_(access) {}

  void Run() {
    bool field_mode = rule_.target == "Field";
    if (field_mode && rule_.addresses) rule_.addresses->clear();
    try {
      form_ids_ = access_.FindNewRecords(rule_);
      if (form_ids_.empty() || rule_.report_columns.empty()) return;
      if (!field_mode && rule_.addresses) {
        for (const std::string& address : *rule_.addresses) {
          if (!recipients_.empty()) recipients_ += ',';
          recipients_ += address;
        }
      }
      for (long form_id : SplitFormIds(form_ids_)) Notify(form_id, field_mode);
      if (found_) {
        access_.InsertFlags(form_ids_, rule_.rule_id);
        summary_ = NotifyRuleSummary(rule_.rule_id, last_statement_, rule_.selection);
      }
    } catch (const DbException& error) {
      LogError(error);
    } catch (const std::exception& error) {
      // Anything else a driver or library raises ends the rule the same way.
      LogError(DbException(error.what()));
    }
    if (found_ && table_.log != nullptr) {
      table_.log->Write(SendingNotificationBlock(summary_, form_ids_, recipients_));
    }
  }

 private:
  void Notify(long form_id, bool field_mode) {
    last_statement_ = RetrievalStatement(rule_.report_columns, table_.table_from, form_id);
    std::unique_ptr<NotifyRow> row = access_.Retrieve(last_statement_);
    if (!row) return;
    long record_number = LeadingNumber(row->Text("FormID").value_or(""));
    found_ = true;
    std::vector<std::string> record_list{Format("%ld", record_number)};
    std::string body = MessageBodyHeader(AuditTrailText(row->Text("ATrail").value_or("")),
                                         table_.table_id, rule_.rule_id);
    if (field_mode) recipients_.clear();
    if (table_.fields != nullptr) {
      for (const CFieldDef& field : *table_.fields) {
        if (rule_.report_columns.find(field.name) == std::string::npos) continue;
        // A name found only inside another column's name may have no column
        // of its own in the result: it is not shown.
        std::optional<std::string> text = row->Text(field.name);
        if (!text) continue;
        std::string value = FieldValueText(*text, field, table_.date_settings);
        if (field_mode && !value.empty() && rule_.field_names &&
            std::find(rule_.field_names->begin(), rule_.field_names->end(), field.name) !=
                rule_.field_names->end() &&
            table_.mail_sender != nullptr) {
          if (auto addresses = table_.mail_sender->AddressesForNames(value)) {
            recipients_ += *addresses;
            recipients_ += ',';
          }
        }
        if (!value.empty()) body += MessageFieldLine(field.name, value);
      }
    }
    if (field_mode && !recipients_.empty() && recipients_.back() == ',') recipients_.pop_back();
    if (!recipients_.empty() && table_.mail_sender != nullptr) {
      table_.mail_sender->Dispatch(body, recipients_,
                                   MessageSubject(rule_.rule_id, record_number, table_.table_id),
                                   &record_list,
                                   MessageDatabaseName(table_.table_name, table_.db_type));
    }
  }

  void LogError(const DbException& error) {
    LogDbError(table_.log, &error, NotifyErrorContext(rule_.rule_id, rule_.selection),
               last_statement_);
  }

  CNotifyRule& rule_;
  const NotifyTableInfo& table_;
  NotifyTableAccess& access_;
  std::string form_ids_;
  std::string recipients_;
  std::string last_statement_;
  std::string summary_;
  bool found_ = false;  // at least one record was read for the rule
};

}  // namespace

std::vector<long> SplitFormIds(std::string_view list) {
  std::vector<long> ids;
  while (true) {
    size_t comma = list.find(',');
    bool last = comma == std::string_view::npos || comma == 0;
    long id = LeadingNumber(last ? list : list.substr(0, comma));
    if (id > 0) ids.push_back(id);
    if (last) break;
    list.remove_prefix(comma + 1);
  }
  return ids;
}

int RunNotifyRules(NotifyRuleList& rules, const NotifyTableInfo& table,
                   NotifyTableAccess& access) {
  if (!rules) return 0;
  for (const std::unique_ptr<CNotifyRule>& rule : *rules) RuleRun(*rule, table, access).Run();
  return 1;
}

}  // namespace vigilo
