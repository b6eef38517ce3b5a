// The main routine the benchmarks that print a summary share: runs the
// benchmarks Google Benchmark was asked for, reports a failed data set-up as
// an error instead of an abort, then prints the benchmark's own summary
// (ratios against its anchors).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>

namespace vigilo {

inline int RunBenchmarks(int argc, char** argv, const char* name, void (*summary)()) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", name, error.what());
    return 1;
  }
  benchmark::Shutdown();
  summary();
  return 0;
}

}  // namespace vigilo
