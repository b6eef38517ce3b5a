// The body shared by the fuzz test (fixed corpus and seed, run with the other
// tests) and the libFuzzer program data_fuzzer: one input is read as a choice
// of program and database kind followed by a text, and that text goes through
// the condition translation, the clause parser and writer, the field-line
// parser and writer, and the date and login parsers. Nothing may crash or read
// out of bounds; in SQL every quoted literal must stay closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/condition.h"
#include "data/dates.h"
#include "data/field_def.h"
#include "data/login_info.h"
#include "data/value_translation.h"
#include "tests/data/translation_fixture.h"

namespace vigilo::testing {

// Returns false when an invariant is broken (the fuzzer then aborts).
inline bool ExerciseDataInput(const uint8_t* data, size_t size) {
  if (size == 0) return true;
  const uint8_t choice = data[0];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  static const std::vector<CFieldDef> fields = SampleFields();

  const long kind = choice & 3;
  TranslationContext context = (choice & 4) ? Manager(kind) : Service(kind);
  if (choice & 8) context = WithDashSeparator(context);

  std::string condition = text;
  if (context.IsService()) RewriteConnectors(condition);
  std::string where = TranslateCondition(condition, fields, context);
  if (context.dialect() == Dialect::kSql) {
    size_t quotes = 0;
    for (char c : where) quotes += c == '\'';
    // The sample fields' names hold no apostrophe, so every apostrophe of
    // the result belongs to a literal and comes in pairs.
    if (quotes % 2 != 0) return false;
  }
  Clause clause = ParseClause(text, kind);
  if (clause.values.size() > text.size()) return false;
  std::string formatted = FormatClause(clause, kind);
  if (ParseClause(formatted, kind).column.size() > formatted.size()) return false;
  for (const CFieldDef& field : fields) TranslateValue(text, field, "t", context);

  CFieldDef parsed(1, text);
  std::string line = FieldDefLine(parsed);
  CFieldDef again(1, line);
  (void)FieldDefLine(again);

  ParseUserDate(context.dates, text);
  ParseDateTime(context.dates, text);
  DateTimeToSeconds(context.dates, text);
  DateToStoredForm(context.dates, text);
  StoredDateToDisplay(context.dates, text, true);
  HexToBytes(text);
  ReplaceTokens(text);
  if (auto login = ParseLoginValue(text)) {
    if (login->user.size() > kLoginItemLimit) return false;
  }
  return true;
}

}  // namespace vigilo::testing
