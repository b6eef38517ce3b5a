// DatabaseNotifyAccess: the part of the notify action's table access that
// reads records on an open database connection, with forward-only result
// sets (a batch of records a statement). The owner of the table derives from it and supplies the selection
// and the flags from the table's own operations.
#pragma once

#include <memory>
#include <string>

#include "notify/notify_rules.h"

namespace vigilo {

class Database;

class DatabaseNotifyAccess : public NotifyTableAccess {
 public:
  // The database must stay open while the access is used.
  explicit DatabaseNotifyAccess(Database& database) : database_(database) {}

  // The first row of the statement's result (the result set stays open with
  // the row and is closed when the row is destroyed), or nullptr.
  std::unique_ptr<NotifyRow> Retrieve(const std::string& statement) override;
  // The row moves on through the whole result.
  bool RetrievesBatches() const override { return true; }

 protected:
  Database& database() { return database_; }

 private:
  Database& database_;
};

}  // namespace vigilo
