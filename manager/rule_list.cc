#include "manager/rule_list.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "common/format.h"
#include "common/text.h"

namespace vigilo {
namespace {

// The text with ASCII capitals made small, for comparing without regard to
// case (the locale's tolower per character costs more than the whole sort).
std::string Folded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

const std::string& ColumnText(const RuleRow& row, RuleColumn column) {
  switch (column) {
    case RuleColumn::kTable: return row.table;
    case RuleColumn::kAction: return row.action;
    case RuleColumn::kTarget: return row.target;
    case RuleColumn::kValues: return row.values;
    case RuleColumn::kCondition:
    case RuleColumn::kRuleId: break;
  }
  return row.condition;
}

}  // namespace

RuleRow ParseRuleLine(const std::string& line, RuleLineForm form) {
  RuleRow row;
  std::vector<std::string> pieces = SplitText(line, '|');
  // The last piece is what follows the last "|": never a stored field.
  size_t stored = pieces.empty() ? 0 : pieces.size() - 1;
  auto piece = [&](size_t i) -> const std::string* { return i < stored ? &pieces[i] : nullptr; };
  size_t i = 0;
  if (auto* p = piece(i++)) row.rule_id = LeadingNumber(*p);
  if (form == RuleLineForm::kSixField) {
    if (auto* p = piece(i++)) row.table = *p;
  }
  if (auto* p = piece(i++)) row.action = *p;
  if (auto* p = piece(i++)) row.target = *p;
  if (auto* p = piece(i++)) row.values = *p;
  if (auto* p = piece(i++)) row.condition = *p;
  if (auto* p = piece(i++)) row.flag = LeadingNumber(*p);
  return row;
}

std::string FiveFieldRuleLine(const RuleRow& row) {
  return Format("%ld|%s|%s|%s|%s|%ld|", row.rule_id, row.action.c_str(), row.target.c_str(),
                row.values.c_str(), row.condition.c_str(), row.flag);
}

std::string SixFieldRuleLine(const RuleRow& row) {
  return Format("%ld|%s|%s|%s|%s|%s|%ld", row.rule_id, row.table.c_str(), row.action.c_str(),
                row.target.c_str(), row.values.c_str(), row.condition.c_str(), row.flag);
}

std::string RuleCellText(const RuleRow& row, RuleColumn column) {
  if (column == RuleColumn::kRuleId) return Format("%ld", row.rule_id);
  return ColumnText(row, column);
}

size_t RuleList::AddLines(const std::vector<std::string>& lines, RuleLineForm form) {
  size_t room = capacity_ > items_.size() ? capacity_ - items_.size() : 0;
  size_t taken = std::min(room, lines.size());
  for (size_t i = 0; i < taken; ++i) Append(ParseRuleLine(lines[i], form));
  return lines.size() - taken;
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
  return true;
}

void RuleList::Remove(size_t item) { items_.erase(items_.begin() + static_cast<long>(item)); }

void RuleList::ColumnClick(RuleColumn column) {
  int index = static_cast<int>(column);
  bool descending = index == sorted_column_;
  sorted_column_ = descending ? -1 : index;

  if (column == RuleColumn::kRuleId) {
    std::stable_sort(items_.begin(), items_.end(), [&](uint32_t a, uint32_t b) {
      return descending ? rows_[b].rule_id < rows_[a].rule_id
                        : rows_[a].rule_id < rows_[b].rule_id;
    });
    return;
  }
  // Keys by row; rows of removed items get none and are never compared.
  std::vector<std::string> keys(rows_.size());
  for (uint32_t item : items_) keys[item] = Folded(ColumnText(rows_[item], column));
  std::stable_sort(items_.begin(), items_.end(), [&](uint32_t a, uint32_t b) {
    return descending ? keys[b] < keys[a] : keys[a] < keys[b];
  });
}

}  // namespace vigilo
