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
  return filter_ == nullptr || filter_->Holds(XbaseRow{bytes, recno, &table_});
}

bool DbfQuery::NextMatch() {
  while (position_ >= matches_.size()) {
    if (order_ != nullptr || scanned_to_ >= scan_end_) {
      table_.Read(0);
      return false;
    }
    uint32_t from = scanned_to_ + 1;
    // One batch is one block of the table's read cache, so making the
    // batch's matches current reads nothing again.
    uint32_t batch = table_.RecordsPerBlock();
    uint32_t to = scan_end_ - from < batch ? scan_end_ : from + batch - 1;
    matches_.clear();
    position_ = 0;
    table_.ScanBlocks(from, to, [&](uint32_t first, const char* bytes, uint32_t count) {
      const size_t length = table_.record_length();
      const bool all = table_.showing_deleted();
      if (filter_ != nullptr) {
        filter_->SelectRows(XbaseBlock{bytes, length, count, first, &table_, !all}, &rows_);
      } else {
        rows_.resize(count);
        size_t kept = 0;
        for (uint32_t i = 0; i < count; ++i) {
          rows_[kept] = i;
          kept += all || bytes[size_t(i) * length] != '*';
        }
        rows_.resize(kept);
      }
      const size_t before = matches_.size();
      matches_.resize(before + rows_.size());
      std::transform(rows_.begin(), rows_.end(), matches_.begin() + before,
                     [first](uint32_t i) { return first + i; });
      return true;
    });
    scanned_to_ = to;
  }
  if (table_.Read(matches_[position_++])) return true;
  table_.Read(0);
  return false;
}

bool DbfQuery::QueryFirst() {
  table_.Read(0);  // writes a pending change, leaves no current record
  scan_end_ = table_.RecordCount();
  scanned_to_ = 0;
  matches_.clear();
  position_ = 0;
  if (order_ != nullptr) {
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
  }
  return NextMatch();
}

bool DbfQuery::QueryNext() { return NextMatch(); }

}  // namespace vigilo
