#include "flash_test_util.h"

#include <algorithm>
#include <random>

#include "codec/block_codec.h"
#include "test_support.h"

namespace tolv::test {

uint16_t BitwiseCrc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

std::vector<uint8_t> SettingsLikeImage(uint32_t seed, size_t size) {
  std::vector<uint8_t> image(size, 0xFF);
  std::mt19937 rng(seed);
  const std::vector<uint8_t> names = Text(4096);
  // Records of 48 bytes fill the first part of every 8 kB: a number, a name,
  // frequencies and flags; the rest of each piece is erased flash or zeros.
  for (size_t piece = 0; piece + 8192 <= size; piece += 8192) {
    const size_t recordCount = rng() % 40;
    for (size_t r = 0; r < recordCount; ++r) {
      uint8_t* record = image.data() + piece + r * 48;
      record[0] = static_cast<uint8_t>(r >> 8);
      record[1] = static_cast<uint8_t>(r);
      const size_t nameAt = rng() % (names.size() - 24);
      std::copy_n(names.begin() + static_cast<std::ptrdiff_t>(nameAt), 24, record + 2);
      for (int i = 26; i < 34; ++i) record[i] = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0);
      std::fill(record + 34, record + 48, 0x00);
    }
    if (rng() % 3 == 0)
      std::fill(image.begin() + static_cast<std::ptrdiff_t>(piece + 4096),
                image.begin() + static_cast<std::ptrdiff_t>(piece + 8192), 0x00);
  }
  return image;
}

std::optional<std::vector<uint8_t>> DataWithStreamLength(size_t size, size_t streamLength) {
  std::vector<uint8_t> stream(static_cast<size_t>(Block_CompressBound(static_cast<int32_t>(size))));
  auto streamSize = [&](const std::vector<uint8_t>& data) {
    return static_cast<size_t>(Block_Compress(data.data(), static_cast<int32_t>(size), stream.data()));
  };
  for (uint32_t seed = 1; seed < 200; ++seed) {
    const std::vector<uint8_t> noise = RandomBytes(seed, size);
    auto candidate = [&](size_t noisy) {
      std::vector<uint8_t> data(size, 0x00);
      std::copy_n(noise.begin(), noisy, data.begin());
      return data;
    };
    // The stream grows with the noise (past 32,762 bytes the compressor gives
    // a plain copy); find the shortest noise whose stream reaches the length,
    // then look at it and its neighbours.
    size_t low = 0;
    size_t high = size;
    while (low < high) {
      const size_t mid = (low + high) / 2;
      const std::vector<uint8_t> data = candidate(mid);
      const size_t n = streamSize(data);
      if (n >= streamLength || std::equal(data.begin(), data.end(), stream.begin()))
        high = mid;
      else
        low = mid + 1;
    }
    for (size_t noisy = low > 2 ? low - 2 : 0; noisy <= std::min(size, low + 2); ++noisy) {
      std::vector<uint8_t> data = candidate(noisy);
      if (streamSize(data) == streamLength && !std::equal(data.begin(), data.end(), stream.begin()))
        return data;
    }
  }
  return std::nullopt;
}

namespace {
constexpr size_t kDirectory = 64;  // big-endian form
uint32_t Read32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
         static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}
}  // namespace

uint32_t EntryBlockOffset(const std::vector<uint8_t>& packed, int j) {
  return Read32(packed, kDirectory + 64 * static_cast<size_t>(j) + 4);
}

uint32_t EntryBlockLength(const std::vector<uint8_t>& packed, int j) {
  return Read32(packed, kDirectory + 64 * static_cast<size_t>(j) + 8);
}

void SetEntryField32(std::vector<uint8_t>& packed, int j, size_t fieldOffset, uint32_t value) {
  uint8_t* p = packed.data() + kDirectory + 64 * static_cast<size_t>(j) + fieldOffset;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void SetEntryBlockCrc(std::vector<uint8_t>& packed, int j, uint16_t crc) {
  uint8_t* p = packed.data() + kDirectory + 64 * static_cast<size_t>(j);
  p[0] = static_cast<uint8_t>(crc >> 8);
  p[1] = static_cast<uint8_t>(crc);
}

void SetEntryDataCrc(std::vector<uint8_t>& packed, int j, uint16_t crc) {
  uint8_t* p = packed.data() + kDirectory + 64 * static_cast<size_t>(j) + 2;
  p[0] = static_cast<uint8_t>(crc >> 8);
  p[1] = static_cast<uint8_t>(crc);
}

void RefreshBlockCrc(std::vector<uint8_t>& packed, int j) {
  const uint32_t offset = EntryBlockOffset(packed, j);
  const uint32_t length = EntryBlockLength(packed, j);
  SetEntryBlockCrc(packed, j, BitwiseCrc16(packed.data() + offset, length));
}

}  // namespace tolv::test
