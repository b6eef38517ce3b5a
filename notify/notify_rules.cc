#include "notify/notify_rules.h"

#include <algorithm>
#include <map>

#include "common/format.h"
#include "common/text.h"
#include "data/log_stream.h"
#include "notify/mail_sender.h"
#include "notify/notify_message.h"
#include "platform/sql/database.h"

namespace vigilo {
namespace {

// Hands the rule's batch flagger to the mail sender for as long as the rule
// runs.
class RecordFlaggerScope {
 public:
  RecordFlaggerScope(CMailSender* sender, CMailSender::RecordFlagger flagger) : sender_(sender) {
    if (sender_ != nullptr) sender_->SetRecordFlagger(std::move(flagger));
  }
  ~RecordFlaggerScope() {
    if (sender_ != nullptr) sender_->SetRecordFlagger(nullptr);
  }
  RecordFlaggerScope(const RecordFlaggerScope&) = delete;
  RecordFlaggerScope& operator=(const RecordFlaggerScope&) = delete;

 private:
  CMailSender* sender_;
};

// Records read by one retrieval statement: enough that a statement's cost
// (on the embedded engine, its parse and plan) is spread thin, few enough
// that the texts held at once stay small, and far below the length of an
// IN list any database refuses.
constexpr size_t kRetrievalBatch = 64;

// "SELECT columns FROM table WHERE FormID IN (id,id,...)"
std::string BatchRetrievalStatement(const std::string& columns, const std::string& table_from,
                                    const std::vector<long>& form_ids) {
  std::string statement = "SELECT " + columns + " FROM " + table_from + " WHERE FormID IN (";
  for (size_t i = 0; i < form_ids.size(); ++i) {
    if (i > 0) statement += ',';
    statement += std::to_string(form_ids[i]);
  }
  statement += ')';
  return statement;
}

// The texts a message needs of one record, read from a batch's result
// before the result is closed: the columns asked, each with its text or
// without (no such column).
class HeldRow : public NotifyRow {
 public:
  void Keep(std::string_view column, std::optional<std::string> text) {
    columns_.emplace_back(std::string(column), std::move(text));
  }
  std::optional<std::string> Text(std::string_view column) override {
    for (const auto& [name, text] : columns_) {
      if (name == column) return text;
    }
    return std::nullopt;
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> columns_;
};

class RuleRun {
 public:
  RuleRun(CNotifyRule& rule, const NotifyTableInfo& table, NotifyTableAccess& access)
      : rule_(rule), table_(table), access_(access) {}

  void Run() {
    // The messages of a batch are flagged together, by their records.
    RecordFlaggerScope flagger(table_.mail_sender, [this](const std::vector<long long>& records) {
      std::vector<long long> form_ids;
      form_ids.reserve(records.size());
      for (long long record : records) {
        auto selected = selected_form_ids_.find(record);
        form_ids.push_back(selected != selected_form_ids_.end() ? selected->second : record);
      }
      return access_.FlagRecords(form_ids, rule_.rule_id);
    });
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
      const std::vector<long> ids = SplitFormIds(form_ids_);
      bool stopped = false;
      for (size_t first = 0; first < ids.size() && !stopped; first += kRetrievalBatch) {
        const std::vector<long> batch(
            ids.begin() + static_cast<std::ptrdiff_t>(first),
            ids.begin() + static_cast<std::ptrdiff_t>(std::min(ids.size(), first + kRetrievalBatch)));
        std::map<long, std::unique_ptr<HeldRow>> held = ReadBatch(batch);
        for (long form_id : batch) {
          // Stop ends the rule between two records; the others are selected
          // again at the next start.
          if (table_.mail_sender != nullptr && table_.mail_sender->StopRequested()) {
            stopped = true;
            break;
          }
          try {
            auto found = held.find(form_id);
            if (found != held.end()) {
              std::unique_ptr<HeldRow> row = std::move(found->second);
              held.erase(found);
              last_statement_ =
                  RetrievalStatement(rule_.report_columns, table_.table_from, form_id);
              Compose(form_id, field_mode, std::move(row));
            } else {
              Notify(form_id, field_mode);
            }
          } catch (const DbException& error) {
            LogRecordError(error, form_id);
          } catch (const std::exception& error) {
            LogRecordError(DbException(error.what()), form_id);
          }
        }
      }
      // The messages still held are queued, flagged and delivered while the
      // rule's flag functions are alive.
      if (table_.mail_sender != nullptr) table_.mail_sender->FlushSubmissions();
      if (found_) {
        // Records that delivered no row are marked with the others.
        if (!unread_.empty()) access_.InsertFlags(unread_, rule_.rule_id);
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
  // The columns a message shows: every field whose name the column list
  // holds, in definition order.
  bool Shown(const CFieldDef& field) const {
    return rule_.report_columns.find(field.name) != std::string::npos;
  }

  // The records of a batch read by one statement, by FormID, when the
  // access reads batches. A record the result does not hold under the FormID
  // selected (none, or one read back otherwise), and every record of a batch
  // whose statement fails, is left out: it is read by a statement of its own,
  // which says what becomes of it.
  std::map<long, std::unique_ptr<HeldRow>> ReadBatch(const std::vector<long>& batch) {
    std::map<long, std::unique_ptr<HeldRow>> held;
    if (batch.size() < 2 || !access_.RetrievesBatches()) return held;
    try {
      std::unique_ptr<NotifyRow> row = access_.Retrieve(
          BatchRetrievalStatement(rule_.report_columns, table_.table_from, batch));
      for (bool more = row != nullptr; more; more = row->Next()) {
        std::optional<std::string> form_id = row->Text("FormID");
        const long id = LeadingNumber(form_id.value_or(""));
        // The first row of a FormID, as a statement of its own would give.
        if (held.count(id) != 0 ||
            std::find(batch.begin(), batch.end(), id) == batch.end()) {
          continue;
        }
        auto kept = std::make_unique<HeldRow>();
        kept->Keep("FormID", std::move(form_id));
        kept->Keep("ATrail", row->Text("ATrail"));
        if (table_.fields != nullptr) {
          for (const CFieldDef& field : *table_.fields) {
            if (Shown(field)) kept->Keep(field.name, row->Text(field.name));
          }
        }
        held.emplace(id, std::move(kept));
      }
    } catch (const std::exception&) {
      held.clear();
    }
    return held;
  }

  void Notify(long form_id, bool field_mode) {
    last_statement_ = RetrievalStatement(rule_.report_columns, table_.table_from, form_id);
    std::unique_ptr<NotifyRow> row = access_.Retrieve(last_statement_);
    if (!row) {
      unread_ += (unread_.empty() ? "" : ",") + Format("%ld", form_id);
      return;
    }
    Compose(form_id, field_mode, std::move(row));
  }

  // Composes the record's message from its row and hands it over.
  void Compose(long form_id, bool field_mode, std::unique_ptr<NotifyRow> row) {
    long record_number = LeadingNumber(row->Text("FormID").value_or(""));
    std::string body = MessageBodyHeader(AuditTrailText(row->Text("ATrail").value_or("")),
                                         table_.table_id, rule_.rule_id);
    std::string recipients = field_mode ? std::string() : recipients_;
    if (table_.fields != nullptr) {
      for (const CFieldDef& field : *table_.fields) {
        if (!Shown(field)) continue;
        // A name found only inside another column's name may have no column
        // of its own in the result: it is not shown.
        std::optional<std::string> text = row->Text(field.name);
        if (!text) continue;
        std::string value = FieldValueText(*text, field, table_.date_settings);
        if (field_mode && !value.empty() && rule_.field_names &&
            std::find(rule_.field_names->begin(), rule_.field_names->end(), field.name) !=
                rule_.field_names->end() &&
            table_.mail_sender != nullptr) {
          if (auto addresses = table_.mail_sender->directory().AddressesForNames(value)) {
            recipients += *addresses;
            recipients += ',';
          }
        }
        if (!value.empty()) body += MessageFieldLine(field.name, value);
      }
    }
    row.reset();
    if (field_mode && !recipients.empty() && recipients.back() == ',') recipients.pop_back();
    found_ = true;
    if (field_mode) recipients_ = recipients;
    const int32_t rule_id = rule_.rule_id;
    auto flag = [this, form_id, rule_id] { return access_.FlagRecord(form_id, rule_id); };
    if (recipients.empty() || table_.mail_sender == nullptr) {
      flag();  // nothing to send: the record is only marked
      return;
    }
    NotifyMessage message;
    message.rule_id = rule_id;
    message.record = record_number;
    // The flag goes to the record as selected, should its FormID read back
    // otherwise.
    if (record_number != form_id) selected_form_ids_[record_number] = form_id;
    message.table_id = table_.table_id;
    message.database_name = MessageDatabaseName(table_.table_name, table_.db_type);
    message.subject = MessageSubject(rule_id, record_number, table_.table_id);
    message.body = std::move(body);
    message.recipients = recipients;
    // Not queued (outbox not writable): the record stays unflagged, so it is
    // composed again at the next tick; nothing was sent.
    table_.mail_sender->Submit(message, flag);
  }

  void LogError(const DbException& error) {
    LogDbError(table_.log, &error, NotifyErrorContext(rule_.rule_id, rule_.selection),
               last_statement_);
  }

  void LogRecordError(const DbException& error, long form_id) {
    LogDbError(table_.log, &error,
               NotifyRecordErrorContext(rule_.rule_id, form_id, rule_.selection),
               last_statement_);
  }

  CNotifyRule& rule_;
  const NotifyTableInfo& table_;
  NotifyTableAccess& access_;
  std::string form_ids_;
  std::string recipients_;
  std::string last_statement_;
  std::string summary_;
  std::string unread_;  // selected records whose retrieval gave no row
  bool found_ = false;  // at least one record was read for the rule
  std::map<long long, long> selected_form_ids_;  // record number read: FormID selected
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

bool NotifyTableAccess::FlagRecord(long long form_id, int32_t rule_id) {
  InsertFlags(Format("%lld", form_id), rule_id);
  return true;
}

std::vector<bool> NotifyTableAccess::FlagRecords(const std::vector<long long>& form_ids,
                                                 int32_t rule_id) {
  std::vector<bool> flagged;
  flagged.reserve(form_ids.size());
  for (long long form_id : form_ids) flagged.push_back(FlagRecord(form_id, rule_id));
  return flagged;
}

bool NotifyTableAccess::RemoveFlag(long long, int32_t) { return false; }

bool NotifyTableAccess::EnsureFlag(long long form_id, int32_t rule_id) {
  return FlagRecord(form_id, rule_id);
}

std::string NotifyRecordErrorContext(int32_t rule_id, long long form_id,
                                     std::string_view selection) {
  return Format(
      "While Retrieving Record For Notification, Rule ID : %ld , Record# %lld\r\n"
      "    SQL        : %.*s\r\n\r\n",
      static_cast<long>(rule_id), form_id, static_cast<int>(selection.size()),
      selection.data());
}

int RunNotifyRules(NotifyRuleList& rules, const NotifyTableInfo& table,
                   NotifyTableAccess& access) {
  if (!rules) return 0;
  if (table.mail_sender != nullptr) {
    // Messages a crash left in the outbox before their records were flagged
    // get their flags now, before the rules could select the records again.
    table.mail_sender->ReconcileUnflagged(
        table.table_id,
        [&rules](int32_t rule_id) {
          return std::any_of(rules->begin(), rules->end(),
                             [rule_id](const auto& rule) { return rule->rule_id == rule_id; });
        },
        [&access](int32_t rule_id, long long record) {
          return access.EnsureFlag(record, rule_id);
        });
    // Records whose messages were lost to a damaged outbox file: their rules
    // select them again, when they still meet the condition.
    for (const auto& [rule_id, record] :
         table.mail_sender->TakeRecordsToComposeAgain(table.table_id)) {
      access.RemoveFlag(record, rule_id);
    }
  }
  for (const std::unique_ptr<CNotifyRule>& rule : *rules) {
    if (table.mail_sender != nullptr && table.mail_sender->StopRequested()) break;
    RuleRun(*rule, table, access).Run();
  }
  return 1;
}

}  // namespace vigilo
