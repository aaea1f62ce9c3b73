// The transfer log's cost on a serial download (serial_log_cost.h): compare
// serial_s of log:1 with log:0 (goal: at most 10% more). The same figures on
// Windows, where Google Benchmark is not built: serial_log_cost.exe.
#include <benchmark/benchmark.h>

#include "serial_log_cost.h"

namespace {

void BM_SerialDownloadLog(benchmark::State& state) {
  tolv::bench::SerialLogCost cost;
  for (auto _ : state) cost = tolv::bench::SerialLogCost_Measure(state.range(0) == 1, 9);
  state.counters["cpu_s"] = cost.cpuSeconds;
  state.counters["line_s"] = cost.lineSeconds;
  state.counters["serial_s"] = cost.serialSeconds;
}
BENCHMARK(BM_SerialDownloadLog)->ArgName("log")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
