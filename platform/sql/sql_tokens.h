// A tokenizer for the SQL text the system writes, so that the dBase dialect
// rewriter and the CREATE TABLE reader work on tokens, never on raw text
// (a quote or "#" inside a string literal stays inside it).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vigilo::sql {

enum class TokenKind {
  kWord,        // identifier or keyword: letters, digits, "_", "$"
  kBracketed,   // [name]
  kDoubleQuoted,// "text" (an identifier, a file name or a string literal)
  kString,      // 'text' with '' standing for one apostrophe
  kNumber,      // 12, 1.5
  kDateLiteral, // #01/31/1999#
  kOperator,    // = <> != < > <= >= || + - * / % and the like
  kPunct,       // ( ) , . ;
  kOther,       // any other character
};

struct Token {
  TokenKind kind;
  std::string text;   // the token as written
  std::string space;  // blanks and line ends before it
};

// Splits text into tokens; trailing white space is kept in the returned
// trailing text. Unterminated quotes take the rest of the text as one token.
std::vector<Token> Tokenize(std::string_view text, std::string* trailing = nullptr);

// The text of tokens joined again with their leading white space.
std::string JoinTokens(const std::vector<Token>& tokens, std::string_view trailing = {});

// The content of a quoted or bracketed token (quotes removed, doubled quote
// characters reduced to one); other tokens unchanged.
std::string Unquote(const Token& token);

// The name in double quotes, doubling inner quotes, for SQLite.
std::string QuoteIdentifier(std::string_view name);
// The text as a single-quoted SQL string literal.
std::string QuoteString(std::string_view text);

}  // namespace vigilo::sql
