#include "data/firing_history.h"

#include "platform/sql/database.h"

namespace vigilo {
namespace {

// The writer waits briefly for a reader's lock: a tick never waits long.
constexpr int kWriterBusyMs = 250;
constexpr int kReaderBusyMs = 2000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS ticks("
    " id INTEGER PRIMARY KEY, started INTEGER NOT NULL, duration_ms INTEGER NOT NULL,"
    " runner TEXT NOT NULL, selected INTEGER, updates INTEGER, queued INTEGER,"
    " delivered INTEGER, refused INTEGER, given_up INTEGER, failed INTEGER,"
    " errors INTEGER, error_text TEXT);"
    "CREATE INDEX IF NOT EXISTS ticks_started ON ticks(started);"
    "CREATE TABLE IF NOT EXISTS actions("
    " id INTEGER PRIMARY KEY, time INTEGER NOT NULL, tick INTEGER NOT NULL,"
    " rule INTEGER NOT NULL, tbl TEXT NOT NULL, record INTEGER NOT NULL,"
    " action TEXT NOT NULL, detail TEXT, outcome TEXT NOT NULL, error TEXT);"
    "CREATE INDEX IF NOT EXISTS actions_rule ON actions(rule, record);"
    "CREATE INDEX IF NOT EXISTS actions_time ON actions(time);"
    "CREATE TABLE IF NOT EXISTS totals("
    " name TEXT NOT NULL, rule INTEGER NOT NULL, value INTEGER NOT NULL,"
    " PRIMARY KEY(name, rule));";

// Rolls back unless committed, so a failed tick leaves nothing half written.
class Transaction {
 public:
  explicit Transaction(sql::SqliteFile& file) : file_(file) { file_.Execute("BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (committed_) return;
    try {
      file_.Execute("ROLLBACK");
    } catch (const DbException&) {
      // The connection rolls back by itself when the statement failed.
    }
  }
  void Commit() {
    file_.Execute("COMMIT");
    committed_ = true;
  }

 private:
  sql::SqliteFile& file_;
  bool committed_ = false;
};

}  // namespace

std::string FiringHistory::PathOf(const std::string& server_dir) {
  return server_dir + "/" + kHistoryFileName;
}

void FiringHistory::OpenForWriting(const std::string& path) {
  file_.Open(path, /*read_only=*/false, kWriterBusyMs);
  file_.Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  file_.Execute(kSchema);
}

void FiringHistory::OpenForReading(const std::string& path) {
  file_.Open(path, /*read_only=*/true, kReaderBusyMs);
}

int64_t FiringHistory::WriteTick(const TickRecord& tick, const std::vector<ActionEvent>& actions,
                                 const std::map<int32_t, long>& selected_by_rule) {
  Transaction transaction(file_);
  sql::SqliteStatement tick_row(
      file_,
      "INSERT INTO ticks(started, duration_ms, runner, selected, updates, queued, delivered,"
      " refused, given_up, failed, errors, error_text) VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
  tick_row.Bind(1, static_cast<int64_t>(tick.started))
      .Bind(2, tick.duration_ms)
      .Bind(3, tick.runner)
      .Bind(4, static_cast<int64_t>(tick.selected))
      .Bind(5, static_cast<int64_t>(tick.updates))
      .Bind(6, static_cast<int64_t>(tick.queued))
      .Bind(7, static_cast<int64_t>(tick.delivered))
      .Bind(8, static_cast<int64_t>(tick.refused))
      .Bind(9, static_cast<int64_t>(tick.given_up))
      .Bind(10, static_cast<int64_t>(tick.failed))
      .Bind(11, static_cast<int64_t>(tick.errors))
      .Bind(12, tick.error_text);
  tick_row.Step();
  const int64_t tick_id = file_.LastInsertId();

  std::map<std::pair<std::string, int32_t>, int64_t> added;
  added[{"ticks", 0}] += 1;
  added[{"errors", 0}] += tick.errors;
  added[{"duration_ms", 0}] += tick.duration_ms;
  for (const auto& [rule_id, count] : selected_by_rule) {
    added[{"selected", 0}] += count;
    added[{"selected", rule_id}] += count;
  }

  sql::SqliteStatement action_row(
      file_,
      "INSERT INTO actions(time, tick, rule, tbl, record, action, detail, outcome, error)"
      " VALUES(?,?,?,?,?,?,?,?,?)");
  for (const ActionEvent& event : actions) {
    action_row.Bind(1, static_cast<int64_t>(event.time))
        .Bind(2, tick_id)
        .Bind(3, static_cast<int64_t>(event.rule_id))
        .Bind(4, event.table)
        .Bind(5, static_cast<int64_t>(event.record))
        .Bind(6, event.action)
        .Bind(7, event.detail)
        .Bind(8, event.outcome)
        .Bind(9, event.error);
    action_row.Step();
    action_row.Reset();
    const std::string name = event.action + ":" + event.outcome;
    added[{name, 0}] += 1;
    added[{name, event.rule_id}] += 1;
  }

  sql::SqliteStatement total(
      file_,
      "INSERT INTO totals(name, rule, value) VALUES(?,?,?)"
      " ON CONFLICT(name, rule) DO UPDATE SET value = value + excluded.value");
  for (const auto& [key, value] : added) {
    total.Bind(1, key.first).Bind(2, static_cast<int64_t>(key.second)).Bind(3, value);
    total.Step();
    total.Reset();
  }
  transaction.Commit();
  return tick_id;
}

long FiringHistory::Prune(std::time_t before) {
  Transaction transaction(file_);
  sql::SqliteStatement actions(file_, "DELETE FROM actions WHERE time < ?");
  actions.Bind(1, static_cast<int64_t>(before));
  actions.Step();
  const long removed = static_cast<long>(file_.Changes());
  sql::SqliteStatement ticks(file_, "DELETE FROM ticks WHERE started < ?");
  ticks.Bind(1, static_cast<int64_t>(before));
  ticks.Step();
  transaction.Commit();
  return removed;
}

std::vector<ActionRecord> FiringHistory::Actions(const HistoryFilter& filter) {
  std::string sql =
      "SELECT id, tick, time, rule, tbl, record, action, detail, outcome, error FROM actions"
      " WHERE time >= ?1";
  if (filter.rule_id) sql += " AND rule = ?2";
  if (filter.record) sql += " AND record = ?3";
  // A table is named by its name or by its whole key (which ends in the name).
  if (!filter.table.empty()) sql += " AND (tbl = ?4 COLLATE NOCASE OR tbl LIKE '%\\' || ?4)";
  sql += " ORDER BY id DESC";
  if (filter.limit > 0) sql += " LIMIT ?5";
  sql::SqliteStatement query(file_, sql);
  query.Bind(1, static_cast<int64_t>(filter.since));
  if (filter.rule_id) query.Bind(2, static_cast<int64_t>(*filter.rule_id));
  if (filter.record) query.Bind(3, static_cast<int64_t>(*filter.record));
  if (!filter.table.empty()) query.Bind(4, filter.table);
  if (filter.limit > 0) query.Bind(5, static_cast<int64_t>(filter.limit));
  std::vector<ActionRecord> rows;
  while (query.Step()) {
    ActionRecord row;
    row.id = query.Int(0);
    row.tick = query.Int(1);
    row.event.time = static_cast<std::time_t>(query.Int(2));
    row.event.rule_id = static_cast<int32_t>(query.Int(3));
    row.event.table = query.Text(4);
    row.event.record = query.Int(5);
    row.event.action = query.Text(6);
    row.event.detail = query.Text(7);
    row.event.outcome = query.Text(8);
    row.event.error = query.Text(9);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<TickRecord> FiringHistory::LastTicks(size_t count) {
  sql::SqliteStatement query(
      file_,
      "SELECT id, started, duration_ms, runner, selected, updates, queued, delivered, refused,"
      " given_up, failed, errors, error_text FROM ticks ORDER BY id DESC LIMIT ?");
  query.Bind(1, static_cast<int64_t>(count));
  std::vector<TickRecord> ticks;
  while (query.Step()) {
    TickRecord tick;
    tick.id = query.Int(0);
    tick.started = static_cast<std::time_t>(query.Int(1));
    tick.duration_ms = query.Int(2);
    tick.runner = query.Text(3);
    tick.selected = static_cast<long>(query.Int(4));
    tick.updates = static_cast<long>(query.Int(5));
    tick.queued = static_cast<long>(query.Int(6));
    tick.delivered = static_cast<long>(query.Int(7));
    tick.refused = static_cast<long>(query.Int(8));
    tick.given_up = static_cast<long>(query.Int(9));
    tick.failed = static_cast<long>(query.Int(10));
    tick.errors = static_cast<long>(query.Int(11));
    tick.error_text = query.Text(12);
    ticks.push_back(std::move(tick));
  }
  return ticks;
}

HistoryTotals FiringHistory::Totals() {
  HistoryTotals totals;
  sql::SqliteStatement query(file_, "SELECT name, rule, value FROM totals");
  while (query.Step()) {
    const int32_t rule = static_cast<int32_t>(query.Int(1));
    if (rule == 0) {
      totals.all[query.Text(0)] = query.Int(2);
    } else {
      totals.by_rule[rule][query.Text(0)] = query.Int(2);
    }
  }
  return totals;
}

}  // namespace vigilo
