#include "platform/sql/dbase_sql_rewriter.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <initializer_list>

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/database.h"
#include "platform/sql/dbf_not_listed.h"
#include "platform/sql/sql_tokens.h"

namespace vigilo::sql {

namespace {

bool IsWord(const Token& t, std::string_view word) {
  return t.kind == TokenKind::kWord && EqualsNoCase(t.text, word);
}

bool IsPunct(const Token& t, char c) {
  return t.kind == TokenKind::kPunct && t.text.size() == 1 && t.text[0] == c;
}

bool IsComparison(const Token& t) {
  if (t.kind == TokenKind::kWord) return EqualsNoCase(t.text, "LIKE");
  return t.kind == TokenKind::kOperator &&
         (t.text == "=" || t.text == "==" || t.text == "<>" || t.text == "!=" ||
          t.text == "<" || t.text == ">" || t.text == "<=" || t.text == ">=");
}

bool IsNameToken(const Token& t) {
  return t.kind == TokenKind::kWord || t.kind == TokenKind::kBracketed ||
         t.kind == TokenKind::kDoubleQuoted;
}

// Keywords that may legally stand before a comparison operator and so are
// never taken for column names.
bool KeepsKeyword(std::string_view word) {
  static constexpr std::string_view kKeep[] = {
      "NULL", "NOT", "END", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP",
      "AND", "OR", "WHERE", "SELECT", "SET", "ON", "WHEN", "THEN", "ELSE",
      "CASE", "EXISTS", "IS", "IN", "BETWEEN", "ESCAPE", "COLLATE"};
  for (std::string_view keep : kKeep) {
    if (EqualsNoCase(word, keep)) return true;
  }
  return false;
}

bool IsSqliteKeyword(const std::string& word) {
  return sqlite3_keyword_check(word.data(), static_cast<int>(word.size())) != 0;
}

std::string TodayIso() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Format("%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
}

// Index of the first token of the column reference that ends at `end`
// (a name, possibly qualified as a.b or a.b.c); `end` itself when it is no
// name.
size_t ColumnReferenceStart(const std::vector<Token>& tokens, size_t end) {
  size_t start = end;
  while (start >= 2 && IsPunct(tokens[start - 1], '.') && IsNameToken(tokens[start - 2])) {
    start -= 2;
  }
  return start;
}

// Removes table qualifiers from the targets of an UPDATE's SET list, which
// SQLite does not accept (the assignments always name the updated table).
void UnqualifySetList(std::vector<Token>& tokens) {
  if (tokens.empty() || !IsWord(tokens[0], "UPDATE")) return;
  int depth = 0;
  bool in_set = false;
  bool at_target = false;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (IsPunct(t, '(')) ++depth;
    if (IsPunct(t, ')')) --depth;
    if (depth != 0) continue;
    if (!in_set) {
      if (IsWord(t, "SET")) in_set = at_target = true;
      continue;
    }
    if (IsWord(t, "WHERE") || IsWord(t, "FROM")) break;
    if (IsPunct(t, ',')) {
      at_target = true;
      continue;
    }
    if (at_target) {
      at_target = false;
      // tokens[i] starts a target: name (. name)*
      size_t last = i;
      while (last + 2 < tokens.size() && IsPunct(tokens[last + 1], '.') &&
             IsNameToken(tokens[last + 2])) {
        last += 2;
      }
      if (last != i && IsNameToken(tokens[i])) {
        tokens[last].space = tokens[i].space;
        tokens.erase(tokens.begin() + static_cast<long>(i),
                     tokens.begin() + static_cast<long>(last));
      }
    }
  }
}

// Token positions [first, last) of an UPDATE's SET list at the top level,
// where "col = NULL" is an assignment, not a test. {0, 0} when none.
std::pair<size_t, size_t> SetListRange(const std::vector<Token>& tokens) {
  if (tokens.empty() || !IsWord(tokens[0], "UPDATE")) return {0, 0};
  int depth = 0;
  size_t first = 0;
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (IsPunct(tokens[i], '(')) ++depth;
    if (IsPunct(tokens[i], ')')) --depth;
    if (depth != 0) continue;
    if (first == 0 && IsWord(tokens[i], "SET")) first = i + 1;
    if (first != 0 && (IsWord(tokens[i], "WHERE") || IsWord(tokens[i], "FROM"))) {
      return {first, i};
    }
  }
  return {first, first == 0 ? 0 : tokens.size()};
}

bool IsAnyWord(const Token& t, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (IsWord(t, word)) return true;
  }
  return false;
}

// Index of the ")" closing the "(" at `open`; tokens.size() when none.
size_t ClosingParen(const std::vector<Token>& tokens, size_t open) {
  int depth = 0;
  for (size_t k = open; k < tokens.size(); ++k) {
    if (IsPunct(tokens[k], '(')) ++depth;
    if (IsPunct(tokens[k], ')') && --depth == 0) return k;
  }
  return tokens.size();
}

// Drops DISTINCT from "IN (SELECT DISTINCT ...)": the list an IN tests is
// a set, and the engine's tables do not come in an order that would make
// DISTINCT free, so SQLite would build a temporary B-tree of the whole list
// twice (the rule selection's "NOT IN (SELECT DISTINCT FormID FROM flags
// ...)"). A subquery with LIMIT or OFFSET keeps it: there DISTINCT decides
// which rows are counted.
void DropDistinctInInLists(std::vector<Token>& tokens) {
  for (size_t i = 0; i + 3 < tokens.size(); ++i) {
    if (!IsWord(tokens[i], "IN") || !IsPunct(tokens[i + 1], '(') ||
        !IsWord(tokens[i + 2], "SELECT") || !IsWord(tokens[i + 3], "DISTINCT")) {
      continue;
    }
    bool limited = false;
    int depth = 1;
    for (size_t k = i + 2; k < tokens.size() && depth > 0; ++k) {
      if (IsPunct(tokens[k], '(')) ++depth;
      if (IsPunct(tokens[k], ')')) --depth;
      if (depth == 1 && (IsWord(tokens[k], "LIMIT") || IsWord(tokens[k], "OFFSET"))) {
        limited = true;
      }
    }
    if (!limited) tokens.erase(tokens.begin() + static_cast<long>(i + 3));
  }
}

// Wraps "x NOT IN (SELECT [DISTINCT] c FROM t WHERE k = n)" of a SELECT,
// x a column, c and k columns of t, n an integer (the rule selection's test
// of its flags), as
//   (CASE vg_not_listed(x, 't', 'c', 'k', n) WHEN 1 THEN 1 WHEN 0 THEN 0
//    WHEN 2 THEN (x NOT IN (...)) END)
// The function answers from the engine's indexes, a look-up per row, where
// SQLite would build the whole list into a temporary B-tree on every run;
// when it cannot (2), the NOT IN runs as written. A statement that writes
// keeps its NOT IN: its own writes could reach the indexes mid-run.
void NotInAsLookup(std::vector<Token>& t) {
  size_t start = 0;
  if (!t.empty() && IsWord(t[0], "EXPLAIN")) {
    start = t.size() > 2 && IsWord(t[1], "QUERY") && IsWord(t[2], "PLAN") ? 3 : 1;
  }
  if (start >= t.size() || !IsWord(t[start], "SELECT")) return;
  auto name = [&](size_t k) { return k < t.size() && IsNameToken(t[k]); };
  auto table_name = [&](size_t k) {
    return k < t.size() && (t[k].kind == TokenKind::kWord || t[k].kind == TokenKind::kBracketed ||
                            (t[k].kind == TokenKind::kDoubleQuoted && IsDbfFileName(Unquote(t[k]))));
  };
  for (size_t i = start + 1; i < t.size(); ++i) {
    const Token& before = t[i - 1];
    if (!IsAnyWord(before, {"WHERE", "AND", "OR", "NOT", "ON", "WHEN", "THEN", "ELSE"}) &&
        !IsPunct(before, '(') && !IsPunct(before, ',')) {
      continue;
    }
    if (!name(i) || IsAnyWord(t[i], {"NOT", "SELECT", "EXISTS", "CASE"})) continue;
    size_t k = i + 1;
    if (k + 1 < t.size() && IsPunct(t[k], '.') && name(k + 1)) k += 2;
    const size_t lhs_end = k;
    if (k + 3 >= t.size() || !IsWord(t[k], "NOT") || !IsWord(t[k + 1], "IN") ||
        !IsPunct(t[k + 2], '(') || !IsWord(t[k + 3], "SELECT")) {
      continue;
    }
    const size_t open = k + 2;
    k += 4;
    if (k < t.size() && IsAnyWord(t[k], {"DISTINCT", "ALL"})) ++k;
    const size_t column = k;
    if (!name(column) || k + 2 >= t.size() || !IsWord(t[k + 1], "FROM") || !table_name(k + 2)) {
      continue;
    }
    const size_t table = k + 2;
    k += 3;
    if (k < t.size() && IsWord(t[k], "AS")) ++k;
    if (k < t.size() && name(k) && !IsWord(t[k], "WHERE")) ++k;
    if (k + 3 >= t.size() || !IsWord(t[k], "WHERE") || !name(k + 1) ||
        !(t[k + 2].kind == TokenKind::kOperator && (t[k + 2].text == "=" || t[k + 2].text == "=="))) {
      continue;
    }
    const size_t key = k + 1;
    k += 3;
    std::string number;
    if (t[k].kind == TokenKind::kOperator && t[k].text == "-") {
      number = "-";
      ++k;
    }
    if (k + 1 >= t.size() || t[k].kind != TokenKind::kNumber ||
        t[k].text.find_first_not_of("0123456789") != std::string::npos || !IsPunct(t[k + 1], ')') ||
        ClosingParen(t, open) != k + 1) {
      continue;
    }
    number += t[k].text;
    const size_t end = k + 2;
    std::vector<Token> out = Tokenize(Format("(CASE %s(", kNotListedFunction));
    for (size_t j = i; j < lhs_end; ++j) out.push_back(t[j]);
    out.front().space = t[i].space;
    out[out.size() - (lhs_end - i)].space = "";
    for (Token& token :
         Tokenize(Format(", %s, %s, %s, %s) WHEN 1 THEN 1 WHEN 0 THEN 0 WHEN 2 THEN (",
                         QuoteString(Unquote(t[table])).c_str(),
                         QuoteString(Unquote(t[column])).c_str(),
                         QuoteString(Unquote(t[key])).c_str(), number.c_str()))) {
      out.push_back(std::move(token));
    }
    for (size_t j = i; j < end; ++j) out.push_back(t[j]);
    out[out.size() - (end - i)].space = "";
    for (Token& token : Tokenize(") END)")) out.push_back(std::move(token));
    t.erase(t.begin() + static_cast<long>(i), t.begin() + static_cast<long>(end));
    t.insert(t.begin() + static_cast<long>(i), out.begin(), out.end());
    i += out.size() - 1;
  }
}

}  // namespace

bool IsDbfFileName(std::string_view name) {
  return name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".dbf");
}

std::string IsoDateFromText(std::string_view text) {
  std::string t = Trimmed(text);
  int y = 0, m = 0, d = 0;
  char tail = 0;
  int n = 0;
  if (std::sscanf(t.c_str(), "%d/%d/%d%n", &m, &d, &y, &n) == 3) {
    if (n > 0 && static_cast<size_t>(n) < t.size() && t[static_cast<size_t>(n)] != ' ') {
      return "";
    }
    size_t year_digits = 0;
    for (size_t i = t.rfind('/') + 1; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) {
      ++year_digits;
    }
    if (year_digits <= 2) y += y < 30 ? 2000 : 1900;  // 00-29 are 2000-2029
  } else if (std::sscanf(t.c_str(), "%d-%d-%d%c", &y, &m, &d, &tail) >= 3) {
    // CCYY-MM-DD, possibly followed by a time that a date field drops.
  } else if (t.size() == 8 && std::sscanf(t.c_str(), "%4d%2d%2d", &y, &m, &d) == 3) {
  } else {
    return "";
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return "";
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (m == 2 && d == 29 && !leap) return "";
  return Format("%04d-%02d-%02d", y, m, d);
}

std::string RewriteDbaseSql(std::string_view statement, bool look_up) {
  std::string trailing;
  std::vector<Token> tokens = Tokenize(statement, &trailing);
  UnqualifySetList(tokens);
  if (look_up) NotInAsLookup(tokens);
  DropDistinctInInLists(tokens);
  auto [set_first, set_last] = SetListRange(tokens);

  std::vector<Token> out;
  out.reserve(tokens.size());
  int depth = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    Token t = tokens[i];
    if (IsPunct(t, '(')) ++depth;
    if (IsPunct(t, ')')) --depth;
    const Token* next = i + 1 < tokens.size() ? &tokens[i + 1] : nullptr;
    bool qualified = i > 0 && IsPunct(tokens[i - 1], '.');
    switch (t.kind) {
      case TokenKind::kDateLiteral: {
        std::string iso = IsoDateFromText(t.text.substr(1, t.text.size() - 2));
        if (iso.empty()) {
          throw DbException(Format("Invalid date literal %s in the statement.",
                                   t.text.c_str()));
        }
        t.kind = TokenKind::kString;
        t.text = QuoteString(iso);
        break;
      }
      case TokenKind::kDoubleQuoted: {
        std::string content = Unquote(t);
        if (!IsDbfFileName(content)) {
          t.kind = TokenKind::kString;
          t.text = QuoteString(content);
        }
        break;
      }
      case TokenKind::kWord: {
        if (!qualified && EqualsNoCase(t.text, "DATE") && next && IsPunct(*next, '(') &&
            i + 2 < tokens.size() && IsPunct(tokens[i + 2], ')')) {
          t.kind = TokenKind::kString;
          t.text = QuoteString(TodayIso());
          i += 2;
          break;
        }
        bool column_keyword = false;
        if (EqualsNoCase(t.text, "TO")) {
          column_keyword = true;
        } else if (EqualsNoCase(t.text, "VALUES")) {
          column_keyword = !(next && IsPunct(*next, '('));
        } else if (next && IsComparison(*next) && !KeepsKeyword(t.text) &&
                   IsSqliteKeyword(t.text)) {
          column_keyword = true;
        }
        if (column_keyword) {
          t.kind = TokenKind::kDoubleQuoted;
          t.text = QuoteIdentifier(t.text);
        }
        break;
      }
      case TokenKind::kOperator: {
        if (t.text == "+" &&
            ((!out.empty() && out.back().kind == TokenKind::kString) ||
             (next && (next->kind == TokenKind::kString ||
                       (next->kind == TokenKind::kDoubleQuoted &&
                        !IsDbfFileName(Unquote(*next))))))) {
          t.text = "||";
          break;
        }
        bool equal = t.text == "=" || t.text == "==";
        bool differ = t.text == "<>" || t.text == "!=";
        bool assignment = equal && depth == 0 && i >= set_first && i < set_last;
        if ((equal || differ) && !assignment && next && IsWord(*next, "NULL") &&
            !out.empty() && IsNameToken(out.back())) {
          size_t start = ColumnReferenceStart(out, out.size() - 1);
          std::string column;
          for (size_t k = start; k < out.size(); ++k) column += out[k].text;
          std::string space = out[start].space;
          out.erase(out.begin() + static_cast<long>(start), out.end());
          // A blank field reads as "" (the dBase driver gave NULL for it).
          std::string test =
              equal ? Format("(%s IS NULL OR %s = '')", column.c_str(), column.c_str())
                    : Format("(%s IS NOT NULL AND %s <> '')", column.c_str(),
                             column.c_str());
          out.push_back(Token{TokenKind::kOther, test, space});
          ++i;  // NULL consumed
          continue;
        }
        break;
      }
      default:
        break;
    }
    out.push_back(std::move(t));
  }
  return JoinTokens(out, trailing);
}

}  // namespace vigilo::sql
