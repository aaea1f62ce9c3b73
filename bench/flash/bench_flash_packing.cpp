// Packing and unpacking of the packed flash-format block, the checksum report,
// and a load's unpacking with its check of every block taken.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "flash/checksums.h"
#include "flash/packed_block_check.h"
#include "flash/packing.h"
#include "workspace/flash_settings.h"

namespace {

using tolv::kFlashImageSize;
using tolv::kPackedBlockSize;

// Settings-like contents: records at the start of every 8 kB, erased flash after.
std::vector<uint8_t> SettingsImage() {
  std::vector<uint8_t> image(kFlashImageSize, 0xFF);
  uint32_t state = 99;
  for (size_t piece = 0; piece < kFlashImageSize; piece += 8192) {
    for (size_t i = 0; i < 1500; ++i) {
      state = state * 1103515245u + 12345u;
      image[piece + i] = static_cast<uint8_t>(i % 6 == 0 ? state >> 16 : (i / 24) & 0x3F);
    }
  }
  return image;
}

void BM_PackFlashData(benchmark::State& state) {
  const std::vector<uint8_t> image = SettingsImage();
  std::vector<uint8_t> packed(kPackedBlockSize);
  for (auto _ : state) {
    if (!tolv::PackFlashData(406, image.data(), packed.data())) state.SkipWithError("pack failed");
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFlashImageSize));
}
BENCHMARK(BM_PackFlashData)->Unit(benchmark::kMillisecond);

void BM_PackDefaultsData(benchmark::State& state) {
  const std::vector<uint8_t> image = SettingsImage();
  std::vector<uint8_t> packed(kPackedBlockSize);
  for (auto _ : state) {
    if (!tolv::PackDefaultsData(406, image.data(), image.data() + 0x60000, packed.data())) {
      state.SkipWithError("pack failed");
    }
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (0x60000 + 256));
}
BENCHMARK(BM_PackDefaultsData)->Unit(benchmark::kMillisecond);

void BM_UnPackFlashData(benchmark::State& state) {
  const std::vector<uint8_t> image = SettingsImage();
  std::vector<uint8_t> packed(kPackedBlockSize);
  tolv::PackFlashData(406, image.data(), packed.data());
  std::vector<uint8_t> out(kFlashImageSize);
  for (auto _ : state) {
    if (!tolv::UnPackFlashData(packed.data(), packed.size(), out.data(), out.size())) {
      state.SkipWithError("unpack failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 0x60000);
}
BENCHMARK(BM_UnPackFlashData)->Unit(benchmark::kMillisecond);

// What an STD, dump or TFD load does with the block: the unpack, then the
// length and data CRC of every block taken.
void BM_LoadUnpackSettings(benchmark::State& state) {
  const std::vector<uint8_t> image = SettingsImage();
  std::vector<uint8_t> packed(kPackedBlockSize);
  tolv::PackFlashData(406, image.data(), packed.data());
  std::vector<uint8_t> out(kFlashImageSize);
  for (auto _ : state) {
    if (!tolv::Flash_UnpackSettings(packed.data(), packed.size(), out)) state.SkipWithError("load refused");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 0x60000);
}
BENCHMARK(BM_LoadUnpackSettings)->Unit(benchmark::kMillisecond);

void BM_PackedBlockCheck(benchmark::State& state) {
  const std::vector<uint8_t> image = SettingsImage();
  std::vector<uint8_t> packed(kPackedBlockSize);
  tolv::PackFlashData(406, image.data(), packed.data());
  for (auto _ : state) {
    const tolv::PackedBlockCheck check = tolv::PackedBlock_Check(packed.data(), packed.size());
    if (!check.Ok()) state.SkipWithError("check failed");
  }
}
BENCHMARK(BM_PackedBlockCheck)->Unit(benchmark::kMillisecond);

void BM_SectionChecksums(benchmark::State& state) {
  std::vector<uint8_t> image = SettingsImage();
  for (auto _ : state) {
    tolv::Flash_WriteSectionChecksums(image.data(), image.size(), tolv::Layout_Sections(tolv::kLayoutDvbS));
    benchmark::DoNotOptimize(image.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 0x5FFFF);
}
BENCHMARK(BM_SectionChecksums)->Unit(benchmark::kMicrosecond);

}  // namespace
