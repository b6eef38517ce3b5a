// Filtered scans of a 1,000,000-record dBase table through DbfQuery, beside
// the time to read the same file's bytes from the page cache. The target is
// a filtered scan within 4 times of the plain read.
//
// The table (a membership-like table of 73-byte records, about 73 MB) is
// generated once in a temporary directory and removed at exit.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "common/format.h"
#include "platform/xbase/dbf_query.h"
#include "platform/xbase/dbf_table.h"

namespace vigilo {
namespace {

constexpr uint32_t kRecords = 1000000;

class BenchTable {
 public:
  BenchTable() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vgxbase_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    dir_ = pattern;
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
  ~BenchTable() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
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

}  // namespace
}  // namespace vigilo

BENCHMARK_MAIN();
