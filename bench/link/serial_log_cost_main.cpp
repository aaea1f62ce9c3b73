// serial_log_cost: the transfer log's cost on a serial download
// (serial_log_cost.h) as a plain program, for systems without Google
// Benchmark (the Windows cross build, run under Wine).
//   serial_log_cost [DOWNLOADS]     (default 9; the median is shown)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <utility>

#include "serial_log_cost.h"

int main(int argc, char** argv) {
  const int downloads = argc > 1 ? std::atoi(argv[1]) : 9;
  try {
    const tolv::bench::SerialLogCost off = tolv::bench::SerialLogCost_Measure(false, downloads);
    const tolv::bench::SerialLogCost on = tolv::bench::SerialLogCost_Measure(true, downloads);
    for (const auto& [name, cost] : {std::pair{"log:0", off}, std::pair{"log:1", on}})
      std::printf("%s cpu_s=%.4f line_s=%.3f serial_s=%.3f\n", name, cost.cpuSeconds, cost.lineSeconds,
                  cost.serialSeconds);
    std::printf("the log adds %.2f%% to a serial download\n",
                100.0 * (on.serialSeconds / off.serialSeconds - 1.0));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "serial_log_cost: %s\n", error.what());
    return 1;
  }
  return 0;
}
