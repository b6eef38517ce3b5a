// Filtered scans of a 1,000,000-record dBase table through DbfQuery, beside
// the time to read the same file's bytes from the page cache. The target is
// a filtered scan within 2.5 times of the plain read. BM_Ratios runs the read
// and the three scans in turn, seven rounds, and gives the medians' ratios by
// wall time and by CPU time, as counters and as one line naming whether all
// three shapes are within the target on both.
//
// The table (a membership-like table of 73-byte records, about 73 MB) is
// generated once in a temporary directory and removed at exit.
#include <fcntl.h>
#include <time.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/bench_figures.h"
#include "common/format.h"
#include "platform/xbase/dbf_query.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

constexpr uint32_t kRecords = 1000000;

class BenchTable {
 public:
  BenchTable() {
    dir_ = temp_.path();
    path_ = dir_ + "/usringrp.dbf";
    auto table = DbfTable::Create(path_, {{"UserName", 'C', 20, 0}, {"GrpName", 'C', 20, 0},
                                          {"DbType", 'N', 8, 0}, {"Dsn", 'C', 16, 0},
                                          {"Since", 'D', 8, 0}});
    size_t header = table->header_length();
    table->Close();
    // Records are written in bulk: appending one by one under the lock would
    // measure the file system, not the scan.
    static const char* kGroups[] = {"dev", "devops", "qa", "ops", "support",
                                    "sales", "Dev", "dev2", "admin", "docs"};
    static const char* kDsns[] = {"Bugs", "BUGS", "Tasks", "bugs"};
    std::string records;
    records.reserve(size_t(kRecords) * 73 + 1);
    for (uint32_t i = 0; i < kRecords; ++i) {
      records += Format(" %-20s%-20s%8u%-16s%04u%02u%02u", Format("user%u", i).c_str(),
                        kGroups[i % 10], i % 4, kDsns[i % 4], 2000 + i % 25, 1 + i % 12,
                        1 + i % 28);
    }
    records += '\x1A';
    std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(header));
    file.write(records.data(), static_cast<std::streamsize>(records.size()));
    char count[4] = {char(kRecords & 0xFF), char((kRecords >> 8) & 0xFF),
                     char((kRecords >> 16) & 0xFF), char(kRecords >> 24)};
    file.seekp(4);
    file.write(count, 4);
  }
  const std::string& path() const { return path_; }

 private:
  testing::TempDir temp_;
  std::string dir_;
  std::string path_;
};

const BenchTable& Table() {
  static BenchTable table;
  return table;
}

void BM_ReadFileBytes(benchmark::State& state) {
  const std::string& path = Table().path();
  std::string buffer(256 * 1024, '\0');
  size_t total = 0;
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY);
    total = 0;
    ssize_t n;
    while ((n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(total))) > 0) {
      total += static_cast<size_t>(n);
    }
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
}
BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMillisecond);

void FilteredScan(benchmark::State& state, const char* filter) {
  auto table = DbfTable::Open(Table().path(), false);
  DbfQuery query(*table);
  query.SetQuery(filter);
  size_t matches = 0;
  for (auto _ : state) {
    matches = 0;
    for (bool on = query.QueryFirst(); on; on = query.QueryNext()) ++matches;
  }
  state.counters["matches"] = static_cast<double>(matches);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          (table->header_length() + int64_t(kRecords) * table->record_length()));
}

void BM_FilteredScanGroup(benchmark::State& state) {
  FilteredScan(state, "GrpName = 'dev    '");
}
BENCHMARK(BM_FilteredScanGroup)->Unit(benchmark::kMillisecond);

void BM_FilteredScanRuleFilter(benchmark::State& state) {
  FilteredScan(state, "(DbType = 1) .AND. (UPPER(Dsn) = UPPER('BUGS   '))");
}
BENCHMARK(BM_FilteredScanRuleFilter)->Unit(benchmark::kMillisecond);

void BM_FilteredScanDateRange(benchmark::State& state) {
  FilteredScan(state, "DTOS(Since) >= '20100101' .AND. DTOS(Since) <= '20101231'");
}
BENCHMARK(BM_FilteredScanDateRange)->Unit(benchmark::kMillisecond);

size_t ReadBytes(const std::string& path, std::string& buffer) {
  int fd = ::open(path.c_str(), O_RDONLY);
  size_t total = 0;
  ssize_t n;
  while ((n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(total))) > 0) {
    total += static_cast<size_t>(n);
  }
  ::close(fd);
  return total;
}

void BM_Ratios(benchmark::State& state) {
  const std::string& path = Table().path();
  auto table = DbfTable::Open(path, false);
  const char* filters[] = {"GrpName = 'dev    '",
                           "(DbType = 1) .AND. (UPPER(Dsn) = UPPER('BUGS   '))",
                           "DTOS(Since) >= '20100101' .AND. DTOS(Since) <= '20101231'"};
  const char* names[] = {"group", "rule", "date_range"};
  std::vector<std::unique_ptr<DbfQuery>> queries;
  for (const char* filter : filters) {
    queries.push_back(std::make_unique<DbfQuery>(*table));
    queries.back()->SetQuery(filter);
  }
  std::string buffer(256 * 1024, '\0');
  // Wall time, and the thread's CPU time (user and system: the kernel's copy
  // of the file's pages counts), which other programs on a shared machine
  // disturb less.
  struct Times {
    std::vector<double> wall, cpu;
  };
  auto measure = [](Times& times, auto&& run) {
    timespec cpu_start{}, cpu_end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu_start);
    auto start = std::chrono::steady_clock::now();
    run();
    times.wall.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu_end);
    times.cpu.push_back(double(cpu_end.tv_sec - cpu_start.tv_sec) +
                        1e-9 * double(cpu_end.tv_nsec - cpu_start.tv_nsec));
  };
  Times read;
  std::vector<Times> scans(3);
  for (auto _ : state) {
    for (int round = 0; round < 7; ++round) {
      measure(read, [&] { benchmark::DoNotOptimize(ReadBytes(path, buffer)); });
      for (size_t q = 0; q < queries.size(); ++q) {
        measure(scans[q], [&] {
          size_t matches = 0;
          for (bool on = queries[q]->QueryFirst(); on; on = queries[q]->QueryNext()) ++matches;
          benchmark::DoNotOptimize(matches);
        });
      }
    }
    state.SetIterationTime(Median(read.wall));
  }
  state.counters["read_ms"] = 1000 * Median(read.wall);
  constexpr double kTarget = 2.5;
  bool within = true;
  std::string wall_text, cpu_text;
  for (size_t q = 0; q < queries.size(); ++q) {
    const double wall = Median(scans[q].wall) / Median(read.wall);
    const double cpu = Median(scans[q].cpu) / Median(read.cpu);
    state.counters[std::string("ratio_") + names[q]] = wall;
    state.counters[std::string("cpu_ratio_") + names[q]] = cpu;
    within = within && wall <= kTarget && cpu <= kTarget;
    wall_text += Format(" %s %.2f", names[q], wall);
    cpu_text += Format(" %s %.2f", names[q], cpu);
  }
  std::printf("xBase: all three shapes within %.1fx of reading the bytes: %s (wall%s; CPU%s)\n",
              kTarget, within ? "yes" : "NO", wall_text.c_str(), cpu_text.c_str());
}
BENCHMARK(BM_Ratios)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace vigilo

BENCHMARK_MAIN();
