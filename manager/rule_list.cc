#include "manager/rule_list.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "common/format.h"
#include "common/text.h"

namespace vigilo {
namespace {

// Negative, zero or positive as a sorts before, with or after b, letter case
// ignored.
int CompareNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
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

int CompareRows(const RuleRow& a, const RuleRow& b, RuleColumn column) {
  if (column == RuleColumn::kRuleId) {
    return a.rule_id < b.rule_id ? -1 : (a.rule_id > b.rule_id ? 1 : 0);
  }
  return CompareNoCase(ColumnText(a, column), ColumnText(b, column));
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
  size_t room = capacity_ > rows_.size() ? capacity_ - rows_.size() : 0;
  size_t taken = std::min(room, lines.size());
  rows_.reserve(rows_.size() + taken);
  for (size_t i = 0; i < taken; ++i) rows_.push_back(ParseRuleLine(lines[i], form));
  return lines.size() - taken;
}

size_t RuleList::AddRows(std::vector<RuleRow> rows) {
  size_t room = capacity_ > rows_.size() ? capacity_ - rows_.size() : 0;
  size_t taken = std::min(room, rows.size());
  rows_.reserve(rows_.size() + taken);
  std::move(rows.begin(), rows.begin() + static_cast<long>(taken), std::back_inserter(rows_));
  return rows.size() - taken;
}

bool RuleList::Append(RuleRow row) {
  if (full()) return false;
  rows_.push_back(std::move(row));
  return true;
}

void RuleList::Remove(size_t item) { rows_.erase(rows_.begin() + static_cast<long>(item)); }

void RuleList::ColumnClick(RuleColumn column) {
  int index = static_cast<int>(column);
  bool descending = index == sorted_column_;
  sorted_column_ = descending ? -1 : index;
  std::stable_sort(rows_.begin(), rows_.end(), [&](const RuleRow& a, const RuleRow& b) {
    int order = CompareRows(a, b, column);
    return descending ? order > 0 : order < 0;
  });
}

}  // namespace vigilo
