// Packed settings blocks whose block CRCs hold but whose chunk size, chunk
// CRC or data CRC do not, through every file form and the built tolv: data
// that are not what was packed are refused with the entry and chunk named,
// a wrong chunk CRC over sound data is named and the settings load.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "codec/crc16.h"
#include "flash_test_util.h"
#include "tfd/tfd_store.h"
#include "tolv_run.h"
#include "workspace/std_file.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kEntry = 3;  // one of the blocks a load takes

// The chunk header of entry 3's only chunk: length, CRC, FFFF, size.
size_t Chunk(const Bytes& packed) { return test::EntryBlockOffset(packed, kEntry) + 10; }

void RefreshChunkCrc(Bytes& packed) {
  const size_t chunk = Chunk(packed);
  const uint16_t crc = CRC16_Calc(packed.data() + chunk + 4, ReadBE16(packed.data() + chunk) - 2);
  WriteBE16(packed.data() + chunk + 2, crc);
  test::RefreshBlockCrc(packed, kEntry);
}

struct Damage {
  const char* name;  // of the test case
  void (*apply)(Bytes& packed);
  const char* named;  // what the load says of it
  bool loads;
};

const Damage kDamages[] = {
    {"ChunkSizeLies",
     [](Bytes& p) {
       WriteBE16(p.data() + Chunk(p) + 6, 8000);
       RefreshChunkCrc(p);
     },
     "UnPackFlashData failed to unpack the flash block: entry 3, chunk 0: the data decode to 8000 bytes, not "
     "the 8192 the directory entry states",
     false},
    {"DataCrcWrong",
     [](Bytes& p) {
       const uint16_t crc = static_cast<uint16_t>(ReadBE16(p.data() + 64 + 64 * kEntry + 2) ^ 0x5A5A);
       test::SetEntryDataCrc(p, kEntry, crc);
     },
     "UnPackFlashData failed to unpack the flash block: entry 3, chunk 0: the data fail their data CRC "
     "(stored",
     false},
    {"ChunkCrcWrongDataIntact",
     [](Bytes& p) {
       p[Chunk(p) + 3] ^= 0x01;
       test::RefreshBlockCrc(p, kEntry);
     },
     "The flash block was loaded: its data pass their data CRCs, but these checksums of it are wrong: "
     "entry 3 chunk 0 CRC (stored",
     true},
};

void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }

class DamagedBlocks : public ::testing::TestWithParam<Damage> {
 protected:
  void SetUp() override {
    ws = test::SettingsWorkspace(kLayoutDvbT, 406, 5);
    packed.assign(kPackedBlockSize, 0);
    ASSERT_TRUE(PackFlashData(406, ws.Image(ComponentKind::Flash).data(), packed.data()));
    GetParam().apply(packed);
    // The same damaged block as a flash dump, an STD file and a TFD file.
    test::WriteBytes(Work("bad.dmp"), packed);
    Bytes std(kStdFileSize, 0xFF);
    std::copy(packed.begin(), packed.end(), std.begin() + kStdPackedOffset);
    const Bytes& eeprom = ws.Image(ComponentKind::Eeprom);
    std::copy(eeprom.begin(), eeprom.end(), std.begin() + kStdEepromOffset);
    WriteBE16(std.data() + 10, 406);
    test::WriteBytes(Work("bad.std"), std);
    auto store = std::make_unique<TfdStore>();
    TFD_SetBlock(*store, 2, packed.data(), packed.size());
    TFD_SetBlock(*store, 3, eeprom.data(), eeprom.size());
    ASSERT_EQ(0, TFD_SaveToFile(*store, Work("bad.tfd"), 406));
  }

  std::string Work(const std::string& name) const { return work.File(name); }
  test::ProgramRun Tolv(const std::string& args) const { return test::RunTolv(args, work.path()); }

  test::TempDir work;
  Workspace ws;
  Bytes packed;
};

TEST_P(DamagedBlocks, EveryFormRefusesOrNamesTheDamage) {
  const Damage& damage = GetParam();
  // Every form, and the flash block files made from one; each run its own output.
  const std::string inputs[] = {"bad.std", "bad.dmp", "bad.tfd"};
  for (int run = 0; run < 4; ++run) {
    const std::string out = "out" + std::to_string(run);
    const std::string args =
        run < 3 ? inputs[run] + " -o flash=" + out + ".bin" : "bad.dmp -o blocks=" + out + ".bin";
    const test::ProgramRun r = Tolv("convert " + args);
    EXPECT_EQ(r.status, damage.loads ? 0 : 5) << args << "\n" << r.err;
    EXPECT_TRUE(test::Contains(r.err, damage.named)) << args << "\n" << r.err;
    const std::string written = Work(run < 3 ? out + ".bin" : out + " [01].bin");
    EXPECT_EQ(test::Exists(written), damage.loads) << args;
    // The settings that load are the ones packed, byte for byte.
    if (damage.loads && run < 3) {
      EXPECT_TRUE(
          test::SamePrefix(test::ReadBytes(written), ws.Image(ComponentKind::Flash), kDefaultsSettingsSize))
          << args;
    }
  }
  // info tells what a load will do with it.
  const test::ProgramRun info = Tolv("info bad.std");
  EXPECT_EQ(test::Contains(info.out, "Problem: packed block is not loaded: entry 3, chunk 0: the data"),
            !damage.loads)
      << info.out;
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedBlocks, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolv
