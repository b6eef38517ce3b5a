// Parser and type checker of xBase expressions. Precedence, lowest first:
// .OR.; .AND.; .NOT.; comparisons (= == <> # != < > <= >= $); + and -;
// * and /; unary + and -; literals, fields, function calls and parentheses.
#include "platform/xbase/xbase_expression.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "common/format.h"
#include "common/text.h"
#include "platform/xbase/dbf_table.h"
#include "platform/xbase/xbase_node.h"

namespace vigilo {
namespace {

const char* TypeName(XbaseType type) {
  switch (type) {
    case XbaseType::kCharacter: return "character";
    case XbaseType::kNumeric: return "numeric";
    case XbaseType::kDate: return "date";
    case XbaseType::kLogical: return "logical";
  }
  return "?";
}

struct FunctionInfo {
  const char* name;
  XbaseOp op;
  size_t min_args;
  size_t max_args;
};

constexpr FunctionInfo kFunctions[] = {
    {"UPPER", XbaseOp::kUpper, 1, 1},    {"LOWER", XbaseOp::kLower, 1, 1},
    {"TRIM", XbaseOp::kRtrim, 1, 1},     {"RTRIM", XbaseOp::kRtrim, 1, 1},
    {"LTRIM", XbaseOp::kLtrim, 1, 1},    {"ALLTRIM", XbaseOp::kAlltrim, 1, 1},
    {"SUBSTR", XbaseOp::kSubstr, 2, 3},  {"LEFT", XbaseOp::kLeft, 2, 2},
    {"RIGHT", XbaseOp::kRight, 2, 2},    {"DTOS", XbaseOp::kDtos, 1, 1},
    {"DTOC", XbaseOp::kDtoc, 1, 1},      {"CTOD", XbaseOp::kCtod, 1, 1},
    {"STR", XbaseOp::kStr, 1, 3},        {"VAL", XbaseOp::kVal, 1, 1},
    {"LEN", XbaseOp::kLen, 1, 1},        {"DELETED", XbaseOp::kDeleted, 0, 0},
    {"RECNO", XbaseOp::kRecno, 0, 0},    {"IIF", XbaseOp::kIif, 3, 3},
    {"DATE", XbaseOp::kToday, 0, 0},
};

class Parser {
 public:
  Parser(std::string_view text, const DbfTable* table) : text_(text), table_(table) {}

  std::unique_ptr<XbaseNode> ParseAll() {
    SkipBlanks();
    if (pos_ >= text_.size()) Fail(pos_, "the expression is empty");
    auto node = ParseOr();
    SkipBlanks();
    if (pos_ < text_.size()) Fail(pos_, Format("unexpected '%c'", text_[pos_]));
    return node;
  }

 private:
  [[noreturn]] void Fail(size_t at, const std::string& detail) const {
    throw XbaseExpressionError(std::string(text_), at + 1, detail);
  }

  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }

  // Consumes a dotted word such as ".AND." (case-insensitive).
  bool AcceptDotted(const char* word) {
    SkipBlanks();
    size_t n = std::strlen(word);
    if (pos_ + n <= text_.size() && EqualsNoCase(text_.substr(pos_, n), word)) {
      pos_ += n;
      return true;
    }
    return false;
  }

  bool Accept(std::string_view symbol) {
    SkipBlanks();
    if (text_.substr(pos_, symbol.size()) == symbol) {
      pos_ += symbol.size();
      return true;
    }
    return false;
  }

  std::unique_ptr<XbaseNode> Make(XbaseOp op, XbaseType type, size_t at) {
    auto node = std::make_unique<XbaseNode>();
    node->op = op;
    node->type = type;
    node->position = at + 1;
    return node;
  }

  void RequireType(const XbaseNode& node, XbaseType type, const char* what) {
    if (node.type != type) {
      Fail(node.position - 1, Format("%s needs a %s operand, not %s", what, TypeName(type),
                                     TypeName(node.type)));
    }
  }

  std::unique_ptr<XbaseNode> Binary(XbaseOp op, XbaseType type, size_t at,
                                    std::unique_ptr<XbaseNode> left,
                                    std::unique_ptr<XbaseNode> right) {
    auto node = Make(op, type, at);
    node->args.push_back(std::move(left));
    node->args.push_back(std::move(right));
    node->FoldIfConstant();
    return node;
  }

  std::unique_ptr<XbaseNode> ParseOr() {
    auto left = ParseAnd();
    while (true) {
      size_t at = (SkipBlanks(), pos_);
      if (!AcceptDotted(".OR.")) return left;
      auto right = ParseAnd();
      RequireType(*left, XbaseType::kLogical, ".OR.");
      RequireType(*right, XbaseType::kLogical, ".OR.");
      left = Binary(XbaseOp::kOr, XbaseType::kLogical, at, std::move(left), std::move(right));
    }
  }

  std::unique_ptr<XbaseNode> ParseAnd() {
    auto left = ParseNot();
    while (true) {
      size_t at = (SkipBlanks(), pos_);
      if (!AcceptDotted(".AND.")) return left;
      auto right = ParseNot();
      RequireType(*left, XbaseType::kLogical, ".AND.");
      RequireType(*right, XbaseType::kLogical, ".AND.");
      left = Binary(XbaseOp::kAnd, XbaseType::kLogical, at, std::move(left), std::move(right));
    }
  }

  std::unique_ptr<XbaseNode> ParseNot() {
    size_t at = (SkipBlanks(), pos_);
    if (AcceptDotted(".NOT.") || (pos_ < text_.size() && text_[pos_] == '!' &&
                                  text_.substr(pos_, 2) != "!=" && Accept("!"))) {
      auto operand = ParseNot();
      RequireType(*operand, XbaseType::kLogical, ".NOT.");
      auto node = Make(XbaseOp::kNot, XbaseType::kLogical, at);
      node->args.push_back(std::move(operand));
      node->FoldIfConstant();
      return node;
    }
    return ParseComparison();
  }

  std::unique_ptr<XbaseNode> ParseComparison() {
    auto left = ParseSum();
    size_t at = (SkipBlanks(), pos_);
    struct Symbol {
      const char* text;
      XbaseCompare compare;
    };
    static constexpr Symbol kSymbols[] = {
        {"==", XbaseCompare::kExactEqual}, {"<>", XbaseCompare::kNotEqual},
        {"!=", XbaseCompare::kNotEqual},   {"<=", XbaseCompare::kLessEqual},
        {">=", XbaseCompare::kGreaterEqual}, {"=", XbaseCompare::kEqual},
        {"#", XbaseCompare::kNotEqual},    {"<", XbaseCompare::kLess},
        {">", XbaseCompare::kGreater},
    };
    if (Accept("$")) {
      auto right = ParseSum();
      RequireType(*left, XbaseType::kCharacter, "$");
      RequireType(*right, XbaseType::kCharacter, "$");
      return Binary(XbaseOp::kContains, XbaseType::kLogical, at, std::move(left), std::move(right));
    }
    for (const Symbol& symbol : kSymbols) {
      if (!Accept(symbol.text)) continue;
      auto right = ParseSum();
      if (left->type != right->type) {
        Fail(at, Format("%s compares %s with %s", symbol.text, TypeName(left->type),
                        TypeName(right->type)));
      }
      if (left->type == XbaseType::kLogical && symbol.compare != XbaseCompare::kEqual &&
          symbol.compare != XbaseCompare::kExactEqual &&
          symbol.compare != XbaseCompare::kNotEqual) {
        Fail(at, Format("%s cannot order logical values", symbol.text));
      }
      auto node = Make(XbaseOp::kCompare, XbaseType::kLogical, at);
      node->compare = symbol.compare;
      node->args.push_back(std::move(left));
      node->args.push_back(std::move(right));
      node->FoldIfConstant();
      node->PrepareFastPath();
      return node;
    }
    return left;
  }

  std::unique_ptr<XbaseNode> ParseSum() {
    auto left = ParseProduct();
    while (true) {
      size_t at = (SkipBlanks(), pos_);
      bool plus;
      if (Accept("+")) plus = true;
      else if (Accept("-")) plus = false;
      else return left;
      auto right = ParseProduct();
      XbaseType a = left->type, b = right->type;
      using T = XbaseType;
      if (a == T::kCharacter && b == T::kCharacter) {
        left = Binary(plus ? XbaseOp::kConcat : XbaseOp::kConcatMoveBlanks, T::kCharacter, at,
                      std::move(left), std::move(right));
      } else if (a == T::kNumeric && b == T::kNumeric) {
        left = Binary(plus ? XbaseOp::kAdd : XbaseOp::kSub, T::kNumeric, at, std::move(left),
                      std::move(right));
      } else if (a == T::kDate && b == T::kNumeric) {
        left = Binary(plus ? XbaseOp::kDateAddDays : XbaseOp::kDateSubDays, T::kDate, at,
                      std::move(left), std::move(right));
      } else if (plus && a == T::kNumeric && b == T::kDate) {
        left = Binary(XbaseOp::kDateAddDays, T::kDate, at, std::move(left), std::move(right));
      } else if (!plus && a == T::kDate && b == T::kDate) {
        left = Binary(XbaseOp::kDateDiff, T::kNumeric, at, std::move(left), std::move(right));
      } else {
        Fail(at, Format("%c cannot combine %s and %s", plus ? '+' : '-', TypeName(a), TypeName(b)));
      }
    }
  }

  std::unique_ptr<XbaseNode> ParseProduct() {
    auto left = ParseUnary();
    while (true) {
      size_t at = (SkipBlanks(), pos_);
      bool times;
      if (Accept("*")) times = true;
      else if (Accept("/")) times = false;
      else return left;
      auto right = ParseUnary();
      RequireType(*left, XbaseType::kNumeric, times ? "*" : "/");
      RequireType(*right, XbaseType::kNumeric, times ? "*" : "/");
      left = Binary(times ? XbaseOp::kMul : XbaseOp::kDiv, XbaseType::kNumeric, at,
                    std::move(left), std::move(right));
    }
  }

  std::unique_ptr<XbaseNode> ParseUnary() {
    size_t at = (SkipBlanks(), pos_);
    if (Accept("-")) {
      auto operand = ParseUnary();
      RequireType(*operand, XbaseType::kNumeric, "unary -");
      auto node = Make(XbaseOp::kNeg, XbaseType::kNumeric, at);
      node->args.push_back(std::move(operand));
      node->FoldIfConstant();
      return node;
    }
    if (Accept("+")) {
      auto operand = ParseUnary();
      RequireType(*operand, XbaseType::kNumeric, "unary +");
      return operand;
    }
    return ParsePrimary();
  }

  std::unique_ptr<XbaseNode> Constant(size_t at, XbaseValue value, std::string text = {}) {
    auto node = Make(XbaseOp::kConst, value.type, at);
    node->constant_text = std::move(text);
    node->constant = value;
    node->constant.text = node->constant_text;
    return node;
  }

  std::unique_ptr<XbaseNode> ParsePrimary() {
    SkipBlanks();
    size_t at = pos_;
    if (pos_ >= text_.size()) Fail(pos_, "the expression ends where a value is expected");
    char c = text_[pos_];
    if (c == '(') {
      ++pos_;
      auto inner = ParseOr();
      if (!Accept(")")) Fail(pos_, "missing ')'");
      return inner;
    }
    if (c == '\'' || c == '"' || c == '[') {
      // A doubled quote inside the literal stands for one quote, so a value
      // holding an apostrophe can be quoted the way SQL texts are.
      char close = c == '[' ? ']' : c;
      std::string literal;
      size_t from = pos_ + 1;
      while (true) {
        size_t end = text_.find(close, from);
        if (end == std::string_view::npos) Fail(at, "text literal has no closing quote");
        literal.append(text_.substr(from, end - from));
        if (close != ']' && end + 1 < text_.size() && text_[end + 1] == close) {
          literal.push_back(close);
          from = end + 2;
          continue;
        }
        pos_ = end + 1;
        break;
      }
      XbaseValue value;
      value.type = XbaseType::kCharacter;
      return Constant(at, value, std::move(literal));
    }
    if (c == '.') {
      for (const char* word : {".T.", ".Y.", ".F.", ".N."}) {
        if (AcceptDotted(word)) {
          XbaseValue value;
          value.type = XbaseType::kLogical;
          value.logical = word[1] == 'T' || word[1] == 'Y';
          return Constant(at, value);
        }
      }
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && pos_ + 1 < text_.size() &&
         std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
      size_t end = pos_;
      while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) ++end;
      if (end < text_.size() && text_[end] == '.' && end + 1 < text_.size() &&
          std::isdigit(static_cast<unsigned char>(text_[end + 1]))) {
        ++end;
        while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) ++end;
      }
      XbaseValue value;
      value.type = XbaseType::kNumeric;
      value.number = std::strtod(std::string(text_.substr(pos_, end - pos_)).c_str(), nullptr);
      pos_ = end;
      return Constant(at, value);
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::string name = Identifier();
      // "alias->field" names a field of the one table a query runs over.
      if (Accept("->")) {
        SkipBlanks();
        size_t field_at = pos_;
        if (pos_ >= text_.size() ||
            !(std::isalpha(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
          Fail(field_at, "a field name must follow '->'");
        }
        return FieldNode(field_at, Identifier());
      }
      SkipBlanks();
      if (pos_ < text_.size() && text_[pos_] == '(') return FunctionCall(at, name);
      return FieldNode(at, name);
    }
    Fail(at, Format("unexpected '%c'", c));
  }

  std::string Identifier() {
    size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
      ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  std::unique_ptr<XbaseNode> FieldNode(size_t at, const std::string& name) {
    int index = table_ != nullptr ? table_->FieldIndex(name) : -1;
    if (index < 0) Fail(at, Format("unknown field %s", name.c_str()));
    const DbfField& field = table_->Field(index);
    XbaseType type = XbaseType::kCharacter;
    XbaseOp op = XbaseOp::kField;
    switch (field.type) {
      case 'N': case 'F': type = XbaseType::kNumeric; break;
      case 'D': type = XbaseType::kDate; break;
      case 'L': type = XbaseType::kLogical; break;
      case 'M': op = XbaseOp::kMemo; break;
      default: break;
    }
    auto node = Make(op, type, at);
    node->field_type = field.type;
    node->offset = table_->FieldOffset(index);
    node->width = field.width;
    return node;
  }

  std::unique_ptr<XbaseNode> FunctionCall(size_t at, const std::string& name) {
    const FunctionInfo* info = nullptr;
    for (const FunctionInfo& f : kFunctions) {
      if (EqualsNoCase(name, f.name)) info = &f;
    }
    if (info == nullptr) Fail(at, Format("unknown function %s", name.c_str()));
    Accept("(");
    std::vector<std::unique_ptr<XbaseNode>> args;
    if (!Accept(")")) {
      do {
        args.push_back(ParseOr());
      } while (Accept(","));
      if (!Accept(")")) Fail(pos_, Format("missing ')' after the arguments of %s", info->name));
    }
    if (args.size() < info->min_args || args.size() > info->max_args) {
      Fail(at, info->min_args == info->max_args
                   ? Format("%s takes %zu argument%s", info->name, info->min_args,
                            info->min_args == 1 ? "" : "s")
                   : Format("%s takes %zu to %zu arguments", info->name, info->min_args,
                            info->max_args));
    }
    using T = XbaseType;
    T result = T::kCharacter;
    auto require = [&](size_t i, T type) {
      if (args[i]->type != type) {
        Fail(args[i]->position - 1, Format("argument %zu of %s must be %s, not %s", i + 1,
                                           info->name, TypeName(type), TypeName(args[i]->type)));
      }
    };
    switch (info->op) {
      case XbaseOp::kUpper: case XbaseOp::kLower: case XbaseOp::kRtrim:
      case XbaseOp::kLtrim: case XbaseOp::kAlltrim:
        require(0, T::kCharacter);
        break;
      case XbaseOp::kSubstr: case XbaseOp::kLeft: case XbaseOp::kRight:
        require(0, T::kCharacter);
        for (size_t i = 1; i < args.size(); ++i) require(i, T::kNumeric);
        break;
      case XbaseOp::kDtos: case XbaseOp::kDtoc:
        require(0, T::kDate);
        break;
      case XbaseOp::kCtod:
        require(0, T::kCharacter);
        result = T::kDate;
        break;
      case XbaseOp::kStr:
        for (size_t i = 0; i < args.size(); ++i) require(i, T::kNumeric);
        break;
      case XbaseOp::kVal: case XbaseOp::kLen:
        require(0, T::kCharacter);
        result = T::kNumeric;
        break;
      case XbaseOp::kDeleted:
        result = T::kLogical;
        break;
      case XbaseOp::kRecno:
        result = T::kNumeric;
        break;
      case XbaseOp::kToday:
        result = T::kDate;
        break;
      case XbaseOp::kIif:
        require(0, T::kLogical);
        if (args[1]->type != args[2]->type) {
          Fail(args[2]->position - 1, Format("IIF gives %s or %s; both must be of one type",
                                             TypeName(args[1]->type), TypeName(args[2]->type)));
        }
        result = args[1]->type;
        break;
      default:
        break;
    }
    auto node = Make(info->op, result, at);
    node->args = std::move(args);
    node->FoldIfConstant();
    return node;
  }

  std::string_view text_;
  const DbfTable* table_;
  size_t pos_ = 0;
};

// Order-preserving byte encoding of a number: big-endian IEEE bits with the
// sign bit flipped for positives and all bits flipped for negatives.
void AppendSortableNumber(double value, std::string& out) {
  if (value == 0) value = 0;  // -0 sorts with 0
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = (bits & (uint64_t(1) << 63)) ? ~bits : bits | (uint64_t(1) << 63);
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

}  // namespace

std::unique_ptr<XbaseExpression> XbaseExpression::Parse(std::string_view text,
                                                        const DbfTable* table) {
  std::unique_ptr<XbaseExpression> expression(new XbaseExpression());
  expression->text_ = std::string(text);
  Parser parser(expression->text_, table);
  expression->root_ = parser.ParseAll();
  return expression;
}

XbaseExpression::~XbaseExpression() = default;

XbaseType XbaseExpression::type() const { return root_->type; }

void XbaseExpression::RequireLogical() const {
  if (root_->type != XbaseType::kLogical) {
    throw XbaseExpressionError(text_, 1,
                               Format("a filter must be logical, not %s", TypeName(root_->type)));
  }
}

bool XbaseExpression::IsTrue(const XbaseRow& row) const {
  RequireLogical();
  return root_->Test(row);
}

bool XbaseExpression::Holds(const XbaseRow& row) const { return root_->Test(row); }

void XbaseExpression::SelectRows(const XbaseBlock& block, std::vector<uint32_t>* rows) const {
  root_->Select(block, *rows, true);
}

std::string XbaseExpression::ToText(const XbaseRow& row) const {
  XbaseValue value = root_->Eval(row);
  std::string out;
  switch (value.type) {
    case XbaseType::kCharacter:
      return std::string(value.text);
    case XbaseType::kNumeric:
      if (std::fabs(value.number) < 1e15 && value.number == std::trunc(value.number)) {
        return Format("%lld", static_cast<long long>(value.number));
      }
      return Format("%.10g", value.number);
    case XbaseType::kDate:
      xbase_date::ToDigits(value.number, out);
      return out;
    case XbaseType::kLogical:
      return value.logical ? "T" : "F";
  }
  return out;
}

std::string XbaseExpression::SortKey(const XbaseRow& row) const {
  XbaseValue value = root_->Eval(row);
  std::string key;
  switch (value.type) {
    case XbaseType::kCharacter:
      key.assign(value.text);
      break;
    case XbaseType::kNumeric:
    case XbaseType::kDate:
      AppendSortableNumber(value.number, key);
      break;
    case XbaseType::kLogical:
      key.push_back(value.logical ? 'T' : 'F');
      break;
  }
  return key;
}

}  // namespace vigilo
