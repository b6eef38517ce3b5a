#include "data/condition.h"

#include <array>

#include "common/text.h"
#include "data/database_kind.h"
#include "data/value_translation.h"

namespace vigilo {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

struct Words {
  std::string_view and_word, or_word, not_word;
};

Words WordsFor(Dialect dialect) {
  if (dialect == Dialect::kXbase) return {".AND.", ".OR.", ".NOT."};
  return {" AND ", " OR ", " NOT "};
}

// Cuts a condition at the markers that open a later clause. Each later piece
// begins with its connector; the xBase form drops the joining blank.
std::vector<std::string_view> CutPieces(std::string_view text, Dialect dialect) {
  const bool xbase = dialect == Dialect::kXbase;
  const std::array<std::string_view, 2> markers =
      xbase ? std::array<std::string_view, 2>{" .AND.(", " .OR.("}
            : std::array<std::string_view, 2>{" AND (", " OR ("};
  const size_t skip = xbase ? 1 : 0;
  std::vector<std::string_view> pieces;
  size_t start = 0;
  size_t search = 0;
  while (true) {
    size_t cut = std::string_view::npos;
    for (std::string_view marker : markers) cut = std::min(cut, text.find(marker, search));
    if (cut == std::string_view::npos) break;
    pieces.push_back(text.substr(start, cut - start));
    start = cut + skip;
    search = cut + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// Assembles translated clauses with their connectors and groups. A connector
// is written only after something in the same group, so a left-out clause
// never leaves a dangling connector, and an emptied group vanishes.
class ConditionBuilder {
 public:
  void Add(std::string_view connector, bool group_open, const std::string& text,
           bool group_close) {
    if (group_open) frames_.push_back({std::string(connector), {}});
    if (!text.empty()) Append(group_open ? std::string_view() : connector, text);
    if (group_close) Close();
  }

  std::string Finish() {
    while (frames_.size() > 1) Close();
    return frames_.front().text;
  }

 private:
  struct Frame {
    std::string connector;  // the connector written before the group
    std::string text;
  };

  void Append(std::string_view connector, const std::string& text) {
    Frame& frame = frames_.back();
    if (!frame.text.empty()) frame.text += connector;
    frame.text += text;
  }

  void Close() {
    if (frames_.size() == 1) return;  // a close without an open is ignored
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    if (!frame.text.empty()) Append(frame.connector, "(" + frame.text + ")");
  }

  std::vector<Frame> frames_{Frame{}};
};

std::string_view ConnectorWord(Connector connector, const Words& words) {
  switch (connector) {
    case Connector::kAnd: return words.and_word;
    case Connector::kOr: return words.or_word;
    default: return {};
  }
}

// Keeps the first fault of a checked translation.
void NoteFault(std::optional<ConditionFault>* fault, ConditionFault::Kind kind,
               std::string_view column, std::string_view value) {
  if (fault == nullptr || fault->has_value()) return;
  *fault = ConditionFault{kind, std::string(column), std::string(value)};
}

// Digits only, once blanks around them are removed.
bool IsWholeNumber(std::string_view text) {
  const std::string trimmed = Trimmed(text);
  if (trimmed.empty()) return false;
  for (char c : trimmed) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Whether a numeric clause value says what its translation writes: the
// translation reads only leading digits, so "12.5" would compare with 12,
// "-5" with the range 0 to 5 and "abc" with 0.
bool IsNumericOperand(std::string_view item) {
  if (!item.empty() && item.front() == '=') item.remove_prefix(1);
  const size_t dash = item.find('-');
  if (dash != std::string_view::npos) {
    return IsWholeNumber(item.substr(0, dash)) && IsWholeNumber(item.substr(dash + 1));
  }
  for (char op : {'>', '<'}) {
    const size_t at = item.find(op);
    if (at != std::string_view::npos) {
      return Trimmed(item.substr(0, at)).empty() && IsWholeNumber(item.substr(at + 1));
    }
  }
  return IsWholeNumber(item);
}

// The translation of one column's values, or "" when the column is not a
// field or the values give no text. When checking, every value item must
// translate on its own: a list quietly loses the items that do not.
std::string TranslateColumn(std::string_view column, std::string_view values,
                            const std::vector<CFieldDef>& fields,
                            const TranslationContext& context,
                            std::optional<ConditionFault>* fault) {
  using Kind = ConditionFault::Kind;
  const CFieldDef* field = FindField(fields, column);
  if (field == nullptr) {
    NoteFault(fault, Kind::kUnknownColumn, column, {});
    return {};
  }
  if (fault != nullptr) {
    const bool numeric = field->type == CFieldDef::kNumber || field->type == CFieldDef::kNumber7;
    for (const std::string& item : ValueListItems(values)) {
      if ((numeric && !IsNumericOperand(item)) ||
          TranslateValue(item, *field, "", context).empty()) {
        NoteFault(fault, Kind::kUntranslatableValue, column, item);
        return {};
      }
    }
  }
  std::string text = TranslateValues(values, *field, "", context);
  if (text.empty()) NoteFault(fault, Kind::kUntranslatableValue, column, values);
  return text;
}

bool IsChangeClause(std::string_view piece, const Clause& clause) {
  return piece.find("->") != std::string_view::npos &&
         piece.find("ChngHist->") == std::string_view::npos &&
         clause.values.find("->") != std::string::npos;
}

}  // namespace

namespace {

// Parses one clause; *rest gets what follows the clause's closing
// parentheses (the joining blank before the next clause, or text that is no
// clause), or nullopt when the values' ")" is missing.
Clause ParseClauseText(std::string_view p, std::optional<std::string_view>* rest) {
  Clause clause;
  if (StartsWith(p, " AND ") || StartsWith(p, ".AND.")) {
    clause.connector = Connector::kAnd;
    p.remove_prefix(5);
  } else if (StartsWith(p, " OR ") || StartsWith(p, ".OR.")) {
    clause.connector = Connector::kOr;
    p.remove_prefix(4);
  }
  if (StartsWith(p, "((")) {
    clause.group_open = true;
    p.remove_prefix(1);
  }
  if (StartsWith(p, "(")) p.remove_prefix(1);
  size_t blank = p.find(' ');
  clause.column = std::string(p.substr(0, blank));
  p = blank == std::string_view::npos ? std::string_view() : p.substr(blank + 1);
  blank = p.find(' ');  // after the word "is"
  p = blank == std::string_view::npos ? std::string_view() : p.substr(blank + 1);
  if (StartsWith(p, " NOT ") || StartsWith(p, ".NOT.")) {
    clause.negated = true;
    p.remove_prefix(5);
  }
  if (!p.empty()) p.remove_prefix(1);  // the "(" of the values
  size_t token = p.rfind("()");
  size_t close = p.find(')', token == std::string_view::npos ? 0 : token + 2);
  clause.values = std::string(p.substr(0, close));
  if (close != std::string_view::npos && close + 2 < p.size() && p[close + 2] == ')') {
    clause.group_close = true;
  }
  if (close == std::string_view::npos || close + 1 >= p.size() || p[close + 1] != ')') {
    *rest = std::nullopt;
  } else {
    *rest = p.substr(close + 2);
  }
  return clause;
}

// Text after a clause that is neither a group's ")" nor a blank: what the
// translation would otherwise pass over in silence.
std::optional<std::string> TextAfterClause(const std::optional<std::string_view>& rest,
                                           std::string_view piece) {
  if (!rest) return Trimmed(piece);
  const size_t other = rest->find_first_not_of(") ");
  if (other == std::string_view::npos) return std::nullopt;
  return Trimmed(rest->substr(other));
}

}  // namespace

Clause ParseClause(std::string_view p, long /*kind*/) {
  std::optional<std::string_view> rest;
  return ParseClauseText(p, &rest);
}

std::string FormatClause(const Clause& clause, long kind) {
  const Words words = WordsFor(kind == kDbaseKind ? Dialect::kXbase : Dialect::kSql);
  std::string text(ConnectorWord(clause.connector, words));
  if (clause.group_open) text += "(";
  text += "(";
  if (!clause.qualifier.empty()) text += clause.qualifier + "->";
  text += clause.column;
  text += " is ";
  if (clause.negated) text += words.not_word;
  text += "(" + clause.values + "))";
  if (clause.group_close) text += ")";
  return text;
}

std::string ConditionFault::Reason() const {
  if (kind == Kind::kUnknownColumn) {
    return "the condition names the field " + column + ", which is not in the table";
  }
  if (kind == Kind::kTrailingText) {
    return "the condition holds text that is not a clause: " + value;
  }
  return "the value (" + value + ") of the field " + column + " cannot be translated";
}

std::string TranslateCondition(std::string_view condition, const std::vector<CFieldDef>& fields,
                               const TranslationContext& context,
                               std::optional<ConditionFault>* fault) {
  condition = condition.substr(0, condition.find('\0'));  // a stored text ends there
  const Words words = WordsFor(context.dialect());
  const std::string and_word(words.and_word);
  ConditionBuilder builder;
  for (std::string_view piece : CutPieces(condition, context.dialect())) {
    std::optional<std::string_view> rest;
    Clause clause = ParseClauseText(piece, &rest);
    std::string_view connector = ConnectorWord(clause.connector, words);
    if (std::optional<std::string> extra = TextAfterClause(rest, piece)) {
      NoteFault(fault, ConditionFault::Kind::kTrailingText, clause.column, *extra);
    }

    if (!IsChangeClause(piece, clause)) {
      std::string text = TranslateColumn(clause.column, clause.values, fields, context, fault);
      if (!text.empty() && clause.negated) text = "(" + std::string(words.not_word) + text + ")";
      builder.Add(connector, clause.group_open, text, clause.group_close);
      continue;
    }

    // A change from one value to another: the history row names the column
    // and holds both values.
    size_t arrow = clause.values.find("->");
    std::string from = Trimmed(std::string_view(clause.values).substr(0, arrow));
    std::string to = Trimmed(std::string_view(clause.values).substr(arrow + 2));
    // The history names the column by its field name: a name that is no
    // field would never match.
    if (FindField(fields, clause.column) == nullptr) {
      NoteFault(fault, ConditionFault::Kind::kUnknownColumn, clause.column, {});
    }
    std::string parts[3] = {
        TranslateColumn("ChngHist->ChngWhat", clause.column, fields, context, fault),
        TranslateColumn("ChngHist->ChngFrom", from, fields, context, fault),
        TranslateColumn("ChngHist->ChngTo", to, fields, context, fault)};
    if (!clause.negated) {
      builder.Add(connector, clause.group_open, parts[0], false);
      builder.Add(and_word, false, parts[1], false);
      builder.Add(and_word, false, parts[2], clause.group_close);
      continue;
    }
    std::string inner;
    for (const std::string& part : parts) {
      if (part.empty()) continue;
      if (!inner.empty()) inner += and_word;
      inner += part;
    }
    std::string text = inner.empty() ? inner : "(" + std::string(words.not_word) + "(" + inner + "))";
    builder.Add(connector, clause.group_open, text, clause.group_close);
  }
  return builder.Finish();
}

std::vector<std::string> ConditionClauses(std::string_view condition,
                                          const TranslationContext& context) {
  condition = condition.substr(0, condition.find('\0'));
  std::vector<std::string> clauses;
  for (std::string_view piece : CutPieces(condition, context.dialect())) {
    clauses.emplace_back(piece);
  }
  return clauses;
}

void RewriteConnectors(std::string& condition) {
  static constexpr std::pair<std::string_view, std::string_view> kRewrites[] = {
      {".AND.", " AND "}, {".OR.", " OR "}, {".NOT.", " NOT "}};
  for (const auto& [from, to] : kRewrites) {
    for (size_t at = condition.find(from); at != std::string::npos;
         at = condition.find(from, at + to.size())) {
      condition.replace(at, from.size(), to);
    }
  }
}

std::string SubstituteDateFunction(std::string_view condition, long kind) {
  std::string_view function;
  switch (kind) {
    case kDbaseKind: function = "DATE()"; break;
    case kSqlServerKind:
    case kSybaseKind: function = "getdate()"; break;
    case kOracleKind: function = "sysdate"; break;
    default: return std::string(condition);
  }
  static constexpr std::string_view kToken = "DATE()";
  const std::string upper = ToUpper(condition);
  std::string out;
  size_t pos = 0;
  for (size_t found = upper.find(kToken); found != std::string::npos;
       found = upper.find(kToken, found + kToken.size())) {
    char before = found > 0 ? upper[found - 1] : 'A';
    if (before >= 'A' && before <= 'Z') continue;  // part of a longer name, or at the start
    out.append(condition.substr(pos, found - pos));
    out.append(function);
    pos = found + kToken.size();
  }
  out.append(condition.substr(pos));
  return out;
}

}  // namespace vigilo
