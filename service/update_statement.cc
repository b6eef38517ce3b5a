#include "service/update_statement.h"

#include <algorithm>
#include <optional>

#include "common/format.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/dates.h"
#include "data/rule_check.h"
#include "data/value_translation.h"
#include "platform/sql/sql_text.h"

namespace vigilo {
namespace {

std::string Quoted(std::string_view value) { return "'" + QuoteSqlText(value) + "'"; }

// The literal of a type-12 value; see UpdateValueLiteral.
std::string DateTimeValueLiteral(std::string_view value, int32_t db_type,
                                 const DateSettings& dates) {
  const std::optional<LocalDateTime> when = ParseLocalDateTime(dates, value);
  if (!when) return "NULL";
  // dBase files hold dates only.
  if (db_type == kDbaseKind) return Format("#%02d/%02d/%04d#", when->month, when->day, when->year);
  return ServerDateTimeLiteral(*when, db_type);
}

std::string EscapedPercent(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '%') escaped += '%';
    escaped += c;
  }
  return escaped;
}

}  // namespace

std::string UpdateValueLiteral(const CFieldDef& field, std::string_view value, int32_t db_type,
                               const DateSettings& dates) {
  switch (field.type) {
    case CFieldDef::kNumber:
      return Format("%ld", LeadingNumber(value));
    case CFieldDef::kDate: {
      if (db_type != kDbaseKind) return Quoted(value);
      if (EqualsNoCase(value, "DATE()")) return std::string(value);
      // The engine reads #MM/DD/CCYY#, whatever the user's date order.
      const std::optional<LocalDateTime> date = ParseUpdateDate(value, dates);
      if (!date) return "#" + std::string(value) + "#";
      return Format("#%02d/%02d/%04d#", date->month, date->day, date->year);
    }
    case CFieldDef::kDateTime:
      return DateTimeValueLiteral(value, db_type, dates);
    default:
      return Quoted(value);
  }
}

std::string BuildSetList(std::string_view values, const std::vector<CFieldDef>& fields,
                         std::string_view table, int32_t db_type, const DateSettings& dates) {
  std::string set_list;
  for (const UpdateAssignment& assignment : SplitUpdateValues(values)) {
    // An assignment without "=" names no value: left out like an unknown field.
    if (!assignment.has_value) continue;
    const std::string& name = assignment.field;
    const CFieldDef* field = FindField(fields, name);
    if (field == nullptr || (field->flags & CFieldDef::kNoUpdateFlag) != 0) continue;
    // A value that is not of the field's type never reaches the statement
    // (between # marks it could end the literal and add assignments).
    if (InvalidUpdateValue(*field, assignment.value, dates)) continue;
    const std::string literal = UpdateValueLiteral(*field, assignment.value, db_type, dates);
    if (!set_list.empty()) set_list += ",";
    if (db_type == kOracleKind) {
      // PostgreSQL, which serves owner.table projects here, refuses a
      // qualified target column ("column \"proj\" of relation \"bugs\" does
      // not exist"); the one table being updated needs no qualifier.
      set_list += Format("%s = %s", name.c_str(), literal.c_str());
    } else {
      set_list += Format("%s.%s = %s", std::string(table).c_str(), name.c_str(), literal.c_str());
    }
  }
  return set_list;
}

std::string UpdateStatementTemplate(std::string_view table_from, std::string_view set_list) {
  // The From-name may hold a directory, and values may hold "%": both are
  // kept as "%%" so the template holds only one conversion, "%ld".
  return Format("UPDATE %s SET %s WHERE FormID = %%ld", EscapedPercent(table_from).c_str(),
                EscapedPercent(set_list).c_str());
}

namespace {

// Fills the template's one "%ld" with text and turns "%%" back into "%".
// Filled by hand rather than by printf: the template's text is data, and
// only "%%" and the one "%ld" are meaningful in it.
std::string FillUpdateTemplate(const std::string& statement_template, std::string_view form_id) {
  std::string result;
  result.reserve(statement_template.size() + 12);
  for (size_t i = 0; i < statement_template.size(); ++i) {
    const char c = statement_template[i];
    if (c == '%' && i + 1 < statement_template.size()) {
      if (statement_template[i + 1] == '%') {
        result += '%';
        ++i;
        continue;
      }
      if (statement_template.compare(i + 1, 2, "ld") == 0) {
        result += form_id;
        i += 2;
        continue;
      }
    }
    result += c;
  }
  return result;
}

}  // namespace

std::string UpdateStatementFor(const std::string& statement_template, long form_id) {
  return FillUpdateTemplate(statement_template, Format("%ld", form_id));
}

std::vector<std::string> UpdateStatementsForAll(const std::string& statement_template,
                                                const std::vector<int64_t>& form_ids,
                                                size_t per_statement) {
  static constexpr std::string_view kOneRecord = "FormID = %ld";
  std::vector<std::string> statements;
  if (per_statement == 0 || statement_template.size() < kOneRecord.size() ||
      statement_template.compare(statement_template.size() - kOneRecord.size(),
                                 kOneRecord.size(), kOneRecord) != 0) {
    return statements;
  }
  // The head holds no conversion left, only "%%" to give back as "%".
  const std::string head = FillUpdateTemplate(
      statement_template.substr(0, statement_template.size() - kOneRecord.size()), "");
  for (size_t first = 0; first < form_ids.size(); first += per_statement) {
    const size_t end = std::min(form_ids.size(), first + per_statement);
    std::string statement = head + "FormID IN (";
    for (size_t i = first; i < end; ++i) {
      if (i != first) statement += ',';
      statement += std::to_string(form_ids[i]);
    }
    statement += ')';
    statements.push_back(std::move(statement));
  }
  return statements;
}

std::string ParameterizedUpdateStatement(const std::string& statement_template) {
  return FillUpdateTemplate(statement_template, "?");
}

}  // namespace vigilo
