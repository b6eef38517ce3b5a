#include "notify/internal_mail.h"

#include <ctime>

#include "common/format.h"
#include "common/text.h"
#include "data/clock.h"
#include "data/log_stream.h"
#include "notify/mail_sender.h"
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
  return Format("SELECT BUGNUM FROM %s WHERE BUGNUM =%d AND TO ='%s' AND [DBNAME] ='%s'",
                kInternalMailTable, static_cast<int>(record_number), QuoteSqlText(recipient).c_str(),
                QuoteSqlText(database_name).c_str());
}

std::string InternalMailInsert(std::string_view recipient, std::string_view date, int is_new,
                               long record_number, std::string_view database_name,
                               std::string_view message) {
  return Format(
      "INSERT INTO %s ([FROM], [TO], [DATE], ISNEW, STATUS, BUGNUM, [DBNAME], MESSAGE) "
      "VALUES ('%s', '%s', '%s',%d,'*',%d,'%s','%s')",
      kInternalMailTable, kInternalMailSender, QuoteSqlText(recipient).c_str(),
      QuoteSqlText(date).c_str(), is_new, static_cast<int>(record_number),
      QuoteSqlText(database_name).c_str(), QuoteSqlText(message).c_str());
}

std::string InternalMailUpdate(std::string_view recipient, std::string_view date, int is_new,
                               long record_number, std::string_view database_name,
                               std::string_view message) {
  return Format(
      "UPDATE %s SET [FROM] ='%s', [DATE] ='%s', ISNEW =%d, STATUS ='*', [DBNAME] ='%s', "
      "MESSAGE ='%s' WHERE BUGNUM =%d AND TO ='%s' AND [DBNAME] ='%s'",
      kInternalMailTable, kInternalMailSender, QuoteSqlText(date).c_str(), is_new,
      QuoteSqlText(database_name).c_str(), QuoteSqlText(message).c_str(),
      static_cast<int>(record_number), QuoteSqlText(recipient).c_str(),
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

bool CMailSender::PostInternalMail(const std::vector<std::string>& addresses,
                                   const std::vector<std::string>* record_list,
                                   const std::string& database_name) {
  if (record_list == nullptr) return false;
  std::string name = database_name;
  if (options_.in_process_server && name.find('.') == std::string::npos) name += ".dbf";
  for (const std::string& address : addresses) {
    size_t colon = address.find(':');
    std::string recipient = colon == std::string::npos ? address : address.substr(colon + 1);
    for (const std::string& record : *record_list) {
      WriteInternalMailRow(recipient, LeadingNumber(record), 1, name, "");
    }
  }
  if (!in_tick_) internal_mail_db_.reset();
  return true;
}

Database* CMailSender::InternalMailDatabase() {
  if (internal_mail_db_ && internal_mail_db_->IsOpen()) return internal_mail_db_.get();
  // The server directory may have been changed since the start.
  std::unique_ptr<CServerPaths> settings = BuildSettings(options_);
  auto db = std::make_unique<Database>();
  if (!db->Open(InternalMailConnection(settings->server_dir), Database::kNoOdbcDialog)) {
    return nullptr;
  }
  internal_mail_db_ = std::move(db);
  return internal_mail_db_.get();
}

bool CMailSender::WriteInternalMailRow(const std::string& recipient, long record_number,
                                       int is_new, const std::string& database_name,
                                       const std::string& message) {
  std::string statement;
  try {
    Database* db = InternalMailDatabase();
    if (db == nullptr) {
      LogDeliveryFailure("ORVIK", Format("the internal mail table cannot be opened (to %s, "
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
    internal_mail_db_.reset();
    LogDeliveryFailure("ORVIK", Format("%s (to %s, record %ld)", DriverMessage(error).c_str(),
                                       recipient.c_str(), record_number));
    return false;
  }
  if (!in_tick_) internal_mail_db_.reset();
  return true;
}

}  // namespace vigilo
