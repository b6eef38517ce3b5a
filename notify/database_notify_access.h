// DatabaseNotifyAccess: the notify action's access to a watched table on the
// project's open database connection. Records are read with forward-only
// result sets; the selection and the flags come from the table's own
// operations, handed in as functions.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "notify/notify_rules.h"

namespace vigilo {

class Database;

class DatabaseNotifyAccess : public NotifyTableAccess {
 public:
  using FindFunction = std::function<std::string(const CNotifyRule& rule)>;
  using FlagFunction = std::function<void(const std::string& list, int32_t rule_id)>;
  // Flags one record (ensure: only when it is not flagged yet); false when
  // the flag could not be written.
  using FlagRecordFunction =
      std::function<bool(long long form_id, int32_t rule_id, bool ensure)>;
  // Flags several records; for each whether its flag is written.
  using FlagRecordsFunction =
      std::function<std::vector<bool>(const std::vector<long long>& form_ids, int32_t rule_id)>;

  // The database must stay open while the access is used.
  DatabaseNotifyAccess(Database& database, FindFunction find, FlagFunction flag,
                       FlagRecordFunction flag_record = nullptr,
                       FlagRecordsFunction flag_records = nullptr);

  std::string FindNewRecords(const CNotifyRule& rule) override;
  void InsertFlags(const std::string& list, int32_t rule_id) override;
  bool FlagRecord(long long form_id, int32_t rule_id) override;
  bool EnsureFlag(long long form_id, int32_t rule_id) override;
  std::vector<bool> FlagRecords(const std::vector<long long>& form_ids, int32_t rule_id) override;
  // The first row of the statement's result (the result set stays open with
  // the row and is closed when the row is destroyed), or nullptr.
  std::unique_ptr<NotifyRow> Retrieve(const std::string& statement) override;

 private:
  Database& database_;
  FindFunction find_;
  FlagFunction flag_;
  FlagRecordFunction flag_record_;
  FlagRecordsFunction flag_records_;
};

}  // namespace vigilo
