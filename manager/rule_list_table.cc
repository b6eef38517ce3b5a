#include "manager/rule_list_table.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "common/file_system.h"
#include "common/format.h"

namespace vigilo {
namespace {

// The records meeting the filter; an error only for a table that opens but
// cannot be read.
std::vector<RuleRecord> ReadListed(const std::string& path, const std::string& filter,
                                   std::string* error) {
  std::vector<RuleRecord> records;
  RuleTableStatus status = ReadRuleTable(path, &records, filter);
  if (status.code == RuleTableStatus::Code::kDamaged && error != nullptr) {
    *error = status.message;
  }
  return records;
}

// Texts compared as the table orders its character fields: byte by byte, as
// if both were blank-padded to one width.
bool PaddedLess(const std::string& a, const std::string& b) {
  size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    unsigned char cb = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
    if (ca != cb) return ca < cb;
  }
  return false;
}

// The rows' positions stably ordered by less.
template <typename Less>
std::vector<uint32_t> StableOrder(size_t count, Less less) {
  std::vector<uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), less);
  return order;
}

}  // namespace

RuleRow RuleRowOf(const RuleRecord& record) {
  RuleRow row;
  row.rule_id = record.rule_id;
  row.table = record.db_table;
  row.action = record.action;
  row.target = record.target;
  row.values = record.values;
  row.condition = record.cond;
  row.flag = record.flag;
  row.disabled = record.disabled();
  return row;
}

OrderedRuleRows ReadAllRules(const std::string& path, std::string* error) {
  OrderedRuleRows read;
  std::vector<RuleRow>& rows = read.rows;
  for (const RuleRecord& record : ReadListed(path, ListedRulesFilter(), error)) {
    rows.push_back(RuleRowOf(record));
  }
  // Ordered by DbTable; rules of one table in file order.
  read.order = StableOrder(rows.size(), [&](uint32_t a, uint32_t b) {
    return PaddedLess(rows[a].table, rows[b].table);
  });
  return read;
}

OrderedRuleRows ReadTableRules(const std::string& path, long kind, const std::string& dsn,
                               const std::string& table, std::string* error) {
  OrderedRuleRows read;
  std::vector<RuleRow>& rows = read.rows;
  for (const RuleRecord& record : ReadListed(path, RuleTableFilter(kind, dsn, table), error)) {
    rows.push_back(RuleRowOf(record));
    rows.back().table.clear();
  }
  read.order = StableOrder(rows.size(), [&](uint32_t a, uint32_t b) {
    return rows[a].rule_id < rows[b].rule_id;
  });
  return read;
}

// The summary line keeps its long-standing template, whose "0" flag the
// precision makes redundant: ids print with at least three digits either way.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
std::vector<std::string> ReadRuleSummaryLines(const std::string& path, std::string* error) {
  std::vector<std::pair<long, std::string>> numbered;
  for (const RuleRecord& r : ReadListed(path, ListedRulesFilter(), error)) {
    const long rule_id = r.rule_id;
    std::string line = Format("%03.3ld %s %s %s", rule_id, r.action.c_str(), r.target.c_str(),
                              r.values.c_str());
    if (!r.cond.empty()) line = Format("%s if %s", line.c_str(), r.cond.c_str());
    numbered.emplace_back(rule_id, std::move(line));
  }
  std::stable_sort(numbered.begin(), numbered.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> lines;
  lines.reserve(numbered.size());
  for (auto& entry : numbered) lines.push_back(std::move(entry.second));
  return lines;
}
#pragma GCC diagnostic pop

}  // namespace vigilo
