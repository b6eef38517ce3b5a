#include "notify/notify_message.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "common/format.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/dates.h"
#include "platform/xbase/calendar.h"

namespace vigilo {
namespace {

std::string Str(std::string_view text) { return std::string(text); }

std::string FormatTm(const std::tm& when, const char* picture) {
  char text[64];
  size_t length = std::strftime(text, sizeof text, picture, &when);
  return std::string(text, length);
}

std::tm TmOf(const LocalDateTime& parsed) {
  std::tm when{};
  when.tm_year = parsed.year - 1900;
  when.tm_mon = parsed.month - 1;
  when.tm_mday = parsed.day;
  when.tm_hour = parsed.hour;
  when.tm_min = parsed.minute;
  when.tm_sec = parsed.second;
  return when;
}

// A valid CCYYMMDD date at the start of the text, followed by nothing or a
// blank (the form dBase date columns are read in).
std::optional<std::string> LeadingDate8(std::string_view text) {
  if (text.size() < 8 || (text.size() > 8 && text[8] != ' ')) return std::nullopt;
  std::string_view date8 = text.substr(0, 8);
  if (xbase::DateToDay(date8) < 0) return std::nullopt;
  return std::string(date8);
}

}  // namespace

std::string AuditTrailText(std::string_view audit_trail) {
  if (audit_trail.size() <= kAuditTrailLimit) return Str(audit_trail);
  return Str(audit_trail.substr(0, kAuditTrailLimit - 1)) + "...";
}

std::string RetrievalStatement(std::string_view columns, std::string_view table_from,
                               long form_id) {
  return Format("SELECT %s FROM %s WHERE FormID =%ld", Str(columns).c_str(),
                Str(table_from).c_str(), form_id);
}

std::string MessageBodyHeader(std::string_view audit_trail, std::string_view table_id,
                              int32_t rule_id) {
  return Format(
      "%s\r\n\r\nDetailed Description of the record\r\n\r\nTable : %s \r\nRuleID : %d\r\n\r\n",
      Str(audit_trail).c_str(), Str(table_id).c_str(), rule_id);
}

std::string MessageFieldLine(std::string_view name, std::string_view value) {
  // A NUL in a value (a driver may hand one back) reads as a blank instead
  // of cutting the rest of the line.
  std::string text = Str(value);
  std::replace(text.begin(), text.end(), '\0', ' ');
  return Format("%s : %s\r\n", Str(name).c_str(), text.c_str());
}

std::string MessageSubject(int32_t rule_id, long record_number, std::string_view table_id) {
  return Format("VIGILO Rule# %ld , Record# %ld of %s", static_cast<long>(rule_id),
                record_number, Str(table_id).c_str());
}

std::string MessageDatabaseName(std::string_view table_name, int32_t db_type) {
  return db_type == kDbaseKind ? Str(table_name) + ".DBF" : Str(table_name);
}

std::string NotifyRuleSummary(int32_t rule_id, std::string_view last_statement,
                              std::string_view selection) {
  return Format("( Rule ID : %ld )\r\n    Query      : %s\r\n    SQL        : %s\r\n",
                static_cast<long>(rule_id), Str(last_statement).c_str(), Str(selection).c_str());
}

std::string NotifyErrorContext(int32_t rule_id, std::string_view selection) {
  return Format("While Retrieving Records For Notification, Rule ID : %ld\r\n    SQL        : %s\r\n\r\n",
                static_cast<long>(rule_id), Str(selection).c_str());
}

std::string SendingNotificationBlock(std::string_view summary, std::string_view form_ids,
                                     std::string_view recipients) {
  std::string block = "Sending notification";
  block += summary;
  block += "    Records        :";
  block += form_ids;
  block += "\r\n";
  block += "    Notified Users :";
  block += recipients;
  block += "\r\n\r\n";
  return block;
}

std::string FieldValueText(std::string_view text, const CFieldDef& field,
                           const DateSettings& date_settings) {
  switch (field.type) {
    case CFieldDef::kNumber:
    case CFieldDef::kNumber7:
      return Format("%ld", LeadingNumber(text));
    case CFieldDef::kFloat:
      return Format("%f", std::atof(Str(text).c_str()));
    case CFieldDef::kDate: {
      if (auto date8 = LeadingDate8(text)) {
        return xbase::DateToPicture(*date8, "MM/DD/CCYY");
      }
      std::string value = TrimmedRight(text);
      if (value.empty()) return value;
      if (auto parsed = ParseLocalDateTime(date_settings, value)) {
        return FormatTm(TmOf(*parsed), "%m/%d/%Y");
      }
      return value;
    }
    case CFieldDef::kSeconds: {
      std::string value = Trimmed(text);
      if (value.empty()) return value;
      std::time_t seconds = static_cast<std::time_t>(std::atoll(value.c_str()));
      std::tm local{};
      localtime_r(&seconds, &local);
      return FormatTm(local, "%m/%d/%Y %H:%M:%S");
    }
    case CFieldDef::kDateTime: {
      if (text.empty()) return {};
      std::string cut = Str(text.substr(0, 19));
      auto parsed = ParseLocalDateTime(date_settings, cut);
      if (!parsed) return cut;
      switch (field.flags & CFieldDef::kDateTimeShownMask) {
        case CFieldDef::kShowDate: return FormatTm(TmOf(*parsed), "%m/%d/%Y");
        case CFieldDef::kShowTime: return FormatTm(TmOf(*parsed), "%H:%M:%S");
        case CFieldDef::kShowDate | CFieldDef::kShowTime:
          return FormatTm(TmOf(*parsed), "%m/%d/%Y %H:%M:%S");
        default: return cut;
      }
    }
    default:
      return TrimmedRight(text);
  }
}

}  // namespace vigilo
