// One firing tick of 50 update rules on a dBase-file project, against the
// same statements on native SQLite tables holding the same data.
//
// The project: table Bugs of N records (default 100,000) and its change
// history BugsHist of 10 N rows (default 1,000,000). Rules 1 to 25 test the
// record's own fields ("(Status is (Closed)) .AND.(Category is (Cnn))"),
// rules 26 to 50 a change in the history ("(Status is (Open->Closed))
// .AND.(Category is (Cnn))"). M records (default 1,000) are closed, each
// with its history row, so each is selected by one rule of each half.
//
//   quiet:    every closed record is flagged already; nothing newly matches.
//   matching: the flag table is emptied before each tick, so the M records
//             newly match (2 M UPDATE and 2 M flag INSERT statements).
//
// Sizes: VIGILO_BENCH_RECORDS, VIGILO_BENCH_HISTORY, VIGILO_BENCH_MATCHES.
// After the benchmarks, the time per rule and the ratio to native SQLite are
// printed per case. Run it at two sizes to see how it grows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/text.h"
#include "data/field_def.h"
#include "data/log_stream.h"
#include "data/server_paths.h"
#include "platform/sql/database.h"
#include "platform/sql/dbase_sql_rewriter.h"
#include "platform/xbase/dbf_table.h"
#include "service/flag_table.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/update_statement.h"

namespace vigilo {
namespace {

constexpr int kRules = 50;
constexpr int kCategories = 25;

long EnvSize(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atol(value) : fallback;
}

struct Sizes {
  long records = EnvSize("VIGILO_BENCH_RECORDS", 100000);
  long history = EnvSize("VIGILO_BENCH_HISTORY", 1000000);
  long matches = EnvSize("VIGILO_BENCH_MATCHES", 1000);
};

std::string Category(long form_id) { return Format("C%02ld", form_id % kCategories); }

// The records that are closed: spread evenly over the table.
bool IsClosed(long form_id, const Sizes& sizes) {
  const long step = sizes.records / sizes.matches;
  return step > 0 && form_id % step == 0 && form_id / step <= sizes.matches;
}

CFieldDef Field(const std::string& name, int type, int width, int flags) {
  CFieldDef field(1);
  field.name = name;
  field.label = name;
  field.type = type;
  field.width = static_cast<uint32_t>(width);
  field.flags = flags;
  return field;
}

// Installation files and both copies of the data.
class Dataset {
 public:
  explicit Dataset(const Sizes& sizes) : sizes_(sizes) {
    char pattern[] = "/tmp/vigilo-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    project_dir_ = root_ + "/proj";
    std::filesystem::create_directories(project_dir_);
    std::filesystem::create_directories(root_ + "/server/orvhome");
    WriteProfileString(root_ + "/vigtab.ini", "Morvane Vigilo", "SERVERDIR", root_ + "/server");
    WriteProfileString(root_ + "/server/morvik.ini", "Orvik Dsn", "Proj", project_dir_);
    const std::string ini = project_dir_ + "/Bugs.INI";
    WriteProfileString(ini, "Morvane Orvik", "ChngHist Datafile", "BugsHist.dbf");
    WriteProfileString(ini, "Morvane Orvik", "FormNames", "Bugs");
    const CFieldDef fields[] = {Field("Status", 0, 10, 0x201), Field("Category", 0, 4, 1),
                                Field("Priority", 1, 4, 0x201), Field("Resolution", 0, 20, 1)};
    int n = 0;
    for (const CFieldDef& field : fields) {
      WriteProfileString(ini, "Bugs", Format("Field%d", ++n), FieldDefLine(field));
    }
    WriteDbase();
    WriteNative();
  }
  ~Dataset() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  const std::string& root() const { return root_; }
  const std::string& project_dir() const { return project_dir_; }
  std::string native_path() const { return root_ + "/native.db"; }

 private:
  void WriteDbase() {
    auto bugs = DbfTable::Create(project_dir_ + "/Bugs.dbf",
                                 {{"FormID", 'N', 11, 0}, {"Status", 'C', 10, 0},
                                  {"Category", 'C', 4, 0}, {"Priority", 'N', 4, 0},
                                  {"Resolution", 'C', 20, 0}});
    for (long id = 1; id <= sizes_.records; ++id) {
      bugs->AppendStart();
      bugs->AssignLong(0, id);
      bugs->AssignText(1, IsClosed(id, sizes_) ? "Closed" : "Open");
      bugs->AssignText(2, Category(id));
      bugs->AssignLong(3, id % 5);
      bugs->AppendWrite();
    }
    bugs->Close();
    auto hist = DbfTable::Create(project_dir_ + "/BugsHist.dbf",
                                 {{"FormID", 'N', 11, 0}, {"ChngDate", 'C', 12, 0},
                                  {"ChngBy", 'C', 10, 0}, {"ChngWhat", 'C', 10, 0},
                                  {"ChngFrom", 'C', 20, 0}, {"ChngTo", 'C', 20, 0}});
    ForEachHistoryRow([&](long id, const char* what, const char* from, const char* to) {
      hist->AppendStart();
      hist->AssignLong(0, id);
      hist->AssignText(1, "1700000000");
      hist->AssignText(2, "ann");
      hist->AssignText(3, what);
      hist->AssignText(4, from);
      hist->AssignText(5, to);
      hist->AppendWrite();
    });
    hist->Close();
  }

  // Priority changes spread over all records, and the closing of each closed
  // record.
  template <typename Row>
  void ForEachHistoryRow(Row row) {
    long written = 0;
    for (long id = 1; id <= sizes_.records && sizes_.matches > 0; ++id) {
      if (IsClosed(id, sizes_)) {
        row(id, "Status", "Open", "Closed");
        ++written;
      }
    }
    for (long j = 0; written < sizes_.history; ++j, ++written) {
      row(j % sizes_.records + 1, "Priority", "1", "2");
    }
  }

  void WriteNative() {
    sqlite3* db = nullptr;
    if (sqlite3_open(native_path().c_str(), &db) != SQLITE_OK) {
      throw std::runtime_error("cannot create the native database");
    }
    auto exec = [&](const std::string& sql) {
      char* error = nullptr;
      if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(message + ": " + sql);
      }
    };
    exec("CREATE TABLE Bugs (FormID INTEGER, Status TEXT COLLATE RTRIM, Category TEXT COLLATE "
         "RTRIM, Priority INTEGER, Resolution TEXT COLLATE RTRIM)");
    exec("CREATE TABLE BugsHist (FormID INTEGER, ChngDate TEXT COLLATE RTRIM, ChngBy TEXT "
         "COLLATE RTRIM, ChngWhat TEXT COLLATE RTRIM, ChngFrom TEXT COLLATE RTRIM, ChngTo TEXT "
         "COLLATE RTRIM)");
    exec("CREATE TABLE BugsVGLS (FormID INT, RuleID INT, CONSTRAINT pk_ProjBugsVGLS PRIMARY KEY "
         "(FormID, RuleID))");
    exec("BEGIN");
    for (long id = 1; id <= sizes_.records; ++id) {
      exec(Format("INSERT INTO Bugs VALUES(%ld,'%s','%s',%ld,'')", id,
                  IsClosed(id, sizes_) ? "Closed" : "Open", Category(id).c_str(), id % 5));
    }
    ForEachHistoryRow([&](long id, const char* what, const char* from, const char* to) {
      exec(Format("INSERT INTO BugsHist VALUES(%ld,'1700000000','ann','%s','%s','%s')", id, what,
                  from, to));
    });
    exec("COMMIT");
    // A native project keys its records: FormID is indexed in both tables.
    exec("CREATE INDEX BugsForm ON Bugs(FormID)");
    exec("CREATE INDEX BugsHistForm ON BugsHist(FormID)");
    sqlite3_close(db);
  }

  Sizes sizes_;
  std::string root_;
  std::string project_dir_;
};

// The service's objects for the project, with the 50 rules loaded.
class Engine {
 public:
  explicit Engine(const Dataset& data) : log_([&data] { return data.root() + "/vglog.ini"; }) {
    SetProgramDirectory(data.root());
    settings_ = std::make_unique<CServerPaths>();
    ProjectSource source;
    source.key = "0\\ORVIK\\Proj";
    source.directory = data.project_dir();
    source.ini_path = data.project_dir() + "/Proj.INI";
    source.connection_string = Format(
        "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
        data.project_dir().c_str());
    project_ = std::make_unique<CProject>(0, "ORVIK", "Proj", source, settings_.get(), nullptr,
                                          &log_);
    if (!project_->OpenProject()) throw std::runtime_error("cannot open the dBase project");
    for (int r = 1; r <= kRules; ++r) {
      CRule record;
      record.rule_id = r;
      record.db_type = 0;
      record.dsn = "ORVIK";
      record.db_table = "Proj\\Bugs";
      record.action = "Update";
      const std::string category = Format("C%02d", (r - 1) % kCategories);
      if (r <= kRules / 2) {
        record.cond = "(Status is (Closed)) .AND.(Category is (" + category + "))";
        record.values = Format("Resolution=Done %d", r);
      } else {
        record.cond = "(Status is (Open->Closed)) .AND.(Category is (" + category + "))";
        record.values = "Priority=1";
      }
      project_->AddRuleToProject(record);
    }
    if (project_->tables().empty() || project_->tables()[0]->UpdateRuleIds().size() != kRules) {
      throw std::runtime_error("the rules did not load:\n" + log_.Text());
    }
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

// The same statements, in the same order, on the native tables.
class Native {
 public:
  Native(const Dataset& data, CProjectTable& table) : table_(table) {
    if (sqlite3_open(data.native_path().c_str(), &db_) != SQLITE_OK) {
      throw std::runtime_error("cannot open the native database");
    }
    Exec("PRAGMA synchronous=OFF");
    Exec("PRAGMA journal_mode=MEMORY");
  }
  ~Native() { sqlite3_close(db_); }

  void Exec(const std::string& statement) {
    char* error = nullptr;
    if (sqlite3_exec(db_, statement.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(message + ": " + statement);
    }
  }

  long Count(const std::string& query) {
    sqlite3_stmt* stmt = nullptr;
    long count = -1;
    if (sqlite3_prepare_v2(db_, query.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      count = sqlite3_column_int(stmt, 0);
    }
    sqlite3_finalize(stmt);
    return count;
  }

  void Tick() {
    const std::string target = FlagInsertTarget(0, table_.names());
    for (const auto& rule : *table_.update_rules) {
      Exec(sql::RewriteDbaseSql(StaleFlagsStatement(*rule, table_.names())));
      std::vector<long> ids;
      sqlite3_stmt* stmt = nullptr;
      const std::string select = sql::RewriteDbaseSql(rule->selection);
      if (sqlite3_prepare_v2(db_, select.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + ": " + select);
      }
      while (sqlite3_step(stmt) == SQLITE_ROW) ids.push_back(sqlite3_column_int(stmt, 0));
      sqlite3_finalize(stmt);
      for (long id : ids) {
        Exec(sql::RewriteDbaseSql(UpdateStatementFor(rule->update_statement, id)));
      }
      for (long id : ids) Exec(FlagInsertStatement(target, id, rule->rule_id));
    }
  }

 private:
  CProjectTable& table_;
  sqlite3* db_ = nullptr;
};

struct World {
  Sizes sizes;
  std::unique_ptr<Dataset> data;
  std::unique_ptr<Engine> engine;
  std::unique_ptr<Native> native;
};

World& TheWorld() {
  static World world = [] {
    World w;
    const auto start = std::chrono::steady_clock::now();
    w.data = std::make_unique<Dataset>(w.sizes);
    w.engine = std::make_unique<Engine>(*w.data);
    w.native = std::make_unique<Native>(*w.data, w.engine->table());
    std::fprintf(stderr, "data written and rules loaded in %.1f s\n",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return w;
  }();
  return world;
}

std::map<std::string, double> g_seconds_per_tick;

template <typename Tick, typename Reset>
void TimeTicks(benchmark::State& state, const std::string& name, Tick tick, Reset reset) {
  double total = 0;
  long ticks = 0;
  for (auto _ : state) {
    reset();
    const auto start = std::chrono::steady_clock::now();
    tick();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
    ++ticks;
  }
  g_seconds_per_tick[name] = total / static_cast<double>(ticks);
  state.counters["ms_per_rule"] = 1000.0 * total / static_cast<double>(ticks) / kRules;
}

void BM_DbaseQuiet(benchmark::State& state) {
  World& w = TheWorld();
  w.engine->Tick();  // flags the closed records
  w.engine->CheckLog();
  std::fprintf(stderr, "closed records flagged; quiet ticks follow\n");
  TimeTicks(state, "dbase quiet", [&] { w.engine->Tick(); }, [&] { w.engine->CheckLog(); });
}

void BM_NativeQuiet(benchmark::State& state) {
  World& w = TheWorld();
  w.native->Tick();
  TimeTicks(state, "native quiet", [&] { w.native->Tick(); }, [] {});
}

// Every closed record is flagged by one rule of each half after a tick.
void CheckFlags(long flags, const Sizes& sizes) {
  if (flags != 2 * sizes.matches) {
    throw std::runtime_error(Format("%ld flags after a tick, %ld expected", flags,
                                    2 * sizes.matches));
  }
}

void BM_DbaseMatching(benchmark::State& state) {
  World& w = TheWorld();
  TimeTicks(state, "dbase matching", [&] { w.engine->Tick(); },
            [&] {
              w.engine->CheckLog();
              Recordset count;
              count.Open(w.engine->db(), "SELECT COUNT(*) FROM BugsVGLS");
              CheckFlags(count.GetLong(0), w.sizes);
              count.Close();
              w.engine->db().ExecuteSQL("DELETE FROM BugsVGLS");
            });
  w.engine->CheckLog();
}

void BM_NativeMatching(benchmark::State& state) {
  World& w = TheWorld();
  TimeTicks(state, "native matching", [&] { w.native->Tick(); },
            [&] {
              CheckFlags(w.native->Count("SELECT COUNT(*) FROM BugsVGLS"), w.sizes);
              w.native->Exec("DELETE FROM BugsVGLS");
            });
}

BENCHMARK(BM_DbaseQuiet)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NativeQuiet)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DbaseMatching)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NativeMatching)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void PrintSummary() {
  const Sizes sizes;
  std::printf("\n%ld records, %ld change-history rows, %ld newly matching records, %d rules\n",
              sizes.records, sizes.history, sizes.matches, kRules);
  for (const char* scenario : {"quiet", "matching"}) {
    const auto dbase = g_seconds_per_tick.find(std::string("dbase ") + scenario);
    const auto native = g_seconds_per_tick.find(std::string("native ") + scenario);
    if (dbase == g_seconds_per_tick.end() || native == g_seconds_per_tick.end()) continue;
    std::printf("%-9s dBase %8.2f ms/rule   native SQLite %8.2f ms/rule   ratio %.2f\n", scenario,
                1000 * dbase->second / kRules, 1000 * native->second / kRules,
                dbase->second / native->second);
  }
}

}  // namespace
}  // namespace vigilo

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "update_tick_bench: %s\n", error.what());
    return 1;
  }
  benchmark::Shutdown();
  vigilo::PrintSummary();
  return 0;
}
