// 200 internal mails a tick, written into ORVKPOST through the mail sender,
// once with an empty table and once with 100,000 old rows. The rows of a
// tick share one connection and the process keeps the decoded table between
// ticks, so in a running daemon the old rows should cost little (goal: the
// full table within 2x of the empty one at the later ticks); the summary
// prints those and, apart, the first tick after the start, which reads the
// table whole. Two daemons, one per installation, tick in turns: their first
// ticks, then seven rounds of one later tick each (medians of wall and of
// CPU time).
//
// Sizes: VIGILO_BENCH_OLD_ROWS (default 100,000), VIGILO_BENCH_MAILS (200).
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/bench_main.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "data/log_stream.h"
#include "data/server_paths.h"
#include "notify/mail_sender.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

const long kOldRows = EnvSize("VIGILO_BENCH_OLD_ROWS", 100000);
const long kMails = EnvSize("VIGILO_BENCH_MAILS", 200);

// A bare installation whose ORVKPOST holds old_rows rows of earlier notices.
std::unique_ptr<testing::TestInstallation> MakeInstallation(long old_rows) {
  auto install = std::make_unique<testing::TestInstallation>();
  std::vector<testing::Record> rows;
  rows.reserve(static_cast<size_t>(old_rows));
  for (long row = 0; row < old_rows; ++row) {
    rows.push_back({"VIGILO", Format("user%ld", row % 50), "01/02/2025", "0", " ",
                    Format("%ld", row / 50 + 1), "Bugs.DBF"});
  }
  testing::WriteDbf(install->orvkpost_table(),
                    {{"FROM", 'C', 10, 0}, {"TO", 'C', 40, 0}, {"DATE", 'C', 10, 0},
                     {"ISNEW", 'N', 1, 0}, {"STATUS", 'C', 1, 0}, {"BUGNUM", 'N', 10, 0},
                     {"DBNAME", 'C', 40, 0}, {"MESSAGE", 'C', 80, 0}},
                    rows);
  return install;
}

// Seconds of one tick: wall and the thread's CPU time (which the other
// programs of a shared machine disturb less).
struct TickTime {
  double wall = 0;
  double cpu = 0;
};

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// One daemon's mail sender on one installation, writing internal mails
// tick after tick: its first tick reads ORVKPOST, later ones find the table
// the process kept and catch up with the file.
class Daemon {
 public:
  explicit Daemon(long old_rows)
      : install_(MakeInstallation(old_rows)),
        log_([this] { return install_->program_dir() + "/vglog.ini"; }),
        sender_(CMailSender::Options{&log_, {}, {}, {}, {}, false}) {
    SetProgramDirectory(install_->program_dir());
    sender_.InitMailSystems();
  }

  TickTime Tick() {
    SetProgramDirectory(install_->program_dir());
    const double cpu_start = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    sender_.BeginTick();
    for (long mail = 0; mail < kMails; ++mail) {
      const std::vector<std::string> records{Format("%ld", next_record_++)};
      sender_.Dispatch("body", Format("ORVIK:user%ld", mail % 50), "subject", &records,
                       "Bugs.DBF");
    }
    sender_.EndTick();
    TickTime time;
    time.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    time.cpu = ThreadCpuSeconds() - cpu_start;
    if (!log_.Text().empty()) {
      throw std::runtime_error("rows failed:\n" + log_.Text().substr(0, 2000));
    }
    return time;
  }

 private:
  std::unique_ptr<testing::TestInstallation> install_;
  LogStream log_;
  CMailSender sender_;
  long next_record_ = 5000000;  // new record numbers: every row is a new one
};

struct Summary {
  TickTime empty_first, full_first, empty_steady, full_steady;
};
std::optional<Summary> g_summary;

// The first ticks of both daemons, then rounds of one later tick of each,
// interleaved so that the machine's load falls on both alike. Ticks are
// apart by more than a file system timestamp granule, as a daemon's are, so
// each later tick also checks ORVKPOST's bytes once after the previous
// tick's own writes.
void BM_InternalMails(benchmark::State& state) {
  constexpr int kRounds = 7;
  Daemon empty(0);
  Daemon full(kOldRows);
  auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(120)); };
  for (auto _ : state) {
    Summary summary;
    pause();
    summary.empty_first = empty.Tick();
    summary.full_first = full.Tick();
    std::vector<double> empty_wall, empty_cpu, full_wall, full_cpu;
    for (int round = 0; round < kRounds; ++round) {
      pause();
      TickTime e = empty.Tick();
      TickTime f = full.Tick();
      empty_wall.push_back(e.wall);
      empty_cpu.push_back(e.cpu);
      full_wall.push_back(f.wall);
      full_cpu.push_back(f.cpu);
    }
    summary.empty_steady = {Median(empty_wall), Median(empty_cpu)};
    summary.full_steady = {Median(full_wall), Median(full_cpu)};
    state.SetIterationTime(summary.full_steady.wall);
    g_summary = summary;
  }
  SetProgramDirectory("");
}

BENCHMARK(BM_InternalMails)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void PrintSummary() {
  if (!g_summary) return;
  const Summary& s = *g_summary;
  std::printf("\n%ld internal mails a tick in a running daemon (medians of its later ticks; "
              "the goal applies here):\n"
              "  empty ORVKPOST %.4f s (CPU %.4f s), %ld old rows %.4f s (CPU %.4f s): "
              "%.2fx wall, %.2fx CPU (goal: 2x or less)\n",
              kMails, s.empty_steady.wall, s.empty_steady.cpu, kOldRows, s.full_steady.wall,
              s.full_steady.cpu, s.full_steady.wall / s.empty_steady.wall,
              s.full_steady.cpu / s.empty_steady.cpu);
  std::printf("the first tick after the start (ORVKPOST read whole):\n"
              "  empty ORVKPOST %.4f s (CPU %.4f s), %ld old rows %.4f s (CPU %.4f s): "
              "%.2fx wall, %.2fx CPU\n",
              s.empty_first.wall, s.empty_first.cpu, kOldRows, s.full_first.wall,
              s.full_first.cpu, s.full_first.wall / s.empty_first.wall,
              s.full_first.cpu / s.empty_first.cpu);
}

}  // namespace
}  // namespace vigilo

int main(int argc, char** argv) {
  return vigilo::RunBenchmarks(argc, argv, "internal_mail_bench", vigilo::PrintSummary);
}
