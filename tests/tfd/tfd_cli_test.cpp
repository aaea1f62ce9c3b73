// TFD files through the built tolv program: convert in and out, info, verify.
#include <gtest/gtest.h>

#include <algorithm>

#include "flash/checksums.h"
#include "test_support.h"
#include "tfd_test_util.h"

namespace tolv {
namespace {

// EEPROM contents whose seven record checksums hold.
std::vector<uint8_t> SoundEeprom(uint32_t seed) {
  std::vector<uint8_t> eeprom = test::RandomBytes(seed, 256);
  Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  return eeprom;
}

class TolvTfd : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteBytes(Work("loader.bin"), test::MachineCode(65536));
    test::WriteBytes(Work("firmware.bin"), test::MachineCode(1 << 20));
    test::WriteBytes(Work("eeprom.bin"), SoundEeprom(1));
    test::WriteBytes(Work("background.bin"), test::Text(262144));
    std::vector<uint8_t> flash(524288, 0);
    const std::vector<uint8_t> text = test::Text(0x60000);
    std::copy(text.begin(), text.end(), flash.begin());
    test::WriteBytes(Work("flash.bin"), flash);
  }

  std::string Work(const std::string& name) const { return work_.File(name); }

  // Runs tolv with args, and with the environment entries env ("NAME=value").
  test::ProgramRun Tolv(const std::string& args, const std::vector<std::string>& env = {}) const {
    return test::RunProgram(test::BuildBinDir() + "/tolv", args, work_.path(), env);
  }

  // Every component in one TFD file for SystemID 406.
  void MakeFullTfd(const std::string& name) {
    const test::ProgramRun r = Tolv(
        "convert --yes loader=loader.bin firmware=firmware.bin flash=flash.bin eeprom=eeprom.bin "
        "background=background.bin --flash-to-defaults --sysid 406 -o " +
        name);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  test::TempDir work_;
};

TEST_F(TolvTfd, ConvertOutAndBackInIsExact) {
  MakeFullTfd("all.tfd");
  test::ProgramRun r = Tolv("convert all.tfd -o again.tfd -o parts/");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadBytes(Work("again.tfd")), test::ReadBytes(Work("all.tfd")));
  for (const char* kind : {"loader", "firmware", "eeprom", "background"}) {
    EXPECT_EQ(test::ReadBytes(Work(std::string("parts/") + kind + ".bin")),
              test::ReadBytes(Work(std::string(kind) + ".bin")))
        << kind;
  }
  const std::vector<uint8_t> flash = test::ReadBytes(Work("parts/flash.bin"));
  EXPECT_EQ(flash, test::ReadBytes(Work("flash.bin")));
}

// The chunks are compressed on all cores; the file is the same on one.
TEST_F(TolvTfd, OneThreadOrSeveralWriteTheSameFile) {
  const std::string inputs =
      "convert --yes firmware=firmware.bin flash=flash.bin eeprom=eeprom.bin --flash-to-defaults --sysid 406 "
      "-o ";
  for (const char* threads : {"1", "3"}) {
    const test::ProgramRun r =
        Tolv(inputs + "t" + threads + ".tfd", {std::string("TOLV_THREADS=") + threads});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(test::ReadBytes(Work("t1.tfd")), test::ReadBytes(Work("t3.tfd")));
}

TEST_F(TolvTfd, InfoAndVerifyOfASoundFile) {
  MakeFullTfd("all.tfd");
  test::ProgramRun info = Tolv("info all.tfd");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("all.tfd: TFD file"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("SystemID: 406"), std::string::npos);
  EXPECT_NE(info.out.find("Component: Loader, 65536 bytes, block type 0, 3 chunks"), std::string::npos);
  EXPECT_NE(info.out.find("Component: Firmware, 1048576 bytes, block type 1, 33 chunks"), std::string::npos);
  EXPECT_NE(info.out.find("Component: Flash, 524288 bytes, packed, block type 2"), std::string::npos);
  EXPECT_NE(info.out.find("Component: Defaults, 393472 bytes"), std::string::npos);
  EXPECT_NE(info.out.find("Checksums: TFD file: 1 OK, 0 BAD"), std::string::npos);
  EXPECT_NE(info.out.find("Checksums: flash packed block:"), std::string::npos);
  EXPECT_NE(info.out.find("Checksums: defaults EEPROM record: 7 OK, 0 BAD"), std::string::npos);
  EXPECT_EQ(info.out.find("BAD "), std::string::npos);

  test::ProgramRun verify = Tolv("verify all.tfd");
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_NE(verify.out.find("all.tfd: OK (TFD file,"), std::string::npos);

  test::ProgramRun json = Tolv("info --json all.tfd");
  EXPECT_NE(json.out.find("\"form\":\"TFD file\""), std::string::npos);
  EXPECT_NE(json.out.find("\"ok\":true}"), std::string::npos);
}

TEST_F(TolvTfd, TheKnownHeaderOfSixBlocksFor406) {
  std::vector<test::RawBlock> blocks = {test::Stored(1, test::Text(100)), test::Stored(1, test::Text(50)),
                                        test::Stored(3, SoundEeprom(2)),  test::Stored(7, test::Text(10)),
                                        test::Stored(7, test::Text(20)),  test::Stored(1, test::Text(5))};
  const std::vector<uint8_t> file = test::RawTfd(406, blocks);
  ASSERT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 10),
            std::vector<uint8_t>({0x00, 0x08, 0x0E, 0x98, 0x01, 0x96, 0x00, 0x01, 0x00, 0x06}));
  test::WriteBytes(Work("six.tfd"), file);
  test::ProgramRun info = Tolv("info six.tfd");
  EXPECT_NE(info.out.find("SystemID: 406"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Checksums: TFD block: 6 OK, 0 BAD"), std::string::npos);
  EXPECT_NE(info.out.find("Component: Firmware, 155 bytes, block type 1, 3 chunks (3 stored)"),
            std::string::npos);
  EXPECT_NE(
      info.out.find("block type 7, 2 chunks (2 stored), 46 bytes in the file, 30 bytes: not a component"),
      std::string::npos);
  EXPECT_EQ(Tolv("verify six.tfd").status, 0);
}

TEST_F(TolvTfd, DamagedFilesAreNamedAndStopTheConversion) {
  MakeFullTfd("all.tfd");
  std::vector<uint8_t> file = test::ReadBytes(Work("all.tfd"));
  file[200] ^= 0x01;  // inside the first loader chunk
  test::WriteBytes(Work("bad.tfd"), file);
  file = test::ReadBytes(Work("all.tfd"));
  file.resize(file.size() - 1);
  test::WriteBytes(Work("short.tfd"), file);

  test::ProgramRun verify = Tolv("verify bad.tfd short.tfd");
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.out.find("bad.tfd: BAD TFD block 0 (type 0) CRC"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("short.tfd: BAD TFD_Load: Unexpected end of file"), std::string::npos);

  test::ProgramRun convert = Tolv("convert bad.tfd -o out.tfd");
  EXPECT_EQ(convert.status, 5);  // input refused
  EXPECT_NE(convert.err.find("TFD_Load: Invalid data CRC"), std::string::npos) << convert.err;
  EXPECT_FALSE(test::Exists(Work("out.tfd")));
}

TEST_F(TolvTfd, SavesThatTheWindowWouldNotOfferOrThatLackASystemId) {
  test::ProgramRun empty = Tolv("convert --sysid 406 -o empty.tfd");
  EXPECT_EQ(empty.status, 1);
  EXPECT_FALSE(test::Exists(Work("empty.tfd")));

  test::ProgramRun noId = Tolv("convert loader=loader.bin -o noid.tfd");
  EXPECT_EQ(noId.status, 1);
  EXPECT_NE(noId.err.find("Please enter a valid system ID"), std::string::npos) << noId.err;
  EXPECT_FALSE(test::Exists(Work("noid.tfd")));
}

}  // namespace
}  // namespace tolv
