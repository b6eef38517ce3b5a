// The typed tree of a parsed xBase expression and its evaluation against a
// record. The parser (xbase_expression.cc) builds and type-checks the tree;
// xbase_node.cc evaluates it. Internal to platform/xbase.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/xbase_expression.h"

namespace vigilo {

// One value during evaluation. Texts are views into the record, a node's
// scratch buffer or a constant, valid until the node is evaluated again.
// Dates are day numbers (Julian day; 0 is the blank date).
struct XbaseValue {
  XbaseType type = XbaseType::kLogical;
  std::string_view text;
  double number = 0;
  bool logical = false;
};

enum class XbaseOp {
  kConst, kField, kMemo, kRecno, kDeleted, kToday,
  kNot, kAnd, kOr, kCompare, kContains,
  kConcat, kConcatMoveBlanks, kAdd, kSub, kMul, kDiv, kNeg,
  kDateAddDays, kDateSubDays, kDateDiff,
  kUpper, kLower, kRtrim, kLtrim, kAlltrim, kSubstr, kLeft, kRight,
  kDtos, kDtoc, kCtod, kStr, kVal, kLen, kIif,
};

enum class XbaseCompare { kEqual, kExactEqual, kNotEqual, kLess, kGreater, kLessEqual, kGreaterEqual };

struct XbaseNode {
  XbaseOp op = XbaseOp::kConst;
  XbaseType type = XbaseType::kLogical;
  size_t position = 0;  // 1-based, for messages
  XbaseCompare compare = XbaseCompare::kEqual;
  char field_type = 'C';  // kField: the field's dBase type
  size_t offset = 0;      // kField, kMemo: byte offset in the record
  size_t width = 0;       // kField, kMemo: field width
  std::vector<std::unique_ptr<XbaseNode>> args;
  XbaseValue constant;    // kConst; its text views constant_text
  std::string constant_text;
  mutable std::string scratch;
  // kCompare of a character field (or UPPER of one) with a constant text:
  // compared straight from the record bytes, the common filter shape.
  // A numeric field compared with a constant number is parsed in place.
  enum class FastPath { kNone, kField, kUpperField, kDateTextField, kNumberField } fast_path = FastPath::kNone;
  // Copied from the field and the constant so the fast path follows no
  // pointers.
  size_t fast_offset = 0;
  size_t fast_width = 0;
  std::string_view fast_text;
  double fast_number = 0;
  // kNumberField with a whole constant of up to eight digits: the field's
  // last eight bytes as the library writes that number (blank-padded).
  bool fast_whole_word = false;
  uint64_t fast_word = 0;

  XbaseValue Eval(const XbaseRow& row) const;
  // Value of a logical node; the per-record path of a filter, returning a
  // plain bool for the connectors and comparisons.
  bool Test(const XbaseRow& row) const;
  // Keeps the rows of the block the node holds for (see
  // XbaseExpression::SelectRows); first: rows is not filled yet and stands
  // for every record of the block (less the deleted ones when the block
  // leaves them out).
  void Select(const XbaseBlock& block, std::vector<uint32_t>& rows, bool first) const;
  // The operations a filter rarely spends its time in, kept out of Eval so
  // the hot path stays small.
  XbaseValue EvalOther(const XbaseRow& row) const;
  // Select of a comparison with a fast path; of an .AND. of two date-text
  // comparisons of one field (a date range), in one pass.
  void SelectCompare(const XbaseBlock& block, std::vector<uint32_t>& rows, bool first) const;
  bool SelectDateRange(const XbaseBlock& block, std::vector<uint32_t>& rows, bool first) const;
  // Chooses the fast path of a comparison node; called once after parsing it.
  void PrepareFastPath();
  // Replaces the node by its value when it depends on no record or clock.
  void FoldIfConstant();
};

// Date helpers shared by the parser and the evaluator.
namespace xbase_date {
// Whether digits is a valid CCYYMMDD date.
bool ValidDigits(std::string_view digits);
// Day number of a CCYYMMDD text; 0 for a blank or invalid date.
double FromDigits(std::string_view digits);
// CCYYMMDD of a day number; 8 blanks for the blank date. Writes into out.
void ToDigits(double day, std::string& out);
// Day number of a MM/DD/YY or MM/DD/CCYY text ("-" and "." also separate);
// 0 when invalid. Two-digit years below 50 are 20YY, others 19YY.
double FromPicture(std::string_view text);
double Today();
}  // namespace xbase_date

// dBase text comparison with SET EXACT OFF (see xbase_expression.h).
int CompareXbaseText(std::string_view left, std::string_view right);

}  // namespace vigilo
