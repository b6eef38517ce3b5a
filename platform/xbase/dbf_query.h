// DbfQuery: a query over one open table (the "relation" of the rule engine):
// an xBase filter expression, an optional order expression, and first / next
// match. A match makes its record the table's current record, so its fields
// are read through the table (FieldText, Text, ...).
//
// Deleted records never match unless the table shows deleted records
// (DbfTable::ShowDeleted). The table must outlive the query.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/dbf_table.h"
#include "platform/xbase/xbase_expression.h"

namespace vigilo {

class DbfQuery {
 public:
  explicit DbfQuery(DbfTable& table);  // OpenRelation
  ~DbfQuery();

  // Sets the filter; an empty or blank text matches every record. Throws
  // XbaseExpressionError on a syntax error or a filter that is not logical.
  void SetQuery(std::string_view filter);
  // Sets the order: an xBase expression (a field or tag name is one), or an
  // empty text for record order. Throws XbaseExpressionError.
  void SetRelationOrder(std::string_view order);

  // Runs the query from the start: true when a matching record is current.
  // Records appended later by another writer are seen at the next
  // QueryFirst. Without an order, records are examined in batches (a read
  // block, 256 KB) as the query moves on, the filter a block at a time; with
  // an order, all at QueryFirst.
  bool QueryFirst();
  // Moves to the next match: true while a further match is current.
  bool QueryNext();

  const std::string& filter() const { return filter_text_; }

 private:
  DbfTable& table_;
  std::string filter_text_;
  std::unique_ptr<XbaseExpression> filter_;
  std::unique_ptr<XbaseExpression> order_;
  // Ordered queries collect every match at QueryFirst; unordered ones
  // collect the matches of the next batch of records whenever the previous
  // batch is used up, up to the record count read at QueryFirst.
  std::vector<uint32_t> matches_;
  size_t position_ = 0;     // next entry of matches_ to make current
  uint32_t scanned_to_ = 0;  // last record examined (unordered)
  uint32_t scan_end_ = 0;
  std::vector<uint32_t> rows_;  // positions in a block that may still match
  bool Matches(uint32_t recno, std::string_view bytes);
  bool NextMatch();
};

}  // namespace vigilo
