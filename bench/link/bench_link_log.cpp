// What the transfer log costs a serial download, on any system (Windows
// too): the link fetches a 64 KiB loader from the tests' scripted receiver
// over a fake serial line, with "Log transfer" off and on. The fake line moves
// its bytes at once, so the wall time is what the link, the log and the dump
// cost; line_s adds the time the same bytes take on a 115200-baud line
// (11,520 bytes per second: each 255-byte chunk a 12-byte request and a
// reply of 8 bytes and the data, and 20 bytes for the block's size), and
// serial_s is the sum, an upper bound of the download over a real port.
// Compare serial_s of log:1 with log:0 (goal: at most 10% more).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fake_line.h"
#include "link/link.h"

namespace {

using namespace tolv;
using Clock = std::chrono::steady_clock;

constexpr int32_t kBlockBytes = 65536;
constexpr double kLineBytesPerSecond = 11520.0;

double LineSeconds(int32_t blockBytes) {
  const int32_t chunks = (blockBytes + 254) / 255;
  return (20.0 + chunks * (12.0 + 8.0) + blockBytes) / kLineBytesPerSecond;
}

void BM_SerialDownloadLog(benchmark::State& state) {
  const bool log = state.range(0) == 1;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tolv-bench-link-log";
  std::filesystem::create_directories(dir);
  test::FakeClock clock;
  auto line = std::make_shared<test::FakeLine>(clock, false);
  Link link(test::MakeDevices(line));
  test::MiniReceiver receiver(line);
  receiver.blocks[0] = std::vector<uint8_t>(kBlockBytes);
  for (int32_t i = 0; i < kBlockBytes; ++i)
    receiver.blocks[0][static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7);
  if (log) link.SetLogFile((dir / "TolvPack.log").string());
  if (link.Open("COM1", {}) != 0) return state.SkipWithError("no port");
  receiver.Announce(5);
  if (link.DownloadMode() != 0) return state.SkipWithError("no download mode");
  std::vector<uint8_t> buffer(kBlockBytes);
  double seconds = 0;
  for (auto _ : state) {
    int32_t size = 0;
    const auto start = Clock::now();
    if (link.TransferBlock(0, buffer.data(), kBlockBytes, &size) != 0 || size != kBlockBytes)
      return state.SkipWithError("transfer failed");
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    line->writes.clear();
  }
  link.End();
  link.Close();
  link.SetLogFile("");
  const double iterations = static_cast<double>(state.iterations());
  state.counters["cpu_s"] = seconds / iterations;
  state.counters["line_s"] = LineSeconds(kBlockBytes);
  state.counters["serial_s"] = seconds / iterations + LineSeconds(kBlockBytes);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_SerialDownloadLog)
    ->ArgName("log")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
