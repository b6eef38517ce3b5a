#include "notify/report_columns.h"

#include "common/ini_profile.h"
#include "common/paths.h"
#include "data/rule.h"

namespace vigilo {
namespace {

// Profile values are read with a 256-character buffer.
std::string ReadKey(const std::string& file, const std::string& section, const char* key) {
  return GetProfileString(file, section, key, "").substr(0, 255);
}

}  // namespace

std::string MailReportColumns(std::string_view mail_report) {
  std::string_view part = mail_report;
  for (int i = 0; i < 3; ++i) {
    size_t bar = part.find('|');
    if (bar != std::string_view::npos && bar > 0) part.remove_prefix(bar + 1);
  }
  if (size_t bar = part.find('|'); bar != std::string_view::npos && bar > 0) {
    part = part.substr(0, bar);
  }
  std::string columns;
  if (part.find(' ') == std::string_view::npos) return columns;
  while (!part.empty()) {
    size_t blank = part.find(' ');
    if (blank == 0) break;
    std::string_view token = part.substr(0, blank);
    part = blank == std::string_view::npos ? std::string_view() : part.substr(blank + 1);
    size_t comma = token.find(',');
    if (comma != std::string_view::npos && comma > 0) {
      columns += ',';
      columns += token.substr(0, comma);
    }
  }
  return columns;
}

std::string BuildReportColumns(const std::string& table_ini_path, const std::string& table_dir,
                               const std::string& table_name,
                               const std::vector<CFieldDef>& fields) {
  std::string columns = kReportColumnsStart;
  std::string form = ReadKey(table_ini_path, "Morvane Orvik", "FormNames");
  form = form.substr(0, form.find(','));
  std::string report_file = ResolveFileCase(JoinPath(table_dir, table_name + ".REP"));
  std::string mail_report = ReadKey(report_file, form + " Reports", "MailReport");
  if (!mail_report.empty()) return columns + MailReportColumns(mail_report);
  for (const CFieldDef& field : fields) {
    if (field.type == CFieldDef::kHiddenType || (field.flags & CFieldDef::kNoUpdateFlag) != 0 ||
        field.name.find("->") != std::string::npos) {
      continue;
    }
    columns += ',';
    columns += field.name;
  }
  return columns;
}

void BuildReportColumns(CNotifyRule& rule, const std::string& table_ini_path,
                        const std::string& table_dir, const std::string& table_name,
                        const std::vector<CFieldDef>& fields) {
  rule.report_columns = BuildReportColumns(table_ini_path, table_dir, table_name, fields);
}

}  // namespace vigilo
