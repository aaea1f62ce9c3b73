// Command-line helper for timing the block decoder against other LZH
// decoders on the same archives:
//   bench_lzh_decode make <text|code|settings> <size> <file>   writes sample data
//   bench_lzh_decode decode <archive.lzh>                       writes the first entry to stdout
// The archive must have a level-0 header and an lh5 entry (jlha c0 makes one).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/block_codec.h"
#include "codec/crc16.h"
#include "common/file_io.h"
#include "lzh_tool_memory.h"

namespace {

uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Level-0 header: size of the rest of the header, its sum, method, packed
// size, original size, time stamp, attribute, level, name, CRC-16.
int Decode(const char* path) {
  const tolv::bench::FileView file(path);
  const uint8_t* archive = file.data();
  if (file.size() < 24 || std::memcmp(archive + 2, "-lh5-", 5) != 0 || archive[20] != 0) {
    std::fprintf(stderr, "%s: not an archive with a level-0 -lh5- entry first\n", path);
    return 2;
  }
  const size_t dataStart = 2 + archive[0];
  const uint32_t packedSize = LE32(&archive[7]), originalSize = LE32(&archive[11]);
  const size_t nameLength = archive[21];
  if (dataStart + packedSize > file.size() || 24 + nameLength > file.size()) {
    std::fprintf(stderr, "%s: truncated archive\n", path);
    return 2;
  }
  const uint32_t crc = archive[22 + nameLength] | archive[23 + nameLength] << 8;
  const tolv::bench::OutputBuffer out(originalSize);
  const int32_t result = tolv::Block_Decompress(archive + dataStart, static_cast<int32_t>(packedSize),
                                                out.data(), static_cast<int32_t>(originalSize));
  if (result != 1 || tolv::CRC16_Calc(out.data(), static_cast<int32_t>(originalSize)) != crc) {
    std::fprintf(stderr, "%s: bad stream or CRC\n", path);
    return 1;
  }
  std::fwrite(out.data(), 1, originalSize, stdout);
  return 0;
}

std::vector<uint8_t> Sample(const std::string& kind, size_t size) {
  std::mt19937 rng(11);
  std::vector<uint8_t> data;
  if (kind == "code") {
    for (const char* path : {"/usr/bin/cmake", "/usr/bin/perl", "/bin/bash"}) {
      if (!tolv::FileExists(path)) continue;
      const std::vector<uint8_t> bytes = tolv::ReadFileBytes(path);
      data.insert(data.end(), bytes.begin(), bytes.end());
    }
    // Doubled until long enough (a vector may not insert a range of itself).
    for (size_t have = data.size(); have != 0 && have < size; have *= 2) {
      data.resize(2 * have);
      std::copy_n(data.begin(), have, data.begin() + static_cast<ptrdiff_t>(have));
    }
  } else if (kind == "settings") {
    data.assign(size, 0);
    for (size_t offset = 16; offset + 24 < size; offset += 96 + rng() % 160)
      for (size_t k = 0; k < 12 + rng() % 12; ++k) data[offset + k] = static_cast<uint8_t>(rng());
  } else {
    static const char* const kWords[] = {
        "the",     "receiver", "keeps",  "its",       "settings", "in",       "flash",  "memory", "service",
        "timer",   "group",    "and",    "channel",   "section",  "checksum", "before", "loader", "firmware",
        "picture", "tuner",    "signal", "frequency", "symbol",   "rate",     "record"};
    while (data.size() < size) {
      const std::string word =
          std::string(kWords[rng() % std::size(kWords)]) + (rng() % 12 == 0 ? ". " : " ");
      data.insert(data.end(), word.begin(), word.end());
    }
  }
  data.resize(size);
  return data;
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc == 3 && std::strcmp(argv[1], "decode") == 0) return Decode(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "make") == 0) {
    tolv::SaveFileAtomically(argv[4], Sample(argv[2], std::stoul(argv[3])));
    return 0;
  }
  std::fprintf(stderr, "usage: %s make <text|code|settings> <size> <file> | decode <archive.lzh>\n", argv[0]);
  return 2;
} catch (const tolv::FileError& e) {
  std::fprintf(stderr, "%s\n", e.what());
  return 2;
}
