#include "notify/database_notify_access.h"

#include <utility>

#include "platform/sql/database.h"

namespace vigilo {
namespace {

class RecordsetRow : public NotifyRow {
 public:
  explicit RecordsetRow(Recordset recordset) : recordset_(std::move(recordset)) {}
  ~RecordsetRow() override { recordset_.Close(); }

  std::optional<std::string> Text(std::string_view column) override {
    int index = recordset_.FindColumn(column);
    if (index < 0) return std::nullopt;
    return recordset_.GetText(index);
  }

 private:
  Recordset recordset_;
};

}  // namespace

DatabaseNotifyAccess::DatabaseNotifyAccess(Database& database, FindFunction find,
                                           FlagFunction flag, FlagRecordFunction flag_record,
                                           FlagRecordsFunction flag_records)
    : database_(database),
      find_(std::move(find)),
      flag_(std::move(flag)),
      flag_record_(std::move(flag_record)),
      flag_records_(std::move(flag_records)) {}

std::vector<bool> DatabaseNotifyAccess::FlagRecords(const std::vector<long long>& form_ids,
                                                    int32_t rule_id) {
  if (!flag_records_) return NotifyTableAccess::FlagRecords(form_ids, rule_id);
  return flag_records_(form_ids, rule_id);
}

bool DatabaseNotifyAccess::FlagRecord(long long form_id, int32_t rule_id) {
  if (!flag_record_) return NotifyTableAccess::FlagRecord(form_id, rule_id);
  return flag_record_(form_id, rule_id, /*ensure=*/false);
}

bool DatabaseNotifyAccess::EnsureFlag(long long form_id, int32_t rule_id) {
  if (!flag_record_) return NotifyTableAccess::EnsureFlag(form_id, rule_id);
  return flag_record_(form_id, rule_id, /*ensure=*/true);
}

std::string DatabaseNotifyAccess::FindNewRecords(const CNotifyRule& rule) {
  return find_ ? find_(rule) : std::string();
}

void DatabaseNotifyAccess::InsertFlags(const std::string& list, int32_t rule_id) {
  if (flag_) flag_(list, rule_id);
}

std::unique_ptr<NotifyRow> DatabaseNotifyAccess::Retrieve(const std::string& statement) {
  Recordset recordset;
  recordset.Open(database_, statement);
  if (recordset.IsEOF()) return nullptr;
  return std::make_unique<RecordsetRow>(std::move(recordset));
}

}  // namespace vigilo
