#include "platform/xbase/dbf_query.h"

#include <algorithm>
#include <numeric>

#include "common/text.h"

namespace vigilo {

DbfQuery::DbfQuery(DbfTable& table) : table_(table) {}

DbfQuery::~DbfQuery() = default;

void DbfQuery::SetQuery(std::string_view filter) {
  filter_text_ = std::string(filter);
  if (Trimmed(filter).empty()) {
    filter_.reset();
    return;
  }
  auto parsed = XbaseExpression::Parse(filter, &table_);
  parsed->RequireLogical();
  filter_ = std::move(parsed);
}

void DbfQuery::SetRelationOrder(std::string_view order) {
  if (Trimmed(order).empty()) {
    order_.reset();
    return;
  }
  order_ = XbaseExpression::Parse(order, &table_);
}

bool DbfQuery::Matches(uint32_t recno, std::string_view bytes) {
  if (!table_.showing_deleted() && !bytes.empty() && bytes[0] == '*') return false;
  return filter_ == nullptr || filter_->IsTrue(XbaseRow{bytes, recno, &table_});
}

bool DbfQuery::ScanFrom(uint32_t from) {
  uint32_t found = 0;
  table_.Scan(from, scan_end_, [&](uint32_t recno, std::string_view bytes) {
    if (!Matches(recno, bytes)) return true;
    found = recno;
    return false;
  });
  last_match_ = found == 0 ? scan_end_ : found;
  if (found == 0 || !table_.Read(found)) {
    table_.Read(0);
    return false;
  }
  return true;
}

bool DbfQuery::QueryFirst() {
  table_.Read(0);  // writes a pending change, leaves no current record
  scan_end_ = table_.RecordCount();
  matches_.clear();
  position_ = 0;
  if (order_ == nullptr) return ScanFrom(1);

  std::vector<std::string> keys;
  table_.Scan(1, scan_end_, [&](uint32_t recno, std::string_view bytes) {
    if (Matches(recno, bytes)) {
      matches_.push_back(recno);
      keys.push_back(order_->SortKey(XbaseRow{bytes, recno, &table_}));
    }
    return true;
  });
  std::vector<size_t> index(matches_.size());
  std::iota(index.begin(), index.end(), 0);
  std::stable_sort(index.begin(), index.end(),
                   [&](size_t a, size_t b) { return keys[a] < keys[b]; });
  std::vector<uint32_t> sorted;
  sorted.reserve(index.size());
  for (size_t i : index) sorted.push_back(matches_[i]);
  matches_ = std::move(sorted);
  return !matches_.empty() && table_.Read(matches_[0]);
}

bool DbfQuery::QueryNext() {
  if (order_ == nullptr) {
    if (last_match_ == 0 || last_match_ >= scan_end_) {
      table_.Read(0);
      return false;
    }
    return ScanFrom(last_match_ + 1);
  }
  if (position_ + 1 >= matches_.size()) {
    position_ = matches_.size();
    table_.Read(0);
    return false;
  }
  return table_.Read(matches_[++position_]);
}

}  // namespace vigilo
