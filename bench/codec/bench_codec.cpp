// Throughput of the block codec on the kinds of data it carries: settings
// blocks (mostly zero with sparse records), machine code, text and random data
// (which falls back to a plain copy). Bytes processed are source bytes for
// compression and output bytes for decompression.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/block_codec.h"
#include "codec/crc16.h"

namespace {

std::vector<uint8_t> SettingsLike(size_t count) {
  std::mt19937 rng(42);
  std::vector<uint8_t> block(count, 0);
  for (size_t offset = 16; offset + 24 < count; offset += 96 + rng() % 160)
    for (size_t k = 0; k < 12 + rng() % 12; ++k) block[offset + k] = static_cast<uint8_t>(rng());
  return block;
}

// A slice of a system executable, or of this program when none is found.
std::vector<uint8_t> MachineCode(size_t count) {
  for (const char* path : {"/usr/bin/cmake", "/bin/bash", "/proc/self/exe"}) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    if (bytes.size() >= count + 65536)
      return std::vector<uint8_t>(bytes.begin() + 65536, bytes.begin() + 65536 + count);
  }
  return {};
}

std::vector<uint8_t> Text(size_t count) {
  static const char* const kWords[] = {"the",     "receiver", "keeps",    "its",       "settings", "in",
                                       "flash",   "memory",   "service",  "timer",     "group",    "and",
                                       "channel", "section",  "checksum", "before",    "loader",   "firmware",
                                       "picture", "tuner",    "signal",   "frequency", "symbol",   "rate"};
  std::mt19937 rng(7);
  std::string text;
  while (text.size() < count) {
    text += kWords[rng() % std::size(kWords)];
    text += (rng() % 12 == 0) ? ". " : " ";
  }
  return std::vector<uint8_t>(text.begin(), text.begin() + static_cast<ptrdiff_t>(count));
}

std::vector<uint8_t> Random(size_t count) {
  std::mt19937 rng(3);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

std::vector<uint8_t> DataOf(int kind) {
  switch (kind) {
    case 0: return SettingsLike(8192);
    case 1: return MachineCode(32762);
    case 2: return Text(32762);
    default: return Random(32762);
  }
}

const char* const kKindNames[] = {"settings_8k", "machine_code_32762", "text_32762", "random_32762"};

void BM_Compress(benchmark::State& state) {
  const std::vector<uint8_t> source = DataOf(static_cast<int>(state.range(0)));
  std::vector<uint8_t> dst(
      static_cast<size_t>(tolv::Block_CompressBound(static_cast<int32_t>(source.size()))));
  int32_t size = 0;
  for (auto _ : state) {
    size = tolv::Block_Compress(source.data(), static_cast<int32_t>(source.size()), dst.data());
    benchmark::DoNotOptimize(size);
  }
  state.SetLabel(kKindNames[state.range(0)]);
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(source.size());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

// Chunks small enough for the compressor's set-up to weigh: a default EEPROM
// of 256 bytes and a record-sized piece of settings.
void BM_CompressSmall(benchmark::State& state) {
  const std::vector<uint8_t> source = SettingsLike(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> dst(
      static_cast<size_t>(tolv::Block_CompressBound(static_cast<int32_t>(source.size()))));
  for (auto _ : state)
    benchmark::DoNotOptimize(
        tolv::Block_Compress(source.data(), static_cast<int32_t>(source.size()), dst.data()));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

void BM_Decompress(benchmark::State& state) {
  const std::vector<uint8_t> source = DataOf(static_cast<int>(state.range(0)));
  std::vector<uint8_t> stream(
      static_cast<size_t>(tolv::Block_CompressBound(static_cast<int32_t>(source.size()))));
  const int32_t streamSize =
      tolv::Block_Compress(source.data(), static_cast<int32_t>(source.size()), stream.data());
  if (streamSize == static_cast<int32_t>(source.size())) {
    state.SkipWithError("stored as a plain copy: nothing to decompress");
    return;
  }
  std::vector<uint8_t> out(source.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tolv::Block_Decompress(stream.data(), streamSize, out.data(), static_cast<int32_t>(out.size())));
  }
  state.SetLabel(kKindNames[state.range(0)]);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}

void BM_Crc16(benchmark::State& state) {
  const std::vector<uint8_t> data = Random(32762);
  for (auto _ : state)
    benchmark::DoNotOptimize(tolv::CRC16_Calc(data.data(), static_cast<int32_t>(data.size())));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

BENCHMARK(BM_Compress)->DenseRange(0, 3);
BENCHMARK(BM_CompressSmall)->Arg(256)->Arg(2048);
BENCHMARK(BM_Decompress)->DenseRange(0, 2);
BENCHMARK(BM_Crc16);

}  // namespace
