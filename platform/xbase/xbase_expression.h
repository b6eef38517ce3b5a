// XbaseExpression: an xBase (dBase) expression parsed once into a typed tree
// and evaluated per record against the record's raw bytes. Used for query
// filters ("GrpName = 'dev    '", "(UPPER(Dsn) = UPPER('BUGS   ')) .AND.
// (DbType = 1)") and order keys.
//
// The language: field names (case-insensitive), 'text', "text" and [text]
// literals (a doubled quote inside '' or "" stands for one: 'O''Brien'),
// numbers, .T./.F./.Y./.N., parentheses; unary + and -, * and /, + and - on
// texts (- moves the left text's trailing blanks to the end), numbers and
// dates (date + days, date - days, date - date); = == <> # != < > <= >= $;
// .NOT. .AND. .OR. (lowest); functions UPPER LOWER TRIM RTRIM LTRIM ALLTRIM
// SUBSTR LEFT RIGHT DTOS CTOD STR VAL LEN DELETED RECNO IIF DATE.
//
// Text comparison follows dBase with SET EXACT OFF: the left text is compared
// up to the length of the right text, trailing blanks counted; a left text
// shorter than the right one is compared as if blank-padded. "==" compares the
// whole texts exactly.
//
// Types are checked when parsing, so a type error is reported once with its
// position, never as a silent "no match". Not thread-safe: evaluation reuses
// per-node scratch buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/dbf_error.h"

namespace vigilo {

class DbfTable;
struct XbaseNode;

enum class XbaseType { kCharacter, kNumeric, kDate, kLogical };

// The record an expression is evaluated against. table may be null when the
// expression names no memo field and uses no DELETED().
struct XbaseRow {
  std::string_view bytes;  // the whole record, deletion flag first
  uint32_t recno = 0;
  DbfTable* table = nullptr;
};

// Records one after the other, as a table's read block holds them.
struct XbaseBlock {
  const char* bytes = nullptr;
  size_t record_length = 0;
  uint32_t count = 0;
  uint32_t first_recno = 0;  // the record number of the first record
  DbfTable* table = nullptr;
  bool skip_deleted = false;  // deleted records are never selected
};

class XbaseExpression {
 public:
  // Parses text; field names are resolved against table's fields (table may
  // be null for expressions without fields). Throws XbaseExpressionError.
  static std::unique_ptr<XbaseExpression> Parse(std::string_view text,
                                                const DbfTable* table);
  ~XbaseExpression();

  const std::string& text() const { return text_; }
  XbaseType type() const;

  // Value of a logical expression. Throws XbaseExpressionError when the
  // expression is not logical (checked at parse time by callers that need it
  // via RequireLogical) and DbfError when a memo cannot be read.
  bool IsTrue(const XbaseRow& row) const;
  // The same without the type check, for a filter already checked with
  // RequireLogical (the per-record call of a scan).
  bool Holds(const XbaseRow& row) const;
  // Sets rows to the positions in the block (ascending) of the records the
  // expression holds for, deleted records left out when block.skip_deleted:
  // each node of the filter makes one pass over the rows still in question
  // (the first over the whole block), instead of the whole tree being walked
  // once per record. For a filter checked with RequireLogical.
  void SelectRows(const XbaseBlock& block, std::vector<uint32_t>* rows) const;
  // Throws XbaseExpressionError unless the expression is logical.
  void RequireLogical() const;

  // The value as text as dBase would show it: texts as they are, numbers
  // without trailing zeros after the point, dates CCYYMMDD, logicals T/F.
  std::string ToText(const XbaseRow& row) const;

  // A byte string whose byte-wise order is the value's order (texts as they
  // are, numbers and dates encoded order-preservingly), for sorting.
  std::string SortKey(const XbaseRow& row) const;

 private:
  XbaseExpression() = default;
  std::string text_;
  std::unique_ptr<XbaseNode> root_;
};

}  // namespace vigilo
