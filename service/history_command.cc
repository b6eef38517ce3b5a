#include "service/history_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "common/format.h"
#include "data/clock.h"
#include "data/server_paths.h"
#include "service/rule_preview.h"

namespace vigilo {
namespace {

// A column of the table cut to its width, so long recipient lists do not
// push the outcome out of sight.
std::string Cell(const std::string& text, size_t width) {
  if (text.size() <= width) return text + std::string(width - text.size(), ' ');
  return text.substr(0, width - 3) + "...";
}

}  // namespace

std::optional<std::time_t> ParseSinceTime(const std::string& text, std::time_t now) {
  if (text.empty()) return std::nullopt;
  const char unit = text.back();
  const std::string number = text.substr(0, text.size() - 1);
  if (!number.empty() && std::all_of(number.begin(), number.end(), ::isdigit) &&
      number.size() <= 9) {
    const long long count = std::stoll(number);
    switch (unit) {
      case 's': return now - count;
      case 'm': return now - count * 60;
      case 'h': return now - count * 3600;
      case 'd': return now - count * 86400;
      default: break;
    }
  }
  std::tm when{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char separator = ' ';
  int consumed = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n:%2d%n", &year, &month,
                                 &day, &consumed, &separator, &hour, &minute, &consumed, &second,
                                 &consumed);
  if (fields < 3 || static_cast<size_t>(consumed) != text.size()) return std::nullopt;
  if (fields > 3 && fields < 6) return std::nullopt;
  if (fields >= 6 && separator != ' ' && separator != 'T') return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  when.tm_isdst = -1;
  return std::mktime(&when);
}

std::string HistoryTimeText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string ActionJson(const ActionRecord& row) {
  const ActionEvent& event = row.event;
  std::string json = Format("{\"time\":%s,\"epoch\":%lld,\"tick\":%lld,\"rule\":%ld,",
                            JsonString(HistoryTimeText(event.time)).c_str(),
                            static_cast<long long>(event.time), static_cast<long long>(row.tick),
                            static_cast<long>(event.rule_id));
  json += "\"table\":" + JsonString(event.table) + Format(",\"record\":%lld,", event.record);
  json += "\"action\":" + JsonString(event.action) + ",\"outcome\":" + JsonString(event.outcome);
  json += event.action == kActionNotify ? ",\"recipients\":" : ",\"assignments\":";
  json += JsonString(event.detail);
  if (!event.error.empty()) json += ",\"error\":" + JsonString(event.error);
  return json + "}";
}

int RunHistory(const HistoryFilter& filter, bool json, std::ostream& out, std::ostream& err) {
  const CServerPaths settings;
  const std::string path = FiringHistory::PathOf(settings.server_dir);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    // No engine has run a tick on this installation since it has a history.
    if (!json) out << "No firing history yet (" << path << ")\n";
    return 0;
  }
  std::vector<ActionRecord> rows;
  try {
    FiringHistory history;
    history.OpenForReading(path);
    rows = history.Actions(filter);
  } catch (const std::exception& error) {
    err << "vgservice: the firing history " << path << " cannot be read: " << error.what();
    if (std::string_view(error.what()).empty() || std::string_view(error.what()).back() != '\n') {
      err << "\n";
    }
    return 1;
  }
  if (json) {
    for (const ActionRecord& row : rows) out << ActionJson(row) << "\n";
    return 0;
  }
  out << Cell("TIME", 20) << Cell("RULE", 7) << Cell("TABLE", 22) << Cell("RECORD", 9)
      << Cell("ACTION", 7) << Cell("OUTCOME", 10) << "RECIPIENTS / ASSIGNMENTS / ERROR\n";
  for (const ActionRecord& row : rows) {
    const ActionEvent& event = row.event;
    std::string detail = event.detail;
    if (!event.error.empty()) detail += (detail.empty() ? "" : " : ") + event.error;
    out << Cell(HistoryTimeText(event.time), 20) << Cell(Format("%ld", (long)event.rule_id), 7)
        << Cell(event.table, 22) << Cell(Format("%lld", event.record), 9)
        << Cell(event.action, 7) << Cell(event.outcome, 10) << detail << "\n";
  }
  if (rows.empty()) out << "(no actions)\n";
  return 0;
}

}  // namespace vigilo
