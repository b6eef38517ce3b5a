#include "data/value_translation.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/format.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/dates.h"
#include "platform/sql/sql_text.h"

namespace vigilo {

namespace {

// Texts end at a NUL character, as the stored texts they come from do; a NUL
// inside a value must not cut a formatted statement short.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

constexpr std::string_view kChangeDateField = "ChngHist->ChngDate";

bool Holds(std::string_view text, char c) { return text.find(c) != std::string_view::npos; }

// The text after the first occurrence of c.
std::string_view After(std::string_view text, char c) {
  size_t found = text.find(c);
  return found == std::string_view::npos ? std::string_view() : text.substr(found + 1);
}

// A numeric operand as the system writes it: the leading decimal number,
// written as an unsigned 32-bit number.
unsigned long Unsigned(std::string_view text) {
  return static_cast<uint32_t>(static_cast<int32_t>(LeadingNumber(text)));
}

// A text as an xBase string literal: in apostrophes, or in double quotes when
// it holds an apostrophe; std::nullopt when it holds both kinds of quote.
std::optional<std::string> XbaseLiteral(std::string_view text) {
  if (!Holds(text, '\'')) return "'" + std::string(text) + "'";
  if (!Holds(text, '"')) return "\"" + std::string(text) + "\"";
  return std::nullopt;
}

std::string SqlLiteral(std::string_view text) { return "'" + QuoteSqlText(text) + "'"; }

// The value written left-aligned in exactly width characters.
std::string Fit(std::string_view text, size_t width) {
  std::string out(text.substr(0, width));
  out.resize(width, ' ');
  return out;
}

std::string TranslateText(std::string v, const CFieldDef& field, const std::string& col,
                          const TranslationContext& context) {
  const bool xbase = context.dialect() == Dialect::kXbase;
  const bool kind0 = context.kind == kDbaseKind;
  const bool memo = field.IsMemo();
  const char* c = col.c_str();

  if (!v.empty() && v.back() == '*' && v.front() != '*') v.insert(v.begin(), '*');

  if (!v.empty() && v.back() == '*') {
    std::string s = v.size() >= 2 ? v.substr(1, v.size() - 2) : std::string();
    if (xbase) {
      std::optional<std::string> literal = XbaseLiteral(s);
      if (!literal) return {};
      return Format("(UPPER(%s) $ UPPER(%s))", literal->c_str(), c);
    }
    return Format("(%s like '%%%s%%')", c, QuoteSqlText(s).c_str());
  }
  if (!v.empty() && v.front() == ' ' && (memo || context.kind == kOracleKind)) {
    return kind0 ? Format("(%s+'.' = '.')", c) : Format("(%s IS NULL)", c);
  }
  if (memo) {
    if (xbase) {
      std::optional<std::string> literal = XbaseLiteral(v);
      if (!literal) return {};
      return Format("(%s = %s)", c, literal->c_str());
    }
    return Format(kind0 ? "(%s = %s)" : "(%s like %s)", c, SqlLiteral(v).c_str());
  }

  char op = '=';
  size_t width;
  if (!v.empty() && (v.front() == '<' || v.front() == '>')) {
    op = v.front();
    v.erase(0, 1);
    width = v.size();
  } else {
    width = std::min<size_t>(v.size() + 4, field.width);
  }
  if (!kind0) return Format("(%s %c %s)", c, op, SqlLiteral(v).c_str());
  std::string fitted = Fit(v, width);
  if (xbase) {
    std::optional<std::string> literal = XbaseLiteral(fitted);
    if (!literal) return {};
    return Format("(%s %c %s)", c, op, literal->c_str());
  }
  return Format("(%s %c %s)", c, op, SqlLiteral(fitted).c_str());
}

std::string TranslateNumber(std::string_view v, const std::string& col,
                            const TranslationContext& context) {
  const char* c = col.c_str();
  size_t dash = v.find('-');
  if (dash != std::string_view::npos) {
    const char* connector = context.dialect() == Dialect::kXbase ? ".AND." : "AND";
    return Format("(%s >= %lu %s %s <= %lu)", c, Unsigned(v.substr(0, dash)), connector, c,
                  Unsigned(v.substr(dash + 1)));
  }
  if (Holds(v, '>')) return Format("(%s > %lu)", c, Unsigned(After(v, '>')));
  if (Holds(v, '<')) return Format("(%s < %lu)", c, Unsigned(After(v, '<')));
  return Format("(%s = %lu)", c, Unsigned(v));
}

// A date operand in the form the comparison needs, or std::nullopt.
std::optional<std::string> DateOperand(std::string_view value, const TranslationContext& context) {
  if (context.IsService()) {
    // DATE() is replaced by the database's date function when the selection
    // is built, so it stays bare; between quotes it would be a text.
    if (EqualsNoCase(value, "DATE()")) return std::string(value);
    std::optional<std::string> date = DateToDatabase(context.dates, value, context.kind);
    if (!date) return std::nullopt;
    return context.kind == kDbaseKind ? *date : SqlLiteral(*date);
  }
  // The rule manager compares eight-digit text; its engine copy replaces a
  // quoted Date() by today's eight digits before the condition is used.
  if (EqualsNoCase(value, "DATE()")) return "'" + std::string(value) + "'";
  std::optional<std::string> date = DateToStoredForm(context.dates, value);
  if (!date) return std::nullopt;
  return "'" + *date + "'";
}

std::string TranslateDate(std::string_view v, const std::string& col,
                          const TranslationContext& context) {
  const bool xbase = context.dialect() == Dialect::kXbase;
  // The column as compared: DTOS() turns an xBase date into its eight digits.
  std::string target = xbase ? "DTOS(" + col + ")" : col;
  const char* t = target.c_str();
  auto operand = [&](std::string_view value) { return DateOperand(value, context); };

  if (auto range = SplitDateRange(context.dates, v)) {
    std::optional<std::string> low = operand(range->first);
    std::optional<std::string> high = operand(range->second);
    if (!low || !high) return {};
    return Format(xbase ? "(%s >= %s .AND. %s <= %s)" : "(%s >= %s AND %s <= %s)", t,
                  low->c_str(), t, high->c_str());
  }
  for (char op : {'>', '<'}) {
    if (Holds(v, op)) {
      std::optional<std::string> date = operand(After(v, op));
      if (!date) return {};
      return Format("(%s %c %s)", t, op, date->c_str());
    }
  }
  if (!v.empty() && v.front() == ' ') {
    if (context.IsService() && context.kind == kDbaseKind) return {};
    if (!xbase) return Format("(%s = %s)", t, SqlLiteral(v).c_str());
    std::optional<std::string> literal = XbaseLiteral(v);
    if (!literal) return {};
    return Format("(%s = %s)", t, literal->c_str());
  }
  std::optional<std::string> date = operand(v);
  if (!date) return {};
  return Format("(%s = %s)", t, date->c_str());
}

// A type-11 operand: decimal seconds or the DateTime() token.
std::optional<std::string> SecondsOperand(std::string_view value,
                                          const TranslationContext& context) {
  std::optional<std::string> seconds = DateTimeValue(context.dates, value);
  if (!seconds) return std::nullopt;
  if (*seconds == "DateTime()") return seconds;
  if (seconds->empty() || seconds->size() > 18) return std::nullopt;
  for (char c : *seconds) {
    if (c < '0' || c > '9') return std::nullopt;  // never put raw text in SQL
  }
  return seconds;
}

std::string TranslateSeconds(std::string_view v, const std::string& col,
                             const TranslationContext& context) {
  const char* c = col.c_str();
  if (auto range = SplitDateRange(context.dates, v)) {
    std::optional<std::string> low = SecondsOperand(range->first, context);
    std::optional<std::string> high = SecondsOperand(range->second, context);
    if (!low || !high) return {};
    const char* connector = context.dialect() == Dialect::kXbase ? ".AND." : "AND";
    return Format("(%s >= %s %s %s <= %s)", c, low->c_str(), connector, c, high->c_str());
  }
  for (char op : {'>', '<'}) {
    if (Holds(v, op)) {
      std::optional<std::string> seconds = SecondsOperand(After(v, op), context);
      if (!seconds) return {};
      return Format("(%s %c %s)", c, op, seconds->c_str());
    }
  }
  std::optional<std::string> seconds = SecondsOperand(v, context);
  if (!seconds) return {};
  return Format("(%s = %s)", c, seconds->c_str());
}

std::string TranslateDateTime(std::string_view v, const std::string& col,
                              const TranslationContext& context) {
  const char* c = col.c_str();
  if (auto range = SplitDateRange(context.dates, v)) {
    std::string low = DateTimeLiteral(range->first, context);
    std::string high = DateTimeLiteral(range->second, context);
    if (low.empty() || high.empty()) return {};
    return Format("(%s  BETWEEN %s AND %s )", c, low.c_str(), high.c_str());
  }
  std::string op = "=";
  if (!v.empty() && (v.front() == '<' || v.front() == '>')) {
    op = std::string(1, v.front());
    v.remove_prefix(1);
    if (!v.empty() && v.front() == '=') {
      op += '=';
      v.remove_prefix(1);
    }
  }
  std::string literal = DateTimeLiteral(v, context);
  if (literal.empty()) return {};
  return Format("(%s %s %s)", c, op.c_str(), literal.c_str());
}

}  // namespace

std::string DateTimeLiteral(std::string_view value, const TranslationContext& context) {
  const long kind = context.kind;
  if (value == "DateTime()") {
    if (kind == kSqlServerKind || kind == kSybaseKind) return "getdate()";
    if (kind == kOracleKind) return "sysdate";
    return {};
  }
  if (!IsServerKind(kind)) return {};
  std::optional<LocalDateTime> when = ParseLocalDateTime(context.dates, value);
  if (!when) return {};
  return ServerDateTimeLiteral(*when, kind);
}

std::string ServerDateTimeLiteral(const LocalDateTime& when, long kind) {
  std::string text = Format("%02d/%02d/%04d %02d:%02d:%02d", when.month, when.day, when.year,
                            when.hour, when.minute, when.second);
  if (kind == kOracleKind) {
    return Format("TO_DATE('%s','MM/DD/YYYY HH24:MI:SS')", text.c_str());
  }
  return "'" + text + "'";
}

std::string TranslateValue(std::string_view value, const CFieldDef& field,
                           std::string_view alias, const TranslationContext& context) {
  std::string col = field.name;
  if (!alias.empty()) {
    col = std::string(alias) + (context.kind == kDbaseKind ? "->" : ".") + field.name;
  }
  std::string_view v = UpToNul(value);
  if (!v.empty() && v.front() == '=') v.remove_prefix(1);

  std::string result;
  bool date_kind = false;
  switch (field.type) {
    case CFieldDef::kNumber:
    case CFieldDef::kNumber7:
      return TranslateNumber(v, col, context);
    case CFieldDef::kDateTime:
      if (context.IsService()) return TranslateDateTime(v, col, context);
      return TranslateText(std::string(v), field, col, context);
    case CFieldDef::kSeconds:
      result = TranslateSeconds(v, col, context);
      date_kind = true;
      break;
    case CFieldDef::kDate:
      if (col == kChangeDateField) return TranslateText(std::string(v), field, col, context);
      result = TranslateDate(v, col, context);
      date_kind = true;
      break;
    default:
      return TranslateText(std::string(v), field, col, context);
  }
  if (date_kind && result.empty()) {
    context.Report(Format("Invalid date value (%s) in the %s field!\n",
                          context.dates.picture.c_str(), col.c_str()));
  }
  return result;
}

std::string TranslateValues(std::string_view values, const CFieldDef& field,
                            std::string_view alias, const TranslationContext& context) {
  values = UpToNul(values);
  char separator = 0;
  if (Holds(values, ',')) {
    separator = ',';
  } else if (Holds(values, '&')) {
    separator = '&';
  } else {
    return TranslateValue(values, field, alias, context);
  }
  const bool xbase = context.dialect() == Dialect::kXbase;
  const char* word = separator == ',' ? (xbase ? ".OR." : "OR") : (xbase ? ".AND." : "AND");
  std::string joined;
  for (const std::string& item : SplitNonEmpty(values, separator)) {
    std::string next = TranslateValue(item, field, alias, context);
    if (next.empty()) continue;
    joined = joined.empty() ? next : Format("%s %s %s", joined.c_str(), word, next.c_str());
  }
  return joined.empty() ? std::string() : "(" + joined + ")";
}

std::vector<std::string> ValueListItems(std::string_view values) {
  values = UpToNul(values);
  if (Holds(values, ',')) return SplitNonEmpty(values, ',');
  if (Holds(values, '&')) return SplitNonEmpty(values, '&');
  return {std::string(values)};
}

}  // namespace vigilo
