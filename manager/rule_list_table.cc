#include "manager/rule_list_table.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <numeric>
#include <utility>

#include "common/file_system.h"
#include "common/format.h"
#include "platform/xbase/dbf_query.h"

namespace vigilo {
namespace {

// Field positions in the rule table the rule manager creates; tables written
// by others are read by name.
struct RuleFields {
  int rule_id, db_type, dsn, db_table, action, target, values, cond, flag;

  explicit RuleFields(const DbfTable& table)
      : rule_id(Require(table, "RuleId")),
        db_type(Require(table, "DbType")),
        dsn(Require(table, "Dsn")),
        db_table(Require(table, "DbTable")),
        action(Require(table, "Action")),
        target(Require(table, "Target")),
        values(Require(table, "Values")),
        cond(Require(table, "Cond")),
        flag(Require(table, "Flag")) {
    for (size_t i = 0; i < reserved_.size(); ++i) {
      reserved_[i] = table.FieldIndex(Format("Reserved%zu", i + 1));
    }
  }

  // Reserved1 to Reserved5, -1 each where a table written by others lacks it.
  std::array<int, 5> reserved() const { return reserved_; }

  static int Require(const DbfTable& table, const char* name) {
    int index = table.FieldIndex(name);
    if (index < 0) throw DbfError(Format("%s: no field %s", table.path().c_str(), name));
    return index;
  }

 private:
  std::array<int, 5> reserved_{};
};

std::unique_ptr<DbfTable> OpenForReading(const std::string& path) {
  if (!OpensForReadWrite(path)) return nullptr;
  try {
    return DbfTable::Open(path, false);
  } catch (const DbfError&) {
    return nullptr;
  }
}

// Calls visit for every record meeting the filter, in record order (the
// query then reads the file block by block; an ordered query would read a
// block per record). Errors (a damaged table, a filter the table cannot
// evaluate) end the reading; what was read so far stands.
template <typename Visit>
void ForEachMatch(const std::string& path, const std::string& filter, Visit&& visit,
                  const std::function<void(size_t)>& reserve = [](size_t) {}) {
  std::unique_ptr<DbfTable> table = OpenForReading(path);
  if (!table) return;
  try {
    RuleFields fields(*table);
    reserve(table->RecordCount());
    DbfQuery query(*table);
    query.SetQuery(filter);
    for (bool found = query.QueryFirst(); found; found = query.QueryNext()) {
      visit(*table, fields);
    }
  } catch (const std::exception&) {
  }
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

// A character field's text without its trailing blanks, made once.
std::string CharText(DbfTable& table, int index) {
  if (table.Field(index).type != 'C') return table.Text(index);
  std::string_view raw = table.Raw(index);
  size_t end = raw.find_last_not_of(' ');
  return std::string(raw.substr(0, end == std::string_view::npos ? 0 : end + 1));
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

std::vector<DbfField> NewRuleTableFields() {
  return {
      {"RuleId", 'N', 8, 0},     {"DbType", 'N', 8, 0},     {"Dsn", 'C', kDsnWidth, 0},
      {"DbTable", 'C', kDbTableWidth, 0}, {"Action", 'C', kActionWidth, 0},
      {"Target", 'C', kTargetWidth, 0},   {"Values", 'C', kValuesWidth, 0},
      {"Cond", 'C', kCondWidth, 0},       {"Flag", 'N', 8, 0},
      {"Reserved1", 'C', 32, 0}, {"Reserved2", 'C', 32, 0}, {"Reserved3", 'C', 32, 0},
      {"Reserved4", 'C', 32, 0}, {"Reserved5", 'C', 32, 0},
  };
}

std::vector<std::string> NewRuleTableTags() { return {"RuleId", "DbTable", "Action", "Target"}; }

OrderedRuleRows ReadAllRules(const std::string& path) {
  OrderedRuleRows read;
  std::vector<RuleRow>& rows = read.rows;
  ForEachMatch(path, Format("(RuleId > %ld)", 0L),
               [&](DbfTable& t, const RuleFields& f) {
                 RuleRow& row = rows.emplace_back();
                 row.rule_id = t.FieldLong(f.rule_id);
                 row.table = CharText(t, f.db_table);
                 row.action = CharText(t, f.action);
                 row.target = CharText(t, f.target);
                 row.values = CharText(t, f.values);
                 row.condition = CharText(t, f.cond);
                 row.flag = t.FieldLong(f.flag);
               },
               [&](size_t count) { rows.reserve(count); });
  // Ordered by DbTable; rules of one table in file order.
  read.order = StableOrder(rows.size(), [&](uint32_t a, uint32_t b) {
    return PaddedLess(rows[a].table, rows[b].table);
  });
  return read;
}

std::string TableRulesFilter(long kind, const std::string& dsn, const std::string& table) {
  return Format(
      "(DbType = %ld) .AND. (UPPER(Dsn) = UPPER('%s   ')) .AND. (UPPER(DbTable) = UPPER('%s    '))",
      kind, dsn.c_str(), table.c_str());
}

OrderedRuleRows ReadTableRules(const std::string& path, long kind, const std::string& dsn,
                               const std::string& table) {
  OrderedRuleRows read;
  std::vector<RuleRow>& rows = read.rows;
  ForEachMatch(path, TableRulesFilter(kind, dsn, table),
               [&](DbfTable& t, const RuleFields& f) {
                 RuleRow& row = rows.emplace_back();
                 row.rule_id = t.FieldLong(f.rule_id);
                 row.action = CharText(t, f.action);
                 row.target = CharText(t, f.target);
                 row.values = CharText(t, f.values);
                 row.condition = CharText(t, f.cond);
                 row.flag = t.FieldLong(f.flag);
               },
               [&](size_t count) { rows.reserve(count); });
  read.order = StableOrder(rows.size(), [&](uint32_t a, uint32_t b) {
    return rows[a].rule_id < rows[b].rule_id;
  });
  return read;
}

// The summary line keeps its long-standing template, whose "0" flag the
// precision makes redundant: ids print with at least three digits either way.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
std::vector<std::string> ReadRuleSummaryLines(const std::string& path) {
  std::vector<std::pair<long, std::string>> numbered;
  ForEachMatch(path, Format("(RuleId > %ld)", 0L),
               [&](DbfTable& t, const RuleFields& f) {
                 long rule_id = t.FieldLong(f.rule_id);
                 std::string line = Format("%03.3ld %s %s %s", rule_id,
                                           t.Text(f.action).c_str(), t.Text(f.target).c_str(),
                                           t.Text(f.values).c_str());
                 std::string cond = t.Text(f.cond);
                 if (!cond.empty()) line = Format("%s if %s", line.c_str(), cond.c_str());
                 numbered.emplace_back(rule_id, std::move(line));
               });
  std::stable_sort(numbered.begin(), numbered.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> lines;
  lines.reserve(numbered.size());
  for (auto& entry : numbered) lines.push_back(std::move(entry.second));
  return lines;
}
#pragma GCC diagnostic pop

namespace {

StoredRuleRecord ReadRecord(DbfTable& t, const RuleFields& f) {
  StoredRuleRecord stored;
  RuleRecord& record = stored.record;
  record.rule_id = t.FieldLong(f.rule_id);
  record.kind = t.FieldLong(f.db_type);
  record.dsn = CharText(t, f.dsn);
  record.table = CharText(t, f.db_table);
  record.action = CharText(t, f.action);
  record.target = CharText(t, f.target);
  record.values = CharText(t, f.values);
  record.condition = CharText(t, f.cond);
  record.flag = t.FieldLong(f.flag);
  const std::array<int, 5> reserved = f.reserved();
  for (size_t i = 0; i < reserved.size(); ++i) {
    if (reserved[i] >= 0) stored.reserved[i] = CharText(t, reserved[i]);
  }
  return stored;
}

// The record numbers of a rule id's records, found before any is changed so
// that a change cannot move the query's position.
std::vector<uint32_t> RecordsOfRule(DbfTable& table, long rule_id) {
  std::vector<uint32_t> matches;
  DbfQuery query(table);
  query.SetQuery(Format("RuleId = %ld", rule_id));
  for (bool found = query.QueryFirst(); found; found = query.QueryNext()) {
    matches.push_back(table.RecNo());
  }
  return matches;
}

}  // namespace

std::vector<StoredRuleRecord> ReadStoredRules(const std::string& path) {
  std::vector<StoredRuleRecord> records;
  std::unique_ptr<DbfTable> table = OpenForReading(path);
  if (!table) return records;
  try {
    RuleFields fields(*table);
    for (bool on = table->GoFirst(); on; on = table->Skip()) {
      records.push_back(ReadRecord(*table, fields));
    }
  } catch (const std::exception&) {
  }
  return records;
}

std::optional<StoredRuleRecord> ReadStoredRule(const std::string& path, long rule_id) {
  std::optional<StoredRuleRecord> found;
  ForEachMatch(path, Format("RuleId = %ld", rule_id), [&](DbfTable& t, const RuleFields& f) {
    if (!found) found = ReadRecord(t, f);
  });
  return found;
}

bool SetRuleReserved1(const std::string& path, long rule_id, const std::string& text) {
  if (!OpensForReadWrite(path)) return false;
  try {
    std::unique_ptr<DbfTable> table = DbfTable::Open(path, true);
    RuleFields fields(*table);
    const int reserved1 = fields.reserved()[0];
    if (reserved1 < 0) return false;
    const std::vector<uint32_t> matches = RecordsOfRule(*table, rule_id);
    for (uint32_t recno : matches) {
      if (!table->Read(recno)) continue;
      table->AssignText(reserved1, text);
      table->Update();
    }
    table->FlushDataFile();
    table->Close();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

AddRuleOutcome AppendRuleRecord(const std::string& path, RuleRecord* record,
                                std::optional<long> rule_id, const RuleReserved& reserved) {
  std::unique_ptr<DbfTable> table;
  try {
    if (::access(path.c_str(), F_OK) != 0) {
      table = DbfTable::Create(path, NewRuleTableFields(), DbfVersion::kDbase4,
                               NewRuleTableTags());
    } else {
      table = DbfTable::Open(path, true);
    }
  } catch (const DbfError&) {
    return AddRuleOutcome::kCannotOpen;
  }
  try {
    RuleFields f(*table);
    if (rule_id) {
      record->rule_id = *rule_id;
    } else {
      table->SelectTag(table->TagByName("RuleId"));
      record->rule_id = table->GoLast() ? table->FieldLong(f.rule_id) + 1 : 1;
    }
    table->AppendStart();
    table->AssignLong(f.rule_id, record->rule_id);
    table->AssignLong(f.db_type, record->kind);
    table->AssignText(f.dsn, record->dsn);
    table->AssignText(f.db_table, record->table);
    table->AssignText(f.action, record->action);
    table->AssignText(f.target, record->target);
    table->AssignText(f.values, record->values);
    table->AssignText(f.cond, record->condition);
    table->AssignLong(f.flag, record->flag);
    const std::array<int, 5> reserved_fields = f.reserved();
    for (size_t i = 0; i < reserved_fields.size(); ++i) {
      if (reserved_fields[i] >= 0) table->AssignText(reserved_fields[i], reserved[i]);
    }
    table->AppendWrite();
    table->Close();
  } catch (const DbfError&) {
    return AddRuleOutcome::kCannotAppend;
  }
  return AddRuleOutcome::kAdded;
}

bool DeleteRuleRecords(const std::string& path, long rule_id) {
  if (!OpensForReadWrite(path)) return false;
  try {
    std::unique_ptr<DbfTable> table = DbfTable::Open(path, true);
    RuleFields fields(*table);
    table->SelectTag(table->TagByName("RuleId"));
    const std::vector<uint32_t> matches = RecordsOfRule(*table, rule_id);
    for (uint32_t recno : matches) {
      if (table->Read(recno)) table->DeleteRecord();
    }
    table->FlushDataFile();
    if (!matches.empty()) table->PackDataFile();
    table->Close();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace vigilo
