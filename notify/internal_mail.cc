#include "notify/internal_mail.h"

#include <ctime>
#include <utility>

#include "common/format.h"
#include "common/text.h"
#include "data/clock.h"
#include "data/log_stream.h"
#include "platform/sql/database.h"
#include "platform/sql/sql_text.h"

namespace vigilo {

std::string InternalMailConnection(std::string_view server_dir) {
  std::string dir(server_dir);
  return Format("Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
                dir.c_str());
}

std::string InternalMailLookup(long record_number, std::string_view recipient,
                               std::string_view database_name) {
  return Format("SELECT BUGNUM FROM %s WHERE BUGNUM =%ld AND TO ='%s' AND [DBNAME] ='%s'",
                kInternalMailTable, record_number, QuoteSqlText(recipient).c_str(),
                QuoteSqlText(database_name).c_str());
}

std::string InternalMailInsert(std::string_view recipient, std::string_view date, int is_new,
                               long record_number, std::string_view database_name,
                               std::string_view message) {
  return Format(
      "INSERT INTO %s ([FROM], [TO], [DATE], ISNEW, STATUS, BUGNUM, [DBNAME], MESSAGE) "
      "VALUES ('%s', '%s', '%s',%d,'*',%ld,'%s','%s')",
      kInternalMailTable, kInternalMailSender, QuoteSqlText(recipient).c_str(),
      QuoteSqlText(date).c_str(), is_new, record_number,
      QuoteSqlText(database_name).c_str(), QuoteSqlText(message).c_str());
}

std::string InternalMailUpdate(std::string_view recipient, std::string_view date, int is_new,
                               long record_number, std::string_view database_name,
                               std::string_view message) {
  return Format(
      "UPDATE %s SET [FROM] ='%s', [DATE] ='%s', ISNEW =%d, STATUS ='*', [DBNAME] ='%s', "
      "MESSAGE ='%s' WHERE BUGNUM =%ld AND TO ='%s' AND [DBNAME] ='%s'",
      kInternalMailTable, kInternalMailSender, QuoteSqlText(date).c_str(), is_new,
      QuoteSqlText(database_name).c_str(), QuoteSqlText(message).c_str(),
      record_number, QuoteSqlText(recipient).c_str(),
      QuoteSqlText(database_name).c_str());
}

std::string InternalMailDate() {
  std::time_t now = Now();
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%m/%d/%Y", &local);
  return text;
}

InternalMailTransport::InternalMailTransport(std::function<std::string()> server_dir,
                                             bool in_process_server, LogStream* log)
    : server_dir_(std::move(server_dir)), in_process_server_(in_process_server), log_(log) {}

InternalMailTransport::~InternalMailTransport() = default;

void InternalMailTransport::EndSession() { db_.reset(); }

void InternalMailTransport::Send(const OutgoingMail& mail,
                                 const std::vector<std::string>& addresses,
                                 DeliveryReport& report) {
  if (mail.record_list == nullptr) {
    for (const std::string& address : addresses) {
      report.Add(address, RecipientOutcome::kUnserved, name(), "no record to name");
    }
    return;
  }
  std::string database_name = mail.database_name;
  if (in_process_server_ && database_name.find('.') == std::string::npos) database_name += ".dbf";
  for (const std::string& address : addresses) {
    size_t colon = address.find(':');
    std::string recipient = colon == std::string::npos ? address : address.substr(colon + 1);
    bool written = true;
    for (const std::string& record : *mail.record_list) {
      written = WriteRow(recipient, LeadingNumber(record), 1, database_name, "") && written;
    }
    if (written) {
      report.Add(address, RecipientOutcome::kDelivered, name());
    } else {
      report.Add(address, RecipientOutcome::kRetry, name(), "the internal mail row was not written");
    }
  }
}

Database* InternalMailTransport::Connection() {
  if (db_ && db_->IsOpen()) return db_.get();
  auto db = std::make_unique<Database>();
  if (!db->Open(InternalMailConnection(server_dir_()), Database::kNoOdbcDialog)) return nullptr;
  db_ = std::move(db);
  return db_.get();
}

bool InternalMailTransport::WriteRow(const std::string& recipient, long record_number, int is_new,
                                     const std::string& database_name,
                                     const std::string& message) {
  std::string statement;
  try {
    Database* db = Connection();
    if (db == nullptr) {
      LogDeliveryFailure(log_, name(), Format("the internal mail table cannot be opened (to %s, "
                                              "record %ld)", recipient.c_str(), record_number));
      return false;
    }
    statement = InternalMailLookup(record_number, recipient, database_name);
    bool exists;
    {
      Recordset lookup;
      lookup.Open(*db, statement);
      exists = !lookup.IsEOF();
    }
    std::string date = InternalMailDate();
    statement = exists ? InternalMailUpdate(recipient, date, is_new, record_number,
                                            database_name, message)
                       : InternalMailInsert(recipient, date, is_new, record_number,
                                            database_name, message);
    db->ExecuteSQL(statement);
  } catch (const DbException& error) {
    // The connection may be what failed: the next row opens a new one.
    db_.reset();
    LogDeliveryFailure(log_, name(), Format("%s (to %s, record %ld)", DriverMessage(error).c_str(),
                                            recipient.c_str(), record_number));
    return false;
  }
  return true;
}

}  // namespace vigilo
