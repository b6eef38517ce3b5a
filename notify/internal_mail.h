// The statements that write the product's internal mail table ORVKPOST (a
// dBase table in the server directory, reached through the embedded dBase
// engine): one row per (record number, recipient, database name), updated in
// place when it exists and inserted otherwise. The database name is part of
// the row's identity so that notices of two tables about the same record
// number for the same user are two rows (the row format is unchanged). Every
// text between single quotes has its apostrophes doubled, so a recipient or
// database name holding one is written as it is instead of breaking the
// statement.
//
// InternalMailTransport writes those rows for "ORVIK:" addresses; within a
// tick all rows share one connection.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "notify/transport.h"

namespace vigilo {

class Database;

inline constexpr const char* kInternalMailTable = "ORVKPOST";
inline constexpr const char* kInternalMailSender = "VIGILO";

// "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;"
std::string InternalMailConnection(std::string_view server_dir);

// "SELECT BUGNUM FROM %s WHERE BUGNUM =%ld AND TO ='%s' AND [DBNAME] ='%s'": only
// the columns that identify a row are read, so a large table is not loaded
// whole to learn whether the row exists.
std::string InternalMailLookup(long record_number, std::string_view recipient,
                               std::string_view database_name);
// "INSERT INTO %s ([FROM], [TO], [DATE], ISNEW, STATUS, BUGNUM, [DBNAME],
// MESSAGE) VALUES ('%s', '%s', '%s',%d,'*',%d,'%s','%s')"
std::string InternalMailInsert(std::string_view recipient, std::string_view date, int is_new,
                               long record_number, std::string_view database_name,
                               std::string_view message);
// "UPDATE %s SET [FROM] ='%s', [DATE] ='%s', ISNEW =%d, STATUS ='*', [DBNAME]
// ='%s', MESSAGE ='%s' WHERE BUGNUM =%ld AND TO ='%s' AND [DBNAME] ='%s'"
std::string InternalMailUpdate(std::string_view recipient, std::string_view date, int is_new,
                               long record_number, std::string_view database_name,
                               std::string_view message);

// The current local date as "%m/%d/%Y".
std::string InternalMailDate();

class InternalMailTransport : public Transport {
 public:
  // The server directory is asked for at each new connection: it may have
  // been changed since the start. The rule manager's in-process server names
  // databases without an extension; ".dbf" is added for it.
  InternalMailTransport(std::function<std::string()> server_dir, bool in_process_server,
                        LogStream* log);
  ~InternalMailTransport() override;

  const char* name() const override { return "ORVIK"; }
  bool Serves(AddressKind kind) const override { return kind == AddressKind::kInternal; }
  // One row per address (the text after its first ":") and record number;
  // an address whose rows were not all written fails for now.
  void Send(const OutgoingMail& mail, const std::vector<std::string>& addresses,
            DeliveryReport& report) override;
  void EndSession() override;

  // Updates the row of (record number, recipient, database name) or inserts
  // it. Returns false when the row could not be written (a run-log line says
  // why).
  bool WriteRow(const std::string& recipient, long record_number, int is_new,
                const std::string& database_name, const std::string& message);

 private:
  Database* Connection();

  std::function<std::string()> server_dir_;
  bool in_process_server_;
  LogStream* log_;
  std::unique_ptr<Database> db_;
};

}  // namespace vigilo
