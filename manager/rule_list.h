// RuleList: the rules a rule list shows, one rule row per item in list order,
// with the list's column sorting. The Setup Rules dialog keeps one for the
// rules of a table, View of Rules one for all rules; the Qt list is a view
// over it. A list holds at most its capacity of rows (32000 in Setup Rules,
// 5000 in View of Rules).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vigilo {

struct RuleRow {
  long rule_id = 0;
  std::string table;  // project and table joined by a backslash
  std::string action;
  std::string target;
  std::string values;
  std::string condition;
  long flag = 0;
  bool disabled = false;  // kept from the service by the Reserved1 mark
  bool operator==(const RuleRow&) const = default;
};

// The columns of a rule list, left to right.
enum class RuleColumn { kRuleId, kTable, kAction, kTarget, kValues, kCondition, kEnabled };
inline constexpr int kRuleColumnCount = 7;

struct RuleColumnSpec {
  RuleColumn column;
  const char* title;
  int width;  // pixels
};
inline constexpr RuleColumnSpec kRuleColumns[kRuleColumnCount] = {
    {RuleColumn::kRuleId, "Rule Id", 50},   {RuleColumn::kTable, "Database\\Table", 100},
    {RuleColumn::kAction, "Action", 50},    {RuleColumn::kTarget, "Target", 80},
    {RuleColumn::kValues, "Values", 160},   {RuleColumn::kCondition, "Condition", 512},
    {RuleColumn::kEnabled, "Enabled", 60},
};

// Rows the two dialogs hold.
inline constexpr size_t kSetupRulesCapacity = 32000;
inline constexpr size_t kViewRulesCapacity = 5000;

// A cell's text: the rule id as a decimal number, Enabled as "Yes" or "No",
// the others as stored.
std::string RuleCellText(const RuleRow& row, RuleColumn column);

// Rules as read from the rule table, in file order, and the order in which a
// list shows them (positions into rows).
struct OrderedRuleRows {
  std::vector<RuleRow> rows;
  std::vector<uint32_t> order;
};

class RuleList {
 public:
  explicit RuleList(size_t capacity) : capacity_(capacity) {}

  size_t capacity() const { return capacity_; }
  // The items shown (all of them while no filter is set).
  size_t size() const { return filtering() ? shown_.size() : items_.size(); }
  bool empty() const { return size() == 0; }
  // Full counts every item, shown or not.
  bool full() const { return items_.size() >= capacity_; }
  // The row of the shown item at a list position.
  const RuleRow& row(size_t item) const {
    return rows_.at(items_.at(filtering() ? shown_.at(item) : item));
  }
  // The row of the rule id among all items, shown or not; null when none.
  const RuleRow* FindRule(long rule_id) const;
  // True when some item, shown or not, holds a row for which match is true.
  template <typename Match>
  bool AnyRow(Match match) const {
    for (uint32_t item : items_) {
      if (match(rows_[item])) return true;
    }
    return false;
  }

  // Empties the list (the remembered sort column and the filter stay: they
  // belong to the dialog, not to the rules shown).
  void Clear() {
    rows_.clear();
    items_.clear();
    shown_.clear();
  }

  // Appends one item per row read from the rule table, in their order, after
  // the existing ones, as far as the capacity allows. Returns the number of
  // rows that did not fit.
  size_t AddRows(OrderedRuleRows rows);
  // Appends one row; false when the list is full.
  bool Append(RuleRow row);
  void Remove(size_t item);  // REQUIRES: item < size()
  // Removes every item of the rule id, shown or not.
  void RemoveRule(long rule_id);
  // Marks every row of the rule id enabled or disabled.
  void SetRuleDisabled(long rule_id, bool disabled);

  // Shows only the items with the text, case ignored, in any column's cell
  // text; an empty text shows every item. An item appended while a filter is
  // set is shown until the filter or the order changes, so an added rule is
  // never hidden at once.
  void SetFilter(const std::string& text);
  const std::string& filter() const { return filter_; }

  // A click on a column header: ascending when the column differs from the
  // remembered one (which it then becomes), descending when it is the same
  // (and it is forgotten, so the next click sorts ascending again). Rule ids
  // compare as numbers, the other columns as text without regard to case.
  void ColumnClick(RuleColumn column);
  // The remembered column; -1 for none.
  int sorted_column() const { return sorted_column_; }
  // The column of the last sort and whether it was descending, for the
  // header's arrow; -1 before any sort.
  int last_sorted_column() const { return last_sorted_column_; }
  bool last_sort_descending() const { return last_sort_descending_; }

 private:
  size_t capacity_;
  // The row buffer, and per list item (in list order) its row there: sorting
  // moves items, never rows. A removed item's row stays unused in the buffer
  // until the list is emptied, so the buffer may hold up to twice the
  // capacity after many removals.
  std::vector<RuleRow> rows_;
  std::vector<uint32_t> items_;
  int sorted_column_ = -1;
  int last_sorted_column_ = -1;
  bool last_sort_descending_ = false;

  void SortItems(RuleColumn column, bool descending);
  bool filtering() const { return !filter_.empty(); }
  void ApplyFilter();
  // The filter folded to small letters, and the positions in items_ of the
  // items it shows.
  std::string filter_;
  std::vector<uint32_t> shown_;
};

}  // namespace vigilo
