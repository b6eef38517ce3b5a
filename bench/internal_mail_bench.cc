// 200 internal mails in one tick, written into ORVKPOST through the mail
// sender, once with an empty table and once with 100,000 old rows. The rows
// of a tick share one connection, so the old rows should cost little (goal:
// the full table within 2x of the empty one); the summary prints both times
// and their ratio.
//
// Sizes: VIGILO_BENCH_OLD_ROWS (default 100,000), VIGILO_BENCH_MAILS (200).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_main.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "data/log_stream.h"
#include "data/server_paths.h"
#include "notify/mail_sender.h"
#include "platform/xbase/dbf_table.h"

namespace vigilo {
namespace {

long EnvSize(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atol(value) : fallback;
}

const long kOldRows = EnvSize("VIGILO_BENCH_OLD_ROWS", 100000);
const long kMails = EnvSize("VIGILO_BENCH_MAILS", 200);

// A server directory whose ORVKPOST holds old_rows rows of earlier notices.
class Installation {
 public:
  explicit Installation(long old_rows) {
    char pattern[] = "/tmp/vigilo-internal-mail-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    std::filesystem::create_directories(root_ + "/server/orvhome");
    WriteProfileString(root_ + "/vigtab.ini", "Morvane Vigilo", "SERVERDIR", root_ + "/server");
    auto table = DbfTable::Create(root_ + "/server/ORVKPOST.dbf",
                                  {{"FROM", 'C', 10, 0}, {"TO", 'C', 40, 0}, {"DATE", 'C', 10, 0},
                                   {"ISNEW", 'N', 1, 0}, {"STATUS", 'C', 1, 0},
                                   {"BUGNUM", 'N', 10, 0}, {"DBNAME", 'C', 40, 0},
                                   {"MESSAGE", 'C', 80, 0}});
    for (long row = 0; row < old_rows; ++row) {
      table->AppendStart();
      table->AssignText(0, "VIGILO");
      table->AssignText(1, Format("user%ld", row % 50));
      table->AssignText(2, "01/02/2025");
      table->AssignLong(3, 0);
      table->AssignText(4, " ");
      table->AssignLong(5, row / 50 + 1);
      table->AssignText(6, "Bugs.DBF");
      table->AppendWrite();
    }
    table->Close();
  }
  ~Installation() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

std::map<long, double> g_seconds_per_tick;

void BM_InternalMails(benchmark::State& state) {
  const long old_rows = state.range(0);
  Installation install(old_rows);
  SetProgramDirectory(install.root());
  LogStream log([&install] { return install.root() + "/vglog.ini"; });
  CMailSender sender(CMailSender::Options{&log, {}, {}, {}, {}, false});
  sender.InitMailSystems();
  long next_record = 5000000;  // new record numbers: every row is a new one
  double total = 0;
  long ticks = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    sender.BeginTick();
    for (long mail = 0; mail < kMails; ++mail) {
      const std::vector<std::string> records{Format("%ld", next_record++)};
      sender.Dispatch("body", Format("ORVIK:user%ld", mail % 50), "subject", &records,
                      "Bugs.DBF");
    }
    sender.EndTick();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
    ++ticks;
  }
  if (!log.Text().empty()) throw std::runtime_error("rows failed:\n" + log.Text().substr(0, 2000));
  g_seconds_per_tick[old_rows] = total / static_cast<double>(ticks);
  SetProgramDirectory("");
}

BENCHMARK(BM_InternalMails)
    ->Arg(0)
    ->Arg(kOldRows)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void PrintSummary() {
  if (g_seconds_per_tick.count(0) == 0 || g_seconds_per_tick.count(kOldRows) == 0) return;
  const double empty = g_seconds_per_tick[0];
  const double full = g_seconds_per_tick[kOldRows];
  std::printf("\n%ld internal mails in one tick: %.3f s with an empty ORVKPOST, %.3f s with "
              "%ld old rows: %.2fx (goal: 2x or less)\n",
              kMails, empty, full, kOldRows, full / empty);
}

}  // namespace
}  // namespace vigilo

int main(int argc, char** argv) {
  return vigilo::RunBenchmarks(argc, argv, "internal_mail_bench", vigilo::PrintSummary);
}
