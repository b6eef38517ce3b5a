#include "platform/sql/create_table_statement.h"

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/database.h"
#include "platform/sql/sql_tokens.h"

namespace vigilo::sql {

namespace {

class Reader {
 public:
  explicit Reader(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  bool AtEnd() const { return pos_ >= tokens_.size(); }
  const Token* Peek() const { return AtEnd() ? nullptr : &tokens_[pos_]; }
  bool PeekWord(std::string_view word) const {
    const Token* t = Peek();
    return t && t->kind == TokenKind::kWord && EqualsNoCase(t->text, word);
  }
  bool PeekPunct(char c) const {
    const Token* t = Peek();
    return t && t->kind == TokenKind::kPunct && t->text[0] == c;
  }
  bool TakeWord(std::string_view word) {
    if (!PeekWord(word)) return false;
    ++pos_;
    return true;
  }
  bool TakePunct(char c) {
    if (!PeekPunct(c)) return false;
    ++pos_;
    return true;
  }
  void ExpectPunct(char c) {
    if (!TakePunct(c)) Fail(Format("\"%c\" expected", c));
  }
  std::string Name() {
    const Token* t = Peek();
    if (!t || (t->kind != TokenKind::kWord && t->kind != TokenKind::kBracketed &&
               t->kind != TokenKind::kDoubleQuoted)) {
      Fail("a name expected");
    }
    ++pos_;
    return Unquote(*t);
  }
  int Number() {
    const Token* t = Peek();
    if (!t || t->kind != TokenKind::kNumber) Fail("a number expected");
    ++pos_;
    return static_cast<int>(LeadingNumber(t->text));
  }
  [[noreturn]] void Fail(const std::string& what) const {
    std::string near = AtEnd() ? "the end" : "\"" + tokens_[pos_].text + "\"";
    throw DbException(Format("Syntax error in CREATE TABLE statement: %s near %s.",
                             what.c_str(), near.c_str()));
  }

 private:
  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

std::vector<std::string> NameList(Reader& r) {
  std::vector<std::string> names;
  r.ExpectPunct('(');
  do {
    names.push_back(r.Name());
  } while (r.TakePunct(','));
  r.ExpectPunct(')');
  return names;
}

DbfField FieldOfType(const std::string& name, const std::string& type, int size,
                     int scale, bool sized) {
  DbfField f;
  f.name = name;
  std::string t = ToUpper(type);
  auto width = [](int w) { return static_cast<uint8_t>(w); };
  if (t == "INT" || t == "INTEGER" || t == "SMALLINT" || t == "LONG" ||
      t == "COUNTER" || t == "BIGINT" || t == "TINYINT") {
    f.type = 'N';
    f.width = 11;
  } else if (t == "NUMERIC" || t == "DECIMAL" || t == "NUMBER") {
    f.type = 'N';
    f.width = width(sized ? size : 18);
    f.decimals = static_cast<uint8_t>(sized ? scale : 0);
  } else if (t == "FLOAT" || t == "DOUBLE" || t == "REAL" || t == "CURRENCY") {
    f.type = 'N';
    f.width = 20;
    f.decimals = 6;
  } else if (t == "CHAR" || t == "VARCHAR" || t == "TEXT" || t == "CHARACTER" ||
             t == "STRING") {
    f.type = 'C';
    f.width = width(sized ? size : 254);
  } else if (t == "DATE" || t == "DATETIME" || t == "TIMESTAMP") {
    f.type = 'D';
    f.width = 8;
  } else if (t == "MEMO" || t == "LONGTEXT" || t == "LONGCHAR" || t == "CLOB") {
    f.type = 'M';
    f.width = 10;
  } else if (t == "BIT" || t == "LOGICAL" || t == "BOOLEAN" || t == "YESNO") {
    f.type = 'L';
    f.width = 1;
  } else {
    throw DbException(Format("Unknown column type %s of column %s in CREATE TABLE.",
                             type.c_str(), name.c_str()));
  }
  if (sized && (size < 1 || size > 254)) {
    throw DbException(Format("Column %s: width %d is outside 1 to 254.",
                             name.c_str(), size));
  }
  return f;
}

}  // namespace

std::optional<CreateTableStatement> ParseCreateTable(std::string_view statement) {
  Reader r(Tokenize(statement));
  if (!r.TakeWord("CREATE") || !r.TakeWord("TABLE")) return std::nullopt;
  CreateTableStatement out;
  out.table = r.Name();
  r.ExpectPunct('(');
  do {
    if (r.PeekWord("CONSTRAINT") || r.PeekWord("PRIMARY")) {
      if (r.TakeWord("CONSTRAINT")) out.key_name = r.Name();
      if (!r.TakeWord("PRIMARY") || !r.TakeWord("KEY")) r.Fail("PRIMARY KEY expected");
      if (!out.primary_key.empty()) r.Fail("a second primary key");
      out.primary_key = NameList(r);
      continue;
    }
    std::string name = r.Name();
    std::string type = r.Name();
    int size = 0, scale = 0;
    bool sized = false;
    if (r.TakePunct('(')) {
      sized = true;
      size = r.Number();
      if (r.TakePunct(',')) scale = r.Number();
      r.ExpectPunct(')');
    }
    out.fields.push_back(FieldOfType(name, type, size, scale, sized));
    // Column constraints: NOT NULL, NULL, PRIMARY KEY, UNIQUE are accepted;
    // only PRIMARY KEY is kept.
    for (;;) {
      if (r.TakeWord("NOT") || r.TakeWord("NULL") || r.TakeWord("UNIQUE")) continue;
      if (r.TakeWord("PRIMARY")) {
        if (!r.TakeWord("KEY")) r.Fail("KEY expected");
        if (!out.primary_key.empty()) r.Fail("a second primary key");
        out.primary_key = {name};
        continue;
      }
      break;
    }
  } while (r.TakePunct(','));
  r.ExpectPunct(')');
  r.TakePunct(';');
  if (!r.AtEnd()) r.Fail("end of statement expected");
  for (const std::string& key : out.primary_key) {
    bool found = false;
    for (const DbfField& f : out.fields) found = found || EqualsNoCase(f.name, key);
    if (!found) {
      throw DbException(Format("Primary key column %s is not a column of %s.",
                               key.c_str(), out.table.c_str()));
    }
  }
  if (out.fields.empty()) r.Fail("no columns");
  return out;
}

}  // namespace vigilo::sql
