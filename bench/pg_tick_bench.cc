// One firing tick of 50 update rules on a client-server project (kind 2,
// owner.table names) served by PostgreSQL through psqlODBC, against a libpq
// client that runs the same selections and batches the same writes.
//
// The project: proj.bugs of N records (default 1,000,000) and its change
// history proj.bugshist of N rows (VIGILO_BENCH_HISTORY), loaded with COPY,
// with the keys and indexes a DBA would give them and ANALYZE. Rules 1 to 25
// test the record's own fields, rules 26 to 50 a change in the history; M
// records (default 1,000) are closed, each with its history row, so each is
// selected by one rule of each half.
//
//   quiet:    every closed record is flagged already; nothing newly matches.
//   matching: the flag table is emptied before each tick, so the M records
//             newly match: 2 M records updated and flagged.
//
// The anchor runs, per rule, the engine's own stale flag DELETE and
// selection, then in one transaction one UPDATE ... WHERE FormID = ANY($1)
// prepared once per rule and the flags as multi-row INSERTs of up to 1,000
// rows. The server is private: started on a free 127.0.0.1 port for the run.
//
// Sizes: VIGILO_BENCH_RECORDS, VIGILO_BENCH_HISTORY, VIGILO_BENCH_MATCHES.
// After the benchmark the median tick of each side and their ratio are
// printed per case.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/update_rules_data.h"
#include "bench/bench_main.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "common/text.h"
#include "data/field_def.h"
#include "data/log_stream.h"
#include "data/server_paths.h"
#include "platform/sql/database.h"
#include "service/flag_table.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/update_statement.h"
#include "tests/support/postgres_server.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

constexpr long kDefaultRecords = 1000000;
constexpr size_t kRowsPerInsert = 1000;

// A libpq connection as the project's login; every failure throws.
class PgClient {
 public:
  explicit PgClient(const test::PostgresServer& server) {
    const std::string info =
        Format("host=127.0.0.1 port=%d dbname=%s user=%s password=%s", server.port(),
               server.options().database.c_str(), server.options().user.c_str(),
               server.options().password.c_str());
    conn_ = PQconnectdb(info.c_str());
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      throw std::runtime_error("libpq: " + message);
    }
  }
  ~PgClient() { PQfinish(conn_); }
  PgClient(const PgClient&) = delete;
  PgClient& operator=(const PgClient&) = delete;

  PGconn* get() { return conn_; }

  // Runs a statement; returns its rows' first column.
  std::vector<std::string> Exec(const std::string& sql) {
    PGresult* result = PQexec(conn_, sql.c_str());
    return Rows(result, sql);
  }
  void Prepare(const std::string& name, const std::string& sql) {
    PGresult* result = PQprepare(conn_, name.c_str(), sql.c_str(), 1, nullptr);
    Rows(result, sql);
  }
  void ExecPrepared(const std::string& name, const std::string& parameter) {
    const char* values[] = {parameter.c_str()};
    Rows(PQexecPrepared(conn_, name.c_str(), 1, values, nullptr, nullptr, 0), name);
  }

  // COPY table FROM STDIN of text rows made by `rows(put)`.
  template <typename Producer>
  void Copy(const std::string& table, Producer produce) {
    PGresult* start = PQexec(conn_, ("COPY " + table + " FROM STDIN").c_str());
    if (PQresultStatus(start) != PGRES_COPY_IN) Rows(start, "COPY " + table);
    PQclear(start);
    std::string buffer;
    auto flush = [&] {
      if (PQputCopyData(conn_, buffer.data(), static_cast<int>(buffer.size())) != 1) {
        throw std::runtime_error(std::string("COPY: ") + PQerrorMessage(conn_));
      }
      buffer.clear();
    };
    produce([&](const std::string& line) {
      buffer += line;
      buffer += '\n';
      if (buffer.size() > (1 << 20)) flush();
    });
    flush();
    if (PQputCopyEnd(conn_, nullptr) != 1) throw std::runtime_error("COPY end failed");
    Rows(PQgetResult(conn_), "COPY " + table);
    while (PGresult* more = PQgetResult(conn_)) PQclear(more);
  }

 private:
  std::vector<std::string> Rows(PGresult* result, const std::string& what) {
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      const std::string message = PQresultErrorMessage(result);
      PQclear(result);
      throw std::runtime_error("libpq: " + message + what.substr(0, 300));
    }
    std::vector<std::string> rows;
    for (int i = 0; i < PQntuples(result); ++i) rows.emplace_back(PQgetvalue(result, i, 0));
    PQclear(result);
    return rows;
  }

  PGconn* conn_ = nullptr;
};

// The server, its data and the installation the engine reads.
class Dataset {
 public:
  explicit Dataset(const Sizes& sizes) : sizes_(sizes) {
    root_ = install_.program_dir();
    const std::string ini = install_.server_dir() + "/bugs.INI";
    WriteProfileString(ini, "Morvane Orvik", "ChngHist Datafile", "D:\\orvik\\bugshist.dbf");
    WriteProfileString(ini, "Morvane Orvik", "FormNames", "bugs");
    const CFieldDef fields[] = {Field("Status", 0, 10, 0x201), Field("Category", 0, 4, 1),
                                Field("Priority", 1, 4, 0x201), Field("Resolution", 0, 20, 1)};
    int n = 0;
    for (const CFieldDef& field : fields) {
      WriteProfileString(ini, "bugs", Format("Field%d", ++n), FieldDefLine(field));
    }
    server_.Psql("CREATE SCHEMA proj AUTHORIZATION vigilo");
    PgClient client(server_);
    client.Exec(
        "CREATE TABLE proj.bugs (FormID int PRIMARY KEY, Status varchar(10), Category "
        "varchar(4), Priority int, Resolution varchar(20))");
    client.Exec(
        "CREATE TABLE proj.bugshist (FormID int, ChngDate varchar(12), ChngBy varchar(10), "
        "ChngWhat varchar(10), ChngFrom varchar(20), ChngTo varchar(20))");
    client.Copy("proj.bugs", [&](auto put) {
      for (long id = 1; id <= sizes_.records; ++id) {
        put(Format("%ld\t%s\t%s\t%ld\t", id, IsClosed(id, sizes_) ? "Closed" : "Open",
                   Category(id).c_str(), id % 5));
      }
    });
    client.Copy("proj.bugshist", [&](auto put) {
      long written = 0;
      for (long id = 1; id <= sizes_.records && sizes_.matches > 0; ++id) {
        if (!IsClosed(id, sizes_)) continue;
        put(Format("%ld\t1700000000\tann\tStatus\tOpen\tClosed", id));
        ++written;
      }
      for (long j = 0; written < sizes_.history; ++j, ++written) {
        put(Format("%ld\t1700000000\tann\tPriority\t1\t2", j % sizes_.records + 1));
      }
    });
    client.Exec("CREATE INDEX bugsstatus ON proj.bugs(Status)");
    client.Exec("CREATE INDEX bugshistform ON proj.bugshist(FormID)");
    client.Exec("CREATE INDEX bugshistto ON proj.bugshist(ChngTo, FormID)");
    client.Exec("ANALYZE proj.bugs");
    client.Exec("ANALYZE proj.bugshist");
  }
  const std::string& root() const { return root_; }
  const test::PostgresServer& server() const { return server_; }

 private:
  Sizes sizes_;
  // Before the first ODBC call of the process: the driver manager reads the
  // server's ini files then.
  test::PostgresServer server_;
  testing::TestInstallation install_{testing::InstallationBuilder::Bare("")};
  std::string root_;
};

// The service's objects for the project, with the 50 rules loaded.
class Engine {
 public:
  explicit Engine(const Dataset& data) : log_([&data] { return data.root() + "/vglog.ini"; }) {
    SetProgramDirectory(data.root());
    settings_ = std::make_unique<CServerPaths>();
    ProjectSource source = ResolveProjectSource(*settings_, 2, "VGPG", "proj");
    source.connection_string = data.server().ConnectionString();
    project_ = std::make_unique<CProject>(2, "VGPG", "proj", source, settings_.get(), nullptr,
                                          &log_);
    if (!project_->OpenProject()) throw std::runtime_error("cannot open the server project");
    AddUpdateRules(*project_, 2, "VGPG", "proj\\bugs", log_);
  }

  CProjectTable& table() { return *project_->tables()[0]; }
  Database& db() { return project_->database(); }
  void Tick() { table().UpdateRecords(); }
  // Errors would make a tick look fast: none may be logged.
  void CheckLog() {
    const std::string text = log_.Text();
    if (text.find("ODBC Reported Error") != std::string::npos) {
      throw std::runtime_error("a statement failed:\n" + text.substr(0, 2000));
    }
    log_.Flush(kLogRecreate);
  }

 private:
  LogStream log_;
  std::unique_ptr<CServerPaths> settings_;
  std::unique_ptr<CProject> project_;
};

// The same selections, and the writes batched per rule, over libpq.
class Anchor {
 public:
  Anchor(const Dataset& data, CProjectTable& table) : client_(data.server()) {
    flag_target_ = FlagInsertTarget(2, table.names());
    for (const auto& rule : *table.update_rules) {
      RuleStatements statements;
      statements.rule_id = rule->rule_id;
      statements.stale = StaleFlagsStatement(*rule, table.names());
      statements.select = rule->selection;
      std::string update = ParameterizedUpdateStatement(rule->update_statement);
      const size_t marker = update.rfind("= ?");
      if (marker == std::string::npos) throw std::runtime_error("unexpected update: " + update);
      update.replace(marker, 3, "= ANY($1::int[])");
      statements.update = Format("update%ld", static_cast<long>(rule->rule_id));
      client_.Prepare(statements.update, update);
      rules_.push_back(statements);
    }
  }

  std::vector<std::string> Exec(const std::string& sql) { return client_.Exec(sql); }

  // The server's plans for the first rule on the record's fields and the
  // first on its history, and for a prepared batch update: a fair anchor
  // probes the Status and history indexes and updates by key.
  void PrintPlans() {
    const std::vector<const RuleStatements*> shown = {&rules_.front(),
                                                      &rules_[rules_.size() / 2]};
    for (const RuleStatements* rule : shown) {
      std::printf("anchor plan, rule %ld: %s\n", rule->rule_id, rule->select.c_str());
      for (const std::string& line : client_.Exec("EXPLAIN " + rule->select)) {
        std::printf("    %s\n", line.c_str());
      }
    }
    for (const std::string& line :
         client_.Exec("EXPLAIN EXECUTE " + rules_.front().update + "('{1,2,3}')")) {
      std::printf("    %s\n", line.c_str());
    }
  }

  void Tick() {
    for (const RuleStatements& rule : rules_) {
      client_.Exec(rule.stale);
      const std::vector<std::string> ids = client_.Exec(rule.select);
      if (!ids.empty()) {
        client_.Exec("BEGIN");
        std::string array = "{";
        for (const std::string& id : ids) array += id + ",";
        array.back() = '}';
        client_.ExecPrepared(rule.update, array);
        for (size_t first = 0; first < ids.size(); first += kRowsPerInsert) {
          std::string insert = "INSERT INTO " + flag_target_ + "(FormID,RuleID) VALUES";
          const size_t end = std::min(ids.size(), first + kRowsPerInsert);
          for (size_t i = first; i < end; ++i) {
            insert += Format("%s(%s,%ld)", i == first ? "" : ",", ids[i].c_str(), rule.rule_id);
          }
          client_.Exec(insert);
        }
        client_.Exec("COMMIT");
      }
    }
  }

 private:
  struct RuleStatements {
    long rule_id = 0;
    std::string stale;
    std::string select;
    std::string update;  // name of the prepared statement
  };
  PgClient client_;
  std::string flag_target_;
  std::vector<RuleStatements> rules_;
};

struct World {
  Sizes sizes{kDefaultRecords};
  std::unique_ptr<Dataset> data;
  std::unique_ptr<Engine> engine;
  std::unique_ptr<Anchor> anchor;
};

World& TheWorld() {
  static World world = [] {
    World w;
    const auto start = std::chrono::steady_clock::now();
    w.data = std::make_unique<Dataset>(w.sizes);
    const double loaded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    w.engine = std::make_unique<Engine>(*w.data);
    w.anchor = std::make_unique<Anchor>(*w.data, w.engine->table());
    w.anchor->PrintPlans();
    std::fprintf(stderr, "data loaded in %.1f s, rules loaded in %.1f s\n", loaded,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
                     loaded);
    return w;
  }();
  return world;
}

constexpr int kRounds = 5;
constexpr const char* kCases[] = {"quiet", "matching"};
std::map<std::string, std::vector<double>> g_seconds;  // "vigilo matching" ...

// Both sides, both cases, interleaved in each round; every matching tick
// starts from an empty flag table and must leave each closed record flagged
// by one rule of each half.
void BM_Ticks(benchmark::State& state) {
  World& w = TheWorld();
  const std::string flags = FlagInsertTarget(2, w.engine->table().names());
  const std::string count = "SELECT count(*) FROM " + flags;
  auto check_flags = [&] {
    const long pairs = std::atol(w.anchor->Exec(count).at(0).c_str());
    if (pairs != 2 * w.sizes.matches) {
      throw std::runtime_error(Format("%ld flags after a tick, %ld expected", pairs,
                                      2 * w.sizes.matches));
    }
  };
  w.engine->Tick();
  w.engine->CheckLog();
  check_flags();
  auto timed = [](auto&& tick) {
    const auto start = std::chrono::steady_clock::now();
    tick();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      for (const char* name : kCases) {
        const bool matching = std::string(name) == "matching";
        if (matching) w.anchor->Exec("DELETE FROM " + flags);
        g_seconds[std::string("vigilo ") + name].push_back(timed([&] { w.engine->Tick(); }));
        w.engine->CheckLog();
        check_flags();
        if (matching) w.anchor->Exec("DELETE FROM " + flags);
        g_seconds[std::string("anchor ") + name].push_back(timed([&] { w.anchor->Tick(); }));
        check_flags();
      }
    }
    state.SetIterationTime(Median(g_seconds["vigilo matching"]));
  }
  for (const char* name : kCases) {
    state.counters[std::string("ratio_") + name] =
        Median(g_seconds[std::string("vigilo ") + name]) /
        Median(g_seconds[std::string("anchor ") + name]);
  }
}

BENCHMARK(BM_Ticks)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void PrintSummary() {
  const Sizes sizes{kDefaultRecords};
  std::printf("\nPostgreSQL: %ld records, %ld change-history rows, %ld newly matching records, "
              "%d rules; medians of %d interleaved ticks\n",
              sizes.records, sizes.history, sizes.matches, kRules, kRounds);
  for (const char* name : kCases) {
    const auto vigilo = g_seconds.find(std::string("vigilo ") + name);
    const auto anchor = g_seconds.find(std::string("anchor ") + name);
    if (vigilo == g_seconds.end() || anchor == g_seconds.end()) continue;
    const double v = Median(vigilo->second);
    const double a = Median(anchor->second);
    std::printf("%-9s Vigilo %8.1f ms a tick   batching libpq client %8.1f ms a tick   "
                "ratio %.2f\n",
                name, 1000 * v, 1000 * a, v / a);
  }
}

}  // namespace
}  // namespace vigilo

int main(int argc, char** argv) {
  return vigilo::RunBenchmarks(argc, argv, "pg_tick_bench", vigilo::PrintSummary);
}
