// What the firing history adds to a tick that sends 1,000 notifications
// (VIGILO_BENCH_MATCHES): the recorder takes each message's "queued" and
// "delivered" action as the mail sender reports it, then writes the tick
// with its 2,000 action rows and the totals in one transaction (WAL,
// synchronous=NORMAL), prunes, and writes the metrics file.
//
// The anchor is the smallest part of that tick which any notification
// costs: its message written to the outbox, made durable with the batch,
// and retired once delivered (no database, no SMTP), timed on the same
// disk. The history's share of a whole tick is smaller still than its share
// of this anchor. The two take turns for VIGILO_BENCH_ROUNDS rounds
// (default 9); the summary prints the median of each and their ratio.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/bench_main.h"
#include "common/format.h"
#include "data/activity.h"
#include "notify/outbox.h"
#include "service/activity_recorder.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

using Clock = std::chrono::steady_clock;

const long kMessages = EnvSize("VIGILO_BENCH_MATCHES", 1000);
const long kRounds = std::max(5L, EnvSize("VIGILO_BENCH_ROUNDS", 9));

// Seconds for one tick's history of kMessages notifications.
double HistoryTick(ActivityRecorder& recorder) {
  const auto start = Clock::now();
  recorder.BeginTick();
  {
    ActivityScope scope(&recorder);
    for (long record = 1; record <= kMessages; ++record) {
      ActionEvent event{0, 1, "1\\ORVIK\\Proj\\Bugs", record, kActionNotify,
                        "SMTP:someone@example.org", kOutcomeQueued, {}};
      ReportAction(event);
      event.outcome = kOutcomeDelivered;
      ReportAction(std::move(event));
    }
    CurrentActivity()->OnSelected(1, kMessages);
  }
  recorder.EndTick();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds for the outbox work of kMessages notifications.
double OutboxTick(Outbox& outbox) {
  const auto start = Clock::now();
  std::vector<OutboxEntry> entries(static_cast<size_t>(kMessages));
  std::string error;
  long record = 0;
  for (OutboxEntry& entry : entries) {
    entry.rule_id = 1;
    entry.record = ++record;
    entry.table_id = "1\\ORVIK\\Proj\\Bugs";
    entry.subject = Format("VIGILO Rule# 1 , Record# %ld of 1\\ORVIK\\Proj\\Bugs", record);
    entry.body = std::string(600, 'x');
    entry.recipients = "SMTP:someone@example.org";
    outbox.Add(entry, &error, /*sync=*/false);
  }
  outbox.Sync(&error);
  for (OutboxEntry& entry : entries) outbox.Retire(entry, &error);
  outbox.Settle();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<double> g_history, g_outbox;

void BM_HistoryAgainstOutbox(benchmark::State& state) {
  testing::TempDir dir;
  ActivityRecorder::Options options;
  options.history_path = dir.File("vghistory.db");
  options.metrics_path = dir.File("vigilo.prom");
  ActivityRecorder recorder(options);
  Outbox outbox(dir.File("vgoutbox"));
  HistoryTick(recorder);  // creates the file and its tables
  OutboxTick(outbox);
  for (auto _ : state) {
    for (long round = 0; round < kRounds; ++round) {
      if (round % 2 == 0) {
        g_history.push_back(HistoryTick(recorder));
        g_outbox.push_back(OutboxTick(outbox));
      } else {
        g_outbox.push_back(OutboxTick(outbox));
        g_history.push_back(HistoryTick(recorder));
      }
    }
  }
}
BENCHMARK(BM_HistoryAgainstOutbox)->Iterations(1)->Unit(benchmark::kMillisecond);

void Summary() {
  const double history = Median(g_history);
  const double outbox = Median(g_outbox);
  std::printf("\n%ld notifications a tick, %zu rounds\n", kMessages, g_history.size());
  std::printf("  history (2 rows a message, tick row, totals, metrics): %8.2f ms median\n",
              history * 1000);
  std::printf("  outbox alone (write, sync, retire):                  %8.2f ms median\n",
              outbox * 1000);
  std::printf("  history / outbox: %.1f %%\n", outbox > 0 ? 100 * history / outbox : 0);
}

}  // namespace
}  // namespace vigilo

int main(int argc, char** argv) {
  return vigilo::RunBenchmarks(argc, argv, "bench_history", vigilo::Summary);
}
