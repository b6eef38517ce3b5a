#include "platform/sql/sql_tokens.h"
#include "platform/sql/sql_text.h"

#include <cctype>

namespace vigilo::sql {

namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// End of a quoted run starting at text[start] == quote; a doubled quote
// character stands for one and does not end it.
size_t QuotedEnd(std::string_view text, size_t start, char quote) {
  size_t i = start + 1;
  while (i < text.size()) {
    if (text[i] == quote) {
      if (i + 1 < text.size() && text[i + 1] == quote) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return text.size();
}

// A date literal is "#", then digits, "/", "-", ":" or blanks, then "#".
size_t DateLiteralEnd(std::string_view text, size_t start) {
  size_t i = start + 1;
  bool digit = false;
  while (i < text.size()) {
    char c = text[i];
    if (c == '#') return digit ? i + 1 : 0;
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digit = true;
    } else if (c != '/' && c != '-' && c != ':' && c != ' ' && c != '.') {
      return 0;
    }
    ++i;
  }
  return 0;
}

}  // namespace

std::vector<Token> Tokenize(std::string_view text, std::string* trailing) {
  std::vector<Token> tokens;
  size_t i = 0;
  std::string space;
  while (i < text.size()) {
    char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      space += c;
      ++i;
      continue;
    }
    size_t end = i + 1;
    TokenKind kind = TokenKind::kOther;
    if (c == '\'') {
      kind = TokenKind::kString;
      end = QuotedEnd(text, i, '\'');
    } else if (c == '"') {
      kind = TokenKind::kDoubleQuoted;
      end = QuotedEnd(text, i, '"');
    } else if (c == '[') {
      kind = TokenKind::kBracketed;
      size_t close = text.find(']', i);
      end = close == std::string_view::npos ? text.size() : close + 1;
    } else if (c == '#' && DateLiteralEnd(text, i) != 0) {
      kind = TokenKind::kDateLiteral;
      end = DateLiteralEnd(text, i);
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < text.size() &&
                std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
      kind = TokenKind::kNumber;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '.')) {
        ++end;
      }
    } else if (IsWordChar(c)) {
      kind = TokenKind::kWord;
      while (end < text.size() && IsWordChar(text[end])) ++end;
    } else if (c == '(' || c == ')' || c == ',' || c == '.' || c == ';') {
      kind = TokenKind::kPunct;
    } else if (std::string_view("=<>!|+-*/%&~").find(c) != std::string_view::npos) {
      kind = TokenKind::kOperator;
      if (end < text.size()) {
        std::string_view two = text.substr(i, 2);
        if (two == "<>" || two == "<=" || two == ">=" || two == "!=" ||
            two == "==" || two == "||" || two == "<<" || two == ">>") {
          end = i + 2;
        }
      }
    }
    tokens.push_back(Token{kind, std::string(text.substr(i, end - i)), space});
    space.clear();
    i = end;
  }
  if (trailing) *trailing = space;
  return tokens;
}

std::string JoinTokens(const std::vector<Token>& tokens, std::string_view trailing) {
  std::string text;
  for (const Token& token : tokens) {
    text += token.space;
    text += token.text;
  }
  text += trailing;
  return text;
}

std::string Unquote(const Token& token) {
  const std::string& t = token.text;
  char quote = 0;
  switch (token.kind) {
    case TokenKind::kString: quote = '\''; break;
    case TokenKind::kDoubleQuoted: quote = '"'; break;
    case TokenKind::kBracketed:
      return t.size() >= 2 && t.back() == ']' ? t.substr(1, t.size() - 2) : t.substr(1);
    default: return t;
  }
  std::string out;
  size_t end = t.size() >= 2 && t.back() == quote ? t.size() - 1 : t.size();
  for (size_t i = 1; i < end; ++i) {
    out += t[i];
    if (t[i] == quote && i + 1 < end && t[i + 1] == quote) ++i;
  }
  return out;
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string QuoteString(std::string_view text) { return "'" + QuoteSqlText(text) + "'"; }

}  // namespace vigilo::sql
