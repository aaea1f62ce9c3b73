// Writes the seed inputs of the fuzz targets that the library's own packers
// and writers make: STD files, flash dumps and block files, packed blocks and
// TFD files of settings like the tests use (records every 1,000 bytes, a word
// in every section, right checksums), cut so that the valid structure fits the
// targets' input limits (fuzz/options).
//
//   make_fuzz_seeds SEEDS_DIR    (normally fuzz/seeds)
//
// The other seeds (streams, packets, model lists) are kept as they are.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/chunk_compression.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"
#include "results/result_codes.h"
#include "tfd/tfd_store.h"
#include "workspace/workspace.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace tolv;

std::string seedsDir;

void Fail(const std::string& what) {
  std::fprintf(stderr, "make_fuzz_seeds: %s\n", what.c_str());
  std::exit(1);
}

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string path = seedsDir + "/" + target + "/" + name;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
    Fail("cannot write " + path);
  std::fclose(out);
}

Bytes Noise(uint32_t seed, size_t size) {
  Bytes bytes(size);
  for (uint8_t& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// Settings of a layout: a 24-byte record every 1,000 bytes, a data word in
// every section, right section checksums.
Bytes SettingsImage(uint8_t variant, uint32_t seed) {
  Bytes image(kFlashImageSize, 0);
  const Bytes noise = Noise(seed, kFlashImageSize);
  for (size_t offset = 0; offset + 24 <= image.size(); offset += 1000)
    std::memcpy(image.data() + offset, noise.data() + offset, 24);
  const SectionTable& table = Layout_Sections(variant);
  for (int k = 1; k <= kSectionCount; ++k)
    if (table.start[k] < table.end[k]) image[table.start[k] + 4] = static_cast<uint8_t>(0x10 + k);
  Flash_WriteSectionChecksums(image.data(), image.size(), table);
  return image;
}

Bytes EepromImage(uint32_t seed) {
  Bytes eeprom = Noise(seed ^ 0xEE, kEepromImageSize);
  Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  return eeprom;
}

bool LittleEndian(uint16_t systemId) { return systemId == 21031; }

uint32_t Read32(const uint8_t* p, bool littleEndian) {
  return littleEndian ? uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24
                      : uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// A settings block cut to its first count entries: the count says so, and
// the blocks after them are zeroed as the gaps are.
Bytes PackedSettings(uint16_t systemId, const Bytes& image, int count) {
  Bytes packed(kPackedBlockSize);
  if (!PackFlashData(systemId, image.data(), packed.data())) Fail("PackFlashData");
  const bool little = LittleEndian(systemId);
  packed[little ? 36 : 33] = static_cast<uint8_t>(count);
  const uint8_t* last = packed.data() + (little ? 68 : 64) + 64 * (count - 1);
  const size_t end = Read32(last + 4, little) + Read32(last + 8, little);
  std::fill(packed.begin() + static_cast<ptrdiff_t>(end), packed.end(), 0);
  return packed;
}

// The defaults form of a block: the first 393,216 settings bytes in one block
// of 13 chunks, and an EEPROM, so that a load unpacks the whole of the
// sections.
Bytes PackedDefaultsForm(uint16_t systemId, const Bytes& image, const Bytes& eeprom) {
  Bytes packed(kPackedBlockSize);
  if (!PackDefaultsData(systemId, image.data(), eeprom.data(), packed.data())) Fail("PackDefaultsData");
  return packed;
}

// Without the zero fill at the end, which the targets put back.
Bytes Trimmed(Bytes bytes) {
  while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
  return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// An STD file: "ToPfIeLd", 0, 2, the system ID and template copy in the
// block's byte order, 0xFF fill, the packed block and the EEPROM.
Bytes StdFile(uint16_t systemId, const Bytes& packed, const Bytes& eeprom, uint8_t byte8 = 0) {
  Bytes header(64, 0xFF);
  std::memcpy(header.data(), "ToPfIeLd", 8);
  header[8] = byte8;
  header[9] = 2;
  const bool little = LittleEndian(systemId);
  header[10] = static_cast<uint8_t>(little ? systemId : systemId >> 8);
  header[11] = static_cast<uint8_t>(little ? systemId >> 8 : systemId);
  std::memcpy(header.data() + 12, packed.data(), little ? 36 : 32);
  return Concat({header, packed, eeprom});
}

void StdSeeds(const Bytes& dvbs, const Bytes& dvbt, const Bytes& dvbc, const Bytes& eeprom) {
  const Bytes zeros(kEepromImageSize, 0);
  // The EEPROM at the end of the file would make the seeds 128 kB: the
  // targets pad with zeros, so these carry none.
  Write("fuzz_std_load", "settings-dvbs-406-4-blocks.std",
        Trimmed(StdFile(406, PackedSettings(406, dvbs, 4), zeros)));
  Write("fuzz_std_load", "settings-dvbs-21031-little-endian-4-blocks.std",
        Trimmed(StdFile(21031, PackedSettings(21031, dvbs, 4), zeros)));
  Write("fuzz_std_load", "settings-dvbc-1416-2-blocks-into-held-workspace.std",
        Trimmed(StdFile(1416, PackedSettings(1416, dvbc, 2), zeros, 1)));
  Write("fuzz_std_load", "settings-dvbt-406-whole-in-defaults-form.std",
        Trimmed(StdFile(406, PackedDefaultsForm(406, dvbt, eeprom), zeros)));
}

void FlashFileSeeds(const Bytes& dvbs, const Bytes& dvbt, const Bytes& eeprom) {
  const std::string target = "fuzz_flash_files";
  Write(target, "dump-dvbs-406-4-blocks", Concat({{0x00}, Trimmed(PackedSettings(406, dvbs, 4))}));
  Write(target, "dump-dvbt-21031-whole-into-held-workspace",
        Concat({{0x04}, Trimmed(PackedDefaultsForm(21031, dvbt, eeprom))}));
  const Bytes oneBlock = PackedSettings(406, dvbs, 1);
  Write(target, "dump-of-its-own-length", Concat({{0x02}, Bytes(oneBlock.begin(), oneBlock.begin() + 300)}));
  // Block files: the name's two characters, then the contents.
  const SectionTable& table = Layout_Sections(kLayoutDvbS);
  const auto section = [&](int k) {
    return Bytes(dvbs.begin() + table.start[k] + 4, dvbs.begin() + table.end[k] + 1);
  };
  Write(target, "block-07-of-its-size", Concat({{0x01, '0', '7'}, section(7)}));
  Write(target, "block-12-of-its-size", Concat({{0x01, '1', '2'}, section(12)}));
  Write(target, "block-05-padded-to-its-size", {0x05, '0', '5', 0x12, 0x34});
  Write(target, "block-13-padded-to-its-size", {0x05, '1', '3'});
  Write(target, "block-14-no-such-section", {0x05, '1', '4'});
  Write(target, "block-x5-not-a-number", {0x05, 'x', '5'});
  Write(target, "block-05-parentheses", {0x07, '0', '5'});
}

void UnpackSeeds(const Bytes& dvbs) {
  const std::string target = "fuzz_unpack_flash";
  // Mode byte: bits 0..1 the form, 2..3 entries or chunks kept, 5 little-
  // endian, 7 CRCs recomputed; the second byte the destination.
  Write(target, "valid-settings-1-entry", {0x01, 0x00});
  Write(target, "valid-settings-little-endian-4-entries", {0x2D, 0x00});
  Write(target, "valid-defaults-2-chunks", {0x07, 0x01});
  Write(target, "valid-defaults-little-endian-1-chunk-small-destination", {0x23, 0x02});
  // The first block's chunk header (at 5,120 + 10) given another size, the
  // block CRC recomputed.
  Write(target, "valid-settings-chunk-size-changed", {0x81, 0x00, 0x00, 0x14, 0x10, 0x10});
  Write(target, "raw-settings-4-blocks-zero-padded",
        Concat({{0x00, 0x00}, Trimmed(PackedSettings(406, dvbs, 4))}));
  const Bytes prefix = Trimmed(PackedSettings(21031, dvbs, 2));
  Write(target, "raw-settings-little-endian-own-length", Concat({{0x02, 0x01}, prefix}));
}

// A TFD file of every component: the packed blocks cut to a few entries, so
// that the file stays small.
void TfdSeeds(const Bytes& dvbs, const Bytes& eeprom) {
  TfdStore store;
  Bytes loader(kLoaderImageSize, 0);
  std::memcpy(loader.data(), Noise(1, 4096).data(), 4096);
  const Bytes firmware = Noise(2, 700);
  Bytes defaults(kDefaultsImageSize, 0xFF);
  std::memcpy(defaults.data(), dvbs.data(), 2048);
  const Bytes packedDefaults = PackedDefaultsForm(406, defaults, eeprom);
  const Bytes background(kBackgroundImageSize, 0);
  const Bytes* blocks[] = {&loader, &firmware, nullptr, &eeprom, &packedDefaults, &background};
  const Bytes packedSettings = PackedSettings(406, dvbs, 3);
  blocks[2] = &packedSettings;
  for (uint8_t type = 0; type < kComponentCount; ++type)
    TFD_SetBlock(store, type, blocks[type]->data(), blocks[type]->size());
  Bytes image;
  if (TFD_BuildImage(store, 406, image) != result::kOk) Fail("TFD_BuildImage");
  Write("fuzz_tfd_load", "all-components-406.tfd", image);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Fail("usage: make_fuzz_seeds SEEDS_DIR");
  seedsDir = argv[1];
  Block_SetThreadCount(1);
  const Bytes dvbs = SettingsImage(kLayoutDvbS, 406);
  const Bytes dvbt = SettingsImage(kLayoutDvbT, 416);
  const Bytes dvbc = SettingsImage(kLayoutDvbC, 1416);
  const Bytes eeprom = EepromImage(406);
  StdSeeds(dvbs, dvbt, dvbc, eeprom);
  FlashFileSeeds(dvbs, dvbt, eeprom);
  UnpackSeeds(dvbs);
  TfdSeeds(dvbs, eeprom);
  return 0;
}
