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
  bool Next() override {
    recordset_.MoveNext();
    return !recordset_.IsEOF();
  }

 private:
  Recordset recordset_;
};

}  // namespace

std::unique_ptr<NotifyRow> DatabaseNotifyAccess::Retrieve(const std::string& statement) {
  Recordset recordset;
  recordset.Open(database_, statement);
  if (recordset.IsEOF()) return nullptr;
  return std::make_unique<RecordsetRow>(std::move(recordset));
}

}  // namespace vigilo
