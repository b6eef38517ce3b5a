// One notify tick on a dBase-file project that mails M newly matching records
// (default 1,000) by SMTP to a server on 127.0.0.1 that accepts and
// discards each message (bench/null_smtp_server.h, in C++ and threaded, so
// the client is what is timed), one message per record, through the outbox and the SMTP library of
// this build. Beside it, in the same run, a minimal client sends the same
// number of messages of the same size over one connection with libcurl.
// The two take turns against the same sink for several rounds (default 9,
// the order swapped every round, so a load that comes and goes on a shared
// machine falls on both alike); the summary prints each round's rates,
// wall and process CPU times, and the medians of the rates and of the
// rounds' ratios.
//
// The table Bugs holds N records (default 10,000), of which M are closed; one
// notification rule ("(Status is (Closed))", Target "Address") mails each
// closed record to one internet address. The flag table is emptied before
// each tick, so all M records newly match every time.
//
// The tick's time is split into three phases by timers around the calls the
// notify action makes: the database (selection, flags, record retrieval and
// column reads), delivery (the mail sender's batches: outbox files, their
// flush, SMTP, the outbox's bookkeeping) and message composition (the rest:
// value formatting, body and subject building, the tick's start and end).
//
// Sizes: VIGILO_BENCH_RECORDS, VIGILO_BENCH_MATCHES; rounds:
// VIGILO_BENCH_ROUNDS (at least 5). The SMTP library is
// VIGILO_SMTP_LIBRARY, else the one next to this program in the build tree.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/bench_main.h"
#include "bench/null_smtp_server.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "data/date_settings.h"
#include "data/field_def.h"
#include "data/log_stream.h"
#include "data/server_paths.h"
#include "notify/database_notify_access.h"
#include "notify/mail_sender.h"
#include "notify/notify_rules.h"
#include "platform/sql/database.h"
#include "platform/xbase/dbf_table.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/table_notify.h"
#include "platform/smtp/mail_message.h"
#include "platform/smtp/smtp_client.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

using Clock = std::chrono::steady_clock;

struct Sizes {
  long records = EnvSize("VIGILO_BENCH_RECORDS", 10000);
  long matches = EnvSize("VIGILO_BENCH_MATCHES", 1000);
};

bool IsClosed(long form_id, const Sizes& sizes) {
  const long step = sizes.records / sizes.matches;
  return step > 0 && form_id % step == 0 && form_id / step <= sizes.matches;
}

CFieldDef Field(const std::string& name, int type, int width) {
  CFieldDef field(1);
  field.name = name;
  field.label = name;
  field.type = type;
  field.width = static_cast<uint32_t>(width);
  field.flags = 1;
  return field;
}

void UseBuiltSmtpLibrary() {
  if (std::getenv("VIGILO_SMTP_LIBRARY") != nullptr) return;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  const std::filesystem::path library =
      self.parent_path().parent_path() / "platform/smtp/libvgsmtp.so";
  setenv("VIGILO_SMTP_LIBRARY", library.c_str(), 1);
}

// Time spent in each phase, summed over a tick.
struct PhaseTimes {
  double database = 0;
  double delivery = 0;
  void Clear() { *this = PhaseTimes{}; }
};
PhaseTimes g_phases;

class Timer {
 public:
  explicit Timer(double& sum) : sum_(sum), start_(Clock::now()) {}
  ~Timer() { sum_ += std::chrono::duration<double>(Clock::now() - start_).count(); }

 private:
  double& sum_;
  Clock::time_point start_;
};

// A mail sender that times what it delivers (the flag inserts it makes are
// the database's) and counts the messages.
class TimedSender : public CMailSender {
 public:
  explicit TimedSender(LogStream* log) : CMailSender(Options{log, {}, {}, {}, {}, false}) {}
  void FlushSubmissions() override {
    const double database = g_phases.database;
    const auto start = Clock::now();
    CMailSender::FlushSubmissions();
    g_phases.delivery += std::chrono::duration<double>(Clock::now() - start).count() -
                         (g_phases.database - database);
  }
  bool Submit(const NotifyMessage& message, const std::function<bool()>& flag) override {
    ++messages;
    if (last_subject.empty()) {
      last_subject = message.subject;
      last_body = message.body;
    }
    return CMailSender::Submit(message, flag);
  }
  long messages = 0;
  std::string last_subject, last_body;  // a sample for the minimal client
};

class TimedRow : public NotifyRow {
 public:
  explicit TimedRow(std::unique_ptr<NotifyRow> row) : row_(std::move(row)) {}
  ~TimedRow() override {
    Timer timer(g_phases.database);  // closing the result set
    row_.reset();
  }
  std::optional<std::string> Text(std::string_view column) override {
    Timer timer(g_phases.database);
    return row_->Text(column);
  }
  bool Next() override {
    Timer timer(g_phases.database);
    return row_->Next();
  }

 private:
  std::unique_ptr<NotifyRow> row_;
};

// The table's database access with every call timed.
class TimedAccess : public NotifyTableAccess {
 public:
  explicit TimedAccess(NotifyTableAccess& access) : access_(access) {}
  std::string FindNewRecords(const CNotifyRule& rule) override {
    Timer timer(g_phases.database);
    return access_.FindNewRecords(rule);
  }
  void InsertFlags(const std::string& list, int32_t rule_id) override {
    Timer timer(g_phases.database);
    access_.InsertFlags(list, rule_id);
  }
  std::unique_ptr<NotifyRow> Retrieve(const std::string& statement) override {
    Timer timer(g_phases.database);
    std::unique_ptr<NotifyRow> row = access_.Retrieve(statement);
    return row ? std::make_unique<TimedRow>(std::move(row)) : nullptr;
  }
  bool RetrievesBatches() const override { return access_.RetrievesBatches(); }
  bool FlagRecord(long long form_id, int32_t rule_id) override {
    Timer timer(g_phases.database);
    return access_.FlagRecord(form_id, rule_id);
  }
  std::vector<bool> FlagRecords(const std::vector<long long>& form_ids,
                                int32_t rule_id) override {
    Timer timer(g_phases.database);
    return access_.FlagRecords(form_ids, rule_id);
  }

 private:
  NotifyTableAccess& access_;
};

// Installation files: program INI, morvik.ini with the SMTP setting, the
// project table with its INI file.
class Dataset {
 public:
  Dataset(const Sizes& sizes, const std::string& smtp_server) : sizes_(sizes) {
    root_ = install_.program_dir();
    project_dir_ = install_.root() + "/proj";
    std::filesystem::create_directories(project_dir_);
    const std::string morvik = install_.morvik_ini();
    WriteProfileString(morvik, "Orvik Dsn", "Proj", project_dir_);
    WriteProfileString(morvik, "Mail", "SMTP Mail",
                       Format("1,SMTP,%s,0 vigilo@bench.example,", smtp_server.c_str()));
    const std::string ini = project_dir_ + "/Bugs.INI";
    WriteProfileString(ini, "Morvane Orvik", "ChngHist Datafile", "BugsHist.dbf");
    WriteProfileString(ini, "Morvane Orvik", "FormNames", "Bugs");
    const CFieldDef fields[] = {Field("Title", 0, 40), Field("Status", 0, 10),
                                Field("Owner", 9, 20), Field("Priority", 1, 4)};
    int n = 0;
    for (const CFieldDef& field : fields) {
      WriteProfileString(ini, "Bugs", Format("Field%d", ++n), FieldDefLine(field));
    }
    auto bugs = DbfTable::Create(project_dir_ + "/Bugs.dbf",
                                 {{"FormID", 'N', 11, 0}, {"ATrail", 'M', 10, 0},
                                  {"Title", 'C', 40, 0}, {"Status", 'C', 10, 0},
                                  {"Owner", 'C', 20, 0}, {"Priority", 'N', 4, 0}});
    for (long id = 1; id <= sizes_.records; ++id) {
      bugs->AppendStart();
      bugs->AssignLong(0, id);
      bugs->AssignText(1, Format("Opened by ann\r\nRecord %ld reproduced on the build farm", id));
      bugs->AssignText(2, Format("Defect number %ld in the report module", id));
      bugs->AssignText(3, IsClosed(id, sizes_) ? "Closed" : "Open");
      bugs->AssignText(4, "bob");
      bugs->AssignLong(5, id % 5);
      bugs->AppendWrite();
    }
    bugs->Close();
    DbfTable::Create(project_dir_ + "/BugsHist.dbf",
                     {{"FormID", 'N', 11, 0}, {"ChngDate", 'C', 12, 0}, {"ChngBy", 'C', 10, 0},
                      {"ChngWhat", 'C', 10, 0}, {"ChngFrom", 'C', 20, 0}, {"ChngTo", 'C', 20, 0}})
        ->Close();
  }
  const std::string& root() const { return root_; }
  const std::string& project_dir() const { return project_dir_; }

 private:
  Sizes sizes_;
  testing::TestInstallation install_;
  std::string root_;  // the program directory
  std::string project_dir_;
};

// The service's objects for the project, with the mail sender and the rule.
class Engine {
 public:
  explicit Engine(const Dataset& data) : log_([&data] { return data.root() + "/vglog.ini"; }) {
    SetProgramDirectory(data.root());
    settings_ = std::make_unique<CServerPaths>();
    sender_ = std::make_unique<TimedSender>(&log_);
    sender_->InitMailSystems();
    if (!sender_->systems().smtp_ready()) throw std::runtime_error("the SMTP library did not load");
    ProjectSource source;
    source.key = "0\\ORVIK\\Proj";
    source.directory = data.project_dir();
    source.ini_path = data.project_dir() + "/Proj.INI";
    source.connection_string = Format(
        "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=%s;DriverId=277;DSN=;",
        data.project_dir().c_str());
    project_ = std::make_unique<CProject>(0, "ORVIK", "Proj", source, settings_.get(),
                                          sender_.get(), &log_);
    if (!project_->OpenProject()) throw std::runtime_error("cannot open the dBase project");
    CRule record;
    record.rule_id = 1;
    record.db_type = 0;
    record.dsn = "ORVIK";
    record.db_table = "Proj\\Bugs";
    record.action = "Notify";
    record.target = "Address";
    record.values = "dev@bench.example";
    record.cond = "(Status is (Closed))";
    project_->AddRuleToProject(record);
    if (project_->tables().empty() || !table().notify_rules) {
      throw std::runtime_error("the rule did not load:\n" + log_.Text());
    }
  }

  CProjectTable& table() { return *project_->tables()[0]; }
  Database& db() { return project_->database(); }
  long messages() const { return sender_->messages; }

  // The notify action as the table runs it, with the database calls timed.
  void Tick() {
    CProjectTable& t = table();
    NotifyTableInfo info;
    info.table_id = t.key();
    info.table_from = t.names().from_table;
    info.table_name = t.name();
    info.db_type = 0;
    info.fields = &t.field_defs;
    info.date_settings = DateSettingsOf(*settings_);
    info.log = &log_;
    info.mail_sender = sender_.get();
    ProjectTableAccess access(t);
    TimedAccess timed(access);
    sender_->BeginTick();
    RunNotifyRules(t.notify_rules, info, timed);
    sender_->EndTick();
  }
  const TimedSender& sender() const { return *sender_; }
  size_t Pending() { return sender_->outbox().List().size(); }
  // Failures would make a tick look fast: none may be logged.
  void CheckLog() {
    const std::string text = log_.Text();
    if (text.find("ODBC Reported Error") != std::string::npos ||
        text.find("Mail delivery failed") != std::string::npos ||
        text.find("Mail not queued") != std::string::npos ||
        text.find("Mail refused") != std::string::npos) {
      throw std::runtime_error("the tick failed:\n" + text.substr(0, 2000));
    }
    log_.Flush(kLogRecreate);
  }

 private:
  LogStream log_;
  std::unique_ptr<CServerPaths> settings_;
  std::unique_ptr<TimedSender> sender_;
  std::unique_ptr<CProject> project_;
};

struct World {
  Sizes sizes;
  std::unique_ptr<NullSmtpServer> sink;
  std::unique_ptr<Dataset> data;
  std::unique_ptr<Engine> engine;
};

World& TheWorld() {
  static World world = [] {
    World w;
    UseBuiltSmtpLibrary();
    w.sink = std::make_unique<NullSmtpServer>();
    w.data = std::make_unique<Dataset>(w.sizes, w.sink->host_port());
    w.engine = std::make_unique<Engine>(*w.data);
    return w;
  }();
  return world;
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Wall and process CPU time of one side of a round.
struct Span {
  double wall = 0;
  double cpu = 0;
};

template <typename Work>
Span Measure(Work&& work) {
  const double cpu = ProcessCpuSeconds();
  const auto start = Clock::now();
  work();
  Span span;
  span.wall = std::chrono::duration<double>(Clock::now() - start).count();
  span.cpu = ProcessCpuSeconds() - cpu;
  return span;
}

// One round of each side, for the summary.
struct Round {
  Span vigilo;
  Span minimal;
  PhaseTimes phases;
};
std::vector<Round> g_rounds;

// One notify tick: every closed record newly matches, so each is mailed.
Span VigiloTick(World& w) {
  w.engine->db().ExecuteSQL("DELETE FROM BugsVGLS");
  w.engine->CheckLog();
  const long before = w.engine->messages();
  g_phases.Clear();
  Span span = Measure([&w] { w.engine->Tick(); });
  const long sent = w.engine->messages() - before;
  if (sent != w.sizes.matches) {
    throw std::runtime_error(Format("%ld messages in a tick, %ld expected", sent,
                                    w.sizes.matches));
  }
  w.engine->CheckLog();
  // Every message was taken by the server: nothing waits in the outbox.
  if (w.engine->Pending() != 0) throw std::runtime_error("messages left in the outbox");
  return span;
}

// The yardstick: the same number of messages of the same size, composed once
// and sent one after another over one libcurl connection (opened for the
// round, as a tick opens its session), with no outbox, no flag table and no
// record retrieval.
Span MinimalClientRound(World& w, const std::string& text) {
  const std::string url = mail::SmtpUrlForServer(w.sink->host_port());
  return Measure([&] {
    mail::SmtpClient client;
    for (long i = 0; i < w.sizes.matches; ++i) {
      mail::SmtpOutcome outcome =
          client.Send(url, "vigilo@bench.example", {"dev@bench.example"}, text, {});
      if (!outcome.ok()) throw std::runtime_error(outcome.text);
    }
  });
}

long EnvRounds() { return std::max(5L, EnvSize("VIGILO_BENCH_ROUNDS", 9)); }

// Vigilo and the minimal client take turns against the same sink, the order
// swapped every round, so that a load that comes and goes on a shared machine
// falls on both alike; each figure is the median of its rounds.
void BM_NotifyTick(benchmark::State& state) {
  World& w = TheWorld();
  if (w.engine->sender().last_subject.empty()) VigiloTick(w);  // a sample message
  mail::OutgoingMail mail;
  mail.from = "vigilo@bench.example";
  mail.to = {"dev@bench.example"};
  mail.subject = w.engine->sender().last_subject;
  mail.body = w.engine->sender().last_body;
  const std::string text = mail::ComposeMessage(mail);
  for (auto _ : state) {
    Round round;
    if (g_rounds.size() % 2 == 0) {
      round.vigilo = VigiloTick(w);
      round.phases = g_phases;
      round.minimal = MinimalClientRound(w, text);
    } else {
      round.minimal = MinimalClientRound(w, text);
      round.vigilo = VigiloTick(w);
      round.phases = g_phases;
    }
    state.SetIterationTime(round.vigilo.wall);
    g_rounds.push_back(round);
  }
  std::vector<double> vigilo, minimal, ratio;
  for (const Round& round : g_rounds) {
    vigilo.push_back(static_cast<double>(w.sizes.matches) / round.vigilo.wall);
    minimal.push_back(static_cast<double>(w.sizes.matches) / round.minimal.wall);
    ratio.push_back(round.vigilo.wall / round.minimal.wall);
  }
  state.counters["messages_per_s"] = Median(vigilo);
  state.counters["minimal_per_s"] = Median(minimal);
  state.counters["ratio"] = Median(ratio);
}

BENCHMARK(BM_NotifyTick)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(EnvRounds());

void PrintSummary() {
  if (g_rounds.empty()) return;
  const Sizes sizes;
  const double matches = static_cast<double>(sizes.matches);
  std::vector<double> vigilo, minimal, ratio, vigilo_cpu, minimal_cpu, cpu_ratio, database,
      delivery, composition;
  std::printf("\n%ld records, %ld newly matching records mailed per tick, %zu rounds\n",
              sizes.records, sizes.matches, g_rounds.size());
  std::printf("round   Vigilo msg/s (cpu ms)   minimal msg/s (cpu ms)   ratio\n");
  int n = 0;
  for (const Round& round : g_rounds) {
    vigilo.push_back(matches / round.vigilo.wall);
    minimal.push_back(matches / round.minimal.wall);
    ratio.push_back(round.vigilo.wall / round.minimal.wall);
    vigilo_cpu.push_back(round.vigilo.cpu);
    minimal_cpu.push_back(round.minimal.cpu);
    cpu_ratio.push_back(round.vigilo.cpu / round.minimal.cpu);
    database.push_back(round.phases.database / round.vigilo.wall);
    delivery.push_back(round.phases.delivery / round.vigilo.wall);
    composition.push_back(1 - database.back() - delivery.back());
    std::printf("%5d   %12.1f (%6.0f)   %13.1f (%6.0f)   %5.2f\n", ++n, vigilo.back(),
                1000 * round.vigilo.cpu, minimal.back(), 1000 * round.minimal.cpu,
                ratio.back());
  }
  std::printf("medians: database %5.1f %%   composition %5.1f %%   delivery %5.1f %% of a tick\n",
              100 * Median(database), 100 * Median(composition), 100 * Median(delivery));
  std::printf("process CPU per message: Vigilo %.0f us, minimal client %.0f us; the rounds' "
              "CPU ratio %.2f (median)\n",
              1e6 * Median(vigilo_cpu) / matches, 1e6 * Median(minimal_cpu) / matches,
              Median(cpu_ratio));
  std::printf("minimal one-connection client: %.1f messages/s (median)\n", Median(minimal));
  std::printf("Vigilo: %.1f messages/s (median); the minimal client is %.2fx as fast, median of "
              "the rounds' ratios (goal: 1.5x or less)\n",
              Median(vigilo), Median(ratio));
}

}  // namespace
}  // namespace vigilo

int main(int argc, char** argv) {
  return vigilo::RunBenchmarks(argc, argv, "notify_tick_bench", vigilo::PrintSummary);
}
