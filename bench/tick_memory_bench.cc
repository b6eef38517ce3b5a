// Peak memory of one whole daemon tick (vgservice --once) on a dBase-file
// project of N records and N change-history rows, for N = 10,000, 100,000
// and 1,000,000 (at most VIGILO_BENCH_MAX_RECORDS).
//
// 10,000,000 is measured too when VIGILO_BENCH_MAX_RECORDS allows it.
// VIGILO_BENCH_DIR names the directory the installations are written under.
//
// The installation is written by the installation writer: one project with
// table Bugs and its change history BugsHist, and 50 update rules, as in
// bench_update_tick: 25 on the record's own fields, 25 on a change in the
// history. M records (VIGILO_BENCH_MATCHES, default 1,000) are closed with
// their history rows, so the first tick updates and flags them ("matching")
// and the second finds nothing new ("quiet").
//
// Each tick is its own process; its peak resident set comes from wait4. The
// benchmark prints it in MiB and in bytes per row (records plus history
// rows), with the tick's wall time. VIGILO_BENCH_KEEP keeps the
// installations (their paths are printed) for a closer look.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/dbf_bulk_append.h"
#include "common/format.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/rule_builder.h"
#include "tests/support/test_installation.h"
#include "tools/demo/installation_writer.h"

namespace vigilo {
namespace {

constexpr int kRules = 50;
constexpr int kCategories = 25;

std::string Category(long form_id) { return Format("C%02ld", form_id % kCategories); }

struct Installed {
  std::unique_ptr<testing::TestInstallation> install;
  std::string program_dir;
  ~Installed() {
    if (install && std::getenv("VIGILO_BENCH_KEEP") != nullptr) {
      std::fprintf(stderr, "installation kept in %s\n", install->root().c_str());
      install->Keep();
    }
  }
};

// The installation with n records and n history rows, m of them closed.
std::unique_ptr<Installed> Install(long n, long m) {
  auto installed = std::make_unique<Installed>();

  demo::TableDescription bugs;
  bugs.name = "Bugs";
  bugs.fields = {
      demo::FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
      demo::FieldDescription{"Category", demo::kFieldText, 4, {}, demo::kFlagDefault, false, ""},
      demo::FieldDescription{"Priority", demo::kFieldNumber, 0, {}, demo::kFlagDefault, true, ""},
      demo::FieldDescription{"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
  };
  // VIGILO_BENCH_DIR names where the data goes (large sizes fill /tmp).
  const char* base = std::getenv("VIGILO_BENCH_DIR");
  testing::InstallationBuilder builder(base != nullptr ? base : "");
  demo::InstallationDescription& description = builder.description();
  description.projects = {demo::ProjectDescription{"Proj", "", {bugs}}};
  for (int r = 1; r <= kRules; ++r) {
    const std::string category = Format("C%02d", (r - 1) % kCategories);
    if (r <= kRules / 2) {
      description.rules.push_back(
          testing::RuleBuilder(r)
              .Update(Format("Resolution=Done %d", r))
              .When("(Status is (Closed)) .AND.(Category is (" + category + "))"));
    } else {
      description.rules.push_back(
          testing::RuleBuilder(r).Update("Priority=1").When(
              "(Status is (Open->Closed)) .AND.(Category is (" + category + "))"));
    }
  }
  installed->install = std::make_unique<testing::TestInstallation>(std::move(builder));
  const testing::TestInstallation& install = *installed->install;
  installed->program_dir = install.program_dir();

  // The rows are appended straight to the files the writer made, in large
  // blocks: a million record descriptions would cost the writer more than
  // the tick, and a write a record would cost more than the tick too.
  const std::string dir = install.TableDir("Proj", "Bugs");
  const long step = m > 0 ? n / m : 0;
  auto closed = [&](long id) { return step > 0 && id % step == 0 && id / step <= m; };
  {
    DbfBulkAppend append(dir + "/Bugs.dbf");
    DbfTable& table = append.table();
    const int form_id = table.FieldIndex("FormID"), status = table.FieldIndex("Status"),
              category = table.FieldIndex("Category"), priority = table.FieldIndex("Priority");
    for (long id = 1; id <= n; ++id) {
      append.Start();
      table.AssignLong(form_id, id);
      table.AssignText(status, closed(id) ? "Closed" : "Open");
      table.AssignText(category, Category(id));
      table.AssignLong(priority, id % 5);
      append.Add();
    }
    append.Finish();
  }
  {
    DbfBulkAppend append(dir + "/BugsHist.dbf");
    DbfTable& table = append.table();
    const int form_id = table.FieldIndex("FormID"), date = table.FieldIndex("ChngDate"),
              by = table.FieldIndex("ChngBy"), what = table.FieldIndex("ChngWhat"),
              from = table.FieldIndex("ChngFrom"), to = table.FieldIndex("ChngTo");
    long written = 0;
    auto row = [&](long id, const char* w, const char* f, const char* t) {
      append.Start();
      table.AssignLong(form_id, id);
      table.AssignText(date, "1700000000");
      table.AssignText(by, "ann");
      table.AssignText(what, w);
      table.AssignText(from, f);
      table.AssignText(to, t);
      append.Add();
      ++written;
    };
    for (long id = 1; id <= n; ++id) {
      if (closed(id)) row(id, "Status", "Open", "Closed");
    }
    for (long j = 0; written < n; ++j) row(j % n + 1, "Priority", "1", "2");
    append.Finish();
  }
  return installed;
}

struct TickUse {
  double seconds = 0;
  long peak_kib = 0;
};

TickUse RunTick(const Installed& installed) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    unsetenv("VIGILO_HOME");
    setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
    const std::string err = installed.program_dir + "/vgservice.stderr";
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 2);
      dup2(fd, 1);
    }
    execl(VIGILO_SERVICE_PROGRAM, VIGILO_SERVICE_PROGRAM, "--once", "--home",
          installed.program_dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::ifstream err(installed.program_dir + "/vgservice.stderr");
    std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    throw std::runtime_error("vgservice --once failed: " + text.substr(0, 500));
  }
  TickUse use;
  use.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  use.peak_kib = usage.ru_maxrss;
  return use;
}

void BM_TickMemory(benchmark::State& state) {
  const long n = state.range(0);
  const long m = EnvSize("VIGILO_BENCH_MATCHES", 1000);
  std::unique_ptr<Installed> installed;
  try {
    installed = Install(n, m);
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  TickUse matching, quiet;
  for (auto _ : state) {
    try {
      matching = RunTick(*installed);
      quiet = RunTick(*installed);
    } catch (const std::exception& error) {
      state.SkipWithError(error.what());
      return;
    }
    state.SetIterationTime(quiet.seconds);
  }
  const double rows = 2.0 * static_cast<double>(n);
  state.counters["matching_MiB"] = matching.peak_kib / 1024.0;
  state.counters["quiet_MiB"] = quiet.peak_kib / 1024.0;
  state.counters["matching_B_per_row"] = matching.peak_kib * 1024.0 / rows;
  state.counters["quiet_B_per_row"] = quiet.peak_kib * 1024.0 / rows;
  state.counters["matching_s"] = matching.seconds;
  state.counters["quiet_s"] = quiet.seconds;
}

void Sizes(benchmark::internal::Benchmark* b) {
  const long max = EnvSize("VIGILO_BENCH_MAX_RECORDS", 1000000);
  for (long n : {10000L, 100000L, 1000000L, 10000000L}) {
    if (n <= max) b->Arg(n);
  }
  b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
}

BENCHMARK(BM_TickMemory)->Apply(Sizes);

}  // namespace
}  // namespace vigilo

BENCHMARK_MAIN();
