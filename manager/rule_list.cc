#include "manager/rule_list.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "common/format.h"
#include "common/text.h"
#include "manager/list_filter.h"

namespace vigilo {
namespace {

// The text with ASCII capitals made small, for comparing without regard to
// case (the locale's tolower per character costs more than the whole sort).
const std::string& ColumnText(const RuleRow& row, RuleColumn column) {
  switch (column) {
    case RuleColumn::kTable: return row.table;
    case RuleColumn::kAction: return row.action;
    case RuleColumn::kTarget: return row.target;
    case RuleColumn::kValues: return row.values;
    case RuleColumn::kCondition:
    case RuleColumn::kRuleId:
    case RuleColumn::kEnabled: break;
  }
  return row.condition;
}

}  // namespace

std::string RuleCellText(const RuleRow& row, RuleColumn column) {
  if (column == RuleColumn::kRuleId) return Format("%ld", row.rule_id);
  if (column == RuleColumn::kEnabled) return row.disabled ? "No" : "Yes";
  return ColumnText(row, column);
}

namespace {

constexpr RuleColumn kAllColumns[] = {RuleColumn::kRuleId, RuleColumn::kTable,
                                      RuleColumn::kAction, RuleColumn::kTarget,
                                      RuleColumn::kValues, RuleColumn::kCondition,
                                      RuleColumn::kEnabled};

bool RowHas(const RuleRow& row, const std::string& folded) {
  for (RuleColumn column : kAllColumns) {
    if (MatchesFilter(RuleCellText(row, column), folded)) return true;
  }
  return false;
}

}  // namespace

const RuleRow* RuleList::FindRule(long rule_id) const {
  for (uint32_t item : items_) {
    if (rows_[item].rule_id == rule_id) return &rows_[item];
  }
  return nullptr;
}

void RuleList::ApplyFilter() {
  shown_.clear();
  if (!filtering()) return;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (RowHas(rows_[items_[i]], filter_)) shown_.push_back(static_cast<uint32_t>(i));
  }
}

void RuleList::SetFilter(const std::string& text) {
  filter_ = ToLower(text);
  ApplyFilter();
}

void RuleList::RemoveRule(long rule_id) {
  std::erase_if(items_, [&](uint32_t item) { return rows_[item].rule_id == rule_id; });
  ApplyFilter();
}

void RuleList::SetRuleDisabled(long rule_id, bool disabled) {
  for (uint32_t item : items_) {
    if (rows_[item].rule_id == rule_id) rows_[item].disabled = disabled;
  }
}

size_t RuleList::AddRows(OrderedRuleRows rows) {
  size_t room = capacity_ > items_.size() ? capacity_ - items_.size() : 0;
  size_t taken = std::min(room, rows.order.size());
  size_t first = rows_.size();
  if (rows_.empty()) {
    rows_ = std::move(rows.rows);
  } else {
    std::move(rows.rows.begin(), rows.rows.end(), std::back_inserter(rows_));
  }
  // Rows past the capacity stay in the buffer unused until the list is emptied.
  items_.reserve(items_.size() + taken);
  for (size_t i = 0; i < taken; ++i) {
    items_.push_back(static_cast<uint32_t>(first + rows.order[i]));
  }
  ApplyFilter();
  return rows.order.size() - taken;
}

bool RuleList::Append(RuleRow row) {
  if (full()) return false;
  // A buffer left full of removed rows is compacted first.
  if (rows_.size() >= 2 * capacity_) {
    std::vector<RuleRow> kept;
    kept.reserve(items_.size());
    for (uint32_t& item : items_) {
      kept.push_back(std::move(rows_[item]));
      item = static_cast<uint32_t>(kept.size() - 1);
    }
    rows_.swap(kept);
  }
  rows_.push_back(std::move(row));
  items_.push_back(static_cast<uint32_t>(rows_.size() - 1));
  if (filtering()) shown_.push_back(static_cast<uint32_t>(items_.size() - 1));
  return true;
}

void RuleList::Remove(size_t item) {
  size_t position = filtering() ? shown_.at(item) : item;
  items_.erase(items_.begin() + static_cast<long>(position));
  if (!filtering()) return;
  // Later positions move one place up.
  shown_.erase(shown_.begin() + static_cast<long>(item));
  for (size_t i = item; i < shown_.size(); ++i) --shown_[i];
}

void RuleList::ColumnClick(RuleColumn column) {
  int index = static_cast<int>(column);
  bool descending = index == sorted_column_;
  sorted_column_ = descending ? -1 : index;
  last_sorted_column_ = index;
  last_sort_descending_ = descending;
  SortItems(column, descending);
  ApplyFilter();
}

void RuleList::SortItems(RuleColumn column, bool descending) {
  if (column == RuleColumn::kRuleId) {
    std::stable_sort(items_.begin(), items_.end(), [&](uint32_t a, uint32_t b) {
      return descending ? rows_[b].rule_id < rows_[a].rule_id
                        : rows_[a].rule_id < rows_[b].rule_id;
    });
    return;
  }
  // Keys by row; rows of removed items get none and are never compared.
  std::vector<std::string> keys(rows_.size());
  for (uint32_t item : items_) {
    keys[item] = column == RuleColumn::kEnabled ? ToLower(RuleCellText(rows_[item], column))
                                                : ToLower(ColumnText(rows_[item], column));
  }
  std::stable_sort(items_.begin(), items_.end(), [&](uint32_t a, uint32_t b) {
    return descending ? keys[b] < keys[a] : keys[a] < keys[b];
  });
}

}  // namespace vigilo
