// TFD_BuildImage of a store with a 4 MiB firmware (machine code) and a loader,
// on one thread and on every core. Wall-clock time, since the work is spread
// over threads; bytes processed are the store's bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "codec/chunk_compression.h"
#include "tfd/tfd_store.h"

namespace {

// Machine code: the system's executables one after another, repeated until
// size bytes (the same sample the codec benchmarks take their code from).
std::vector<uint8_t> MachineCode(size_t size) {
  std::vector<uint8_t> data;
  for (const char* path : {"/usr/bin/cmake", "/usr/bin/perl", "/bin/bash"}) {
    std::ifstream file(path, std::ios::binary);
    data.insert(data.end(), std::istreambuf_iterator<char>(file), {});
  }
  if (data.empty()) data.assign(size, 0x90);
  // Doubled until long enough (a vector may not insert a range of itself).
  for (size_t have = data.size(); have < size; have *= 2) {
    data.resize(2 * have);
    std::copy_n(data.begin(), have, data.begin() + static_cast<ptrdiff_t>(have));
  }
  data.resize(size);
  return data;
}

void BM_TfdBuildImage(benchmark::State& state) {
  auto store = std::make_unique<tolv::TfdStore>();
  const std::vector<uint8_t> firmware = MachineCode(4u << 20);
  const std::vector<uint8_t> loader(firmware.begin(), firmware.begin() + 65536);
  tolv::TFD_SetBlock(*store, 1, firmware.data(), firmware.size());
  tolv::TFD_SetBlock(*store, 0, loader.data(), loader.size());
  tolv::Block_SetThreadCount(static_cast<int>(state.range(0)));
  std::vector<uint8_t> image;
  for (auto _ : state) {
    if (tolv::TFD_BuildImage(*store, 406, image) != 0) state.SkipWithError("build failed");
    benchmark::DoNotOptimize(image.data());
  }
  tolv::Block_SetThreadCount(0);
  state.counters["threads"] = static_cast<double>(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(firmware.size() + loader.size()));
}
BENCHMARK(BM_TfdBuildImage)
    ->Arg(1)
    ->Arg(static_cast<int64_t>(std::max(1u, std::thread::hardware_concurrency())))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
