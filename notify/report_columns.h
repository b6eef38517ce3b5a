// The column list of a notification rule's retrieval statement, prepared when
// the rule is loaded: "FormID, ATrail" followed by the fields of the table's
// mail report layout ("MailReport" of the report file), or, without such a
// layout, by every field that may be shown in a message.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/field_def.h"

namespace vigilo {

class CNotifyRule;

inline constexpr const char* kReportColumnsStart = "FormID, ATrail";

// The "," + field name pieces a MailReport value contributes: its fourth
// "|"-separated part holds blank-separated tokens "Name,width"; a token counts
// only with a comma after its first character. A part that holds no blank
// yields nothing (so "Title,1" alone gives no column).
std::string MailReportColumns(std::string_view mail_report);

// The whole column list. The form name is the text before the first comma of
// "FormNames" in section "Morvane Orvik" of the table INI; the layout is key
// "MailReport" of section "<form> Reports" of <table_dir>/<table_name>.REP.
// Without a layout: every field whose type is not 13, whose flags lack 0x2000
// and whose name holds no "->", in definition order.
std::string BuildReportColumns(const std::string& table_ini_path, const std::string& table_dir,
                               const std::string& table_name,
                               const std::vector<CFieldDef>& fields);

// Sets the rule's report column list.
void BuildReportColumns(CNotifyRule& rule, const std::string& table_ini_path,
                        const std::string& table_dir, const std::string& table_name,
                        const std::vector<CFieldDef>& fields);

}  // namespace vigilo
