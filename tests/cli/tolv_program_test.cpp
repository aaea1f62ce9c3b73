// The built tolv program end to end, on real files in a temporary folder:
// standard output, standard error and exit status of every kind of run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "codec/block_codec.h"
#include "flash/checksums.h"
#include "flash/model_header.h"
#include "flash_test_util.h"
#include "test_support.h"
#include "tolv_run.h"
#include "workspace/bin_files.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::Contains;
using test::Lines;
using test::ScriptedInteraction;
using Result = test::TolvResult;

class TolvProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    // Settings whose bytes past 0x60000 are zero come back from a dump
    // exactly, so whole files can be compared after a round trip.
    ws = test::SettingsWorkspace(kLayoutDvbT, 406, 21);
    std::fill(ws.Image(ComponentKind::Flash).begin() + kDefaultsSettingsSize,
              ws.Image(ComponentKind::Flash).end(), uint8_t{0});
    ScriptedInteraction ui;
    ASSERT_TRUE(STD_Save(ws, Work("settings.std"), ui));
    Component_SaveBin(ws, ComponentKind::Eeprom, Work("eeprom.bin"));
    Component_SaveBin(ws, ComponentKind::Flash, Work("flash.bin"));
  }

  std::string Work(const std::string& name) const { return work.File(name); }

  // Runs tolv with args (an argument with spaces in single quotes) in the
  // work folder.
  Result Tolv(const std::string& args, const std::string& cwd = "") const {
    return test::RunTolv(args, cwd.empty() ? work.path() : cwd);
  }

  test::TempDir work;
  Workspace ws;
};

TEST_F(TolvProgram, HelpExplainsEveryCommandWithExamples) {
  Result overview = Tolv("--help");
  EXPECT_EQ(overview.status, 0);
  for (const char* command : {"info", "verify", "diff", "convert", "models"}) {
    EXPECT_TRUE(Contains(overview.out, std::string("  ") + command)) << command;
    Result help = Tolv(std::string(command) + " --help");
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_TRUE(Contains(help.out, "Examples:")) << command;
    EXPECT_TRUE(Contains(help.out, std::string("usage: tolv ") + command)) << command;
  }
}

TEST_F(TolvProgram, UsageErrorsExitTwoWithAOneLineHint) {
  const char* cases[] = {"",
                         "frobnicate",
                         "convert",
                         "convert notes.txt",
                         "convert settings.std",
                         "convert settings.std --sysid 406 --remove eeprom",
                         "convert settings.std -o",
                         "convert --remove gizmo",
                         "convert -o x.bin",
                         "info",
                         "info --bogus settings.std",
                         "verify",
                         "convert settings.std --sysid",
                         "convert settings.std --sysid four -o out.dmp",
                         "convert settings.std --sysid 70000 -o out.dmp",
                         "convert settings.std --sysid 65536 -o out.dmp",
                         "convert settings.std --sysid -1 -o out.dmp",
                         "convert settings.std --sysid 65942 -o out.dmp"};
  for (const char* args : cases) {
    Result r = Tolv(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(Lines(r.err).size(), 1u) << args << ": " << r.err;
    EXPECT_TRUE(Contains(r.err, "--help")) << args;
    EXPECT_TRUE(r.out.empty()) << args;
  }
  EXPECT_FALSE(test::Exists(Work("x.bin")));
  EXPECT_FALSE(test::Exists(Work("out.dmp")));
  EXPECT_TRUE(Contains(Tolv("convert settings.std --sysid 65942 -o out.dmp").err,
                       "\"65942\" is not a valid SystemID: a SystemID is a number from 1 to 65535."));
}

TEST_F(TolvProgram, StdToDumpAndBackIsExact) {
  Result toDump = Tolv("convert settings.std -o settings.dmp -o eeprom=ee.bin");
  EXPECT_EQ(toDump.status, 0) << toDump.err;
  EXPECT_EQ(toDump.out, "Wrote settings.dmp\nWrote ee.bin\n");
  EXPECT_TRUE(toDump.err.empty());
  std::vector<uint8_t> std = test::ReadBytes(Work("settings.std"));
  std::vector<uint8_t> dump = test::ReadBytes(Work("settings.dmp"));
  EXPECT_TRUE(std::equal(dump.begin(), dump.end(), std.begin() + 64));

  Result back = Tolv("convert settings.dmp eeprom=ee.bin --sysid 406 -o back.STD");
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.out, "Wrote back.std\n");
  EXPECT_EQ(test::ReadBytes(Work("back.std")), std);
}

// A receiver of a model without a built-in template brings its own model
// header; every form carries it, in both byte orders, and only for its model.
TEST_F(TolvProgram, AnUnlistedModelsSettingsRoundTripThroughEveryForm) {
  for (const auto& [systemId, little] : {std::pair<uint16_t, bool>{456, false}, {31031, true}}) {
    SCOPED_TRACE(systemId);
    const ModelHeader own = ModelHeader_Make(systemId, little);
    Workspace unlisted = ws;
    unlisted.systemId = systemId;
    unlisted.keptHeader = KeptModelHeader{own, systemId};
    ScriptedInteraction ui;
    ASSERT_TRUE(STD_Save(unlisted, Work("u.std"), ui));
    const std::vector<uint8_t> std = test::ReadBytes(Work("u.std"));
    EXPECT_EQ(std[10], little ? systemId & 0xFF : systemId >> 8);
    EXPECT_TRUE(std::equal(own.bytes.begin(), own.bytes.end(), std.begin() + 12));
    EXPECT_TRUE(std::equal(own.bytes.begin(), own.bytes.end(), std.begin() + 64));
    EXPECT_TRUE(Contains(Tolv("info u.std").out, "  Model header: the block's own, for SystemID " +
                                                     std::to_string(systemId) +
                                                     (little ? ", little-endian form" : "") +
                                                     " (unlisted model: no built-in template)\n"));

    // STD -> dump -> TFD (with Defaults) -> STD and TFD again, exactly.
    Result r = Tolv("convert u.std -o u.dmp -o eeprom=e.bin");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> dump = test::ReadBytes(Work("u.dmp"));
    EXPECT_TRUE(std::equal(dump.begin(), dump.end(), std.begin() + 64));
    const std::string id = std::to_string(systemId);
    r = Tolv("convert --yes u.dmp eeprom=e.bin --sysid " + id + " --flash-to-defaults -o u.tfd");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Tolv("convert u.tfd -o back.std -o again.tfd");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(Work("back.std")), std);
    EXPECT_EQ(test::ReadBytes(Work("again.tfd")), test::ReadBytes(Work("u.tfd")));
    EXPECT_TRUE(
        Contains(Tolv("info u.tfd").out, "Model header (defaults): the block's own, for SystemID " + id));

    // Settings of the same model in a BIN go out with it; another model, or
    // the settings removed first, fail as before.
    EXPECT_EQ(Tolv("convert u.std flash=flash.bin -o bin.std").status, 0);
    for (const char* args :
         {"u.std --sysid 466 -o other.std", "--yes u.std --remove flash flash=flash.bin -o gone.std"}) {
      r = Tolv(std::string("convert ") + args);
      EXPECT_EQ(r.status, 1) << args;
      // Why, and what helps.
      EXPECT_TRUE(Contains(r.err, "Failed to pack. SystemID ")) << args << r.err;
      EXPECT_TRUE(Contains(r.err,
                           ": TolvPack has no built-in model header for it, and no loaded block brought "
                           "one, so its settings cannot be packed. Load a settings block of that model "
                           "first"))
          << args << r.err;
    }
    // 466 is a terrestrial model, as the settings are: no warning of the family.
    EXPECT_FALSE(Contains(r.err, "model, but the settings are")) << r.err;
  }
}

TEST_F(TolvProgram, ComponentsOutToAFolderAndBack) {
  std::vector<uint8_t> loader = test::RandomBytes(3, kLoaderImageSize);
  test::WriteBytes(Work("l.bin"), loader);
  Result r = Tolv("convert LOADER=l.bin settings.std -o parts/");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Wrote parts/loader.bin\nWrote parts/flash.bin\nWrote parts/eeprom.bin\n");
  EXPECT_EQ(test::ReadBytes(Work("parts/loader.bin")), loader);
  EXPECT_EQ(test::ReadBytes(Work("parts/eeprom.bin")), ws.Image(ComponentKind::Eeprom));
  EXPECT_EQ(test::ReadBytes(Work("parts/flash.bin")), ws.Image(ComponentKind::Flash));
  Result again = Tolv("convert flash=parts/flash.bin eeprom=parts/eeprom.bin --sysid 406 -o again.std");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(test::ReadBytes(Work("again.std")), test::ReadBytes(Work("settings.std")));
}

TEST_F(TolvProgram, ChunksWhoseStreamIsAsLongAsTheirDataComeBackExactly) {
  // Settings with an 8,192-byte piece whose stream is 8,192 bytes; defaults
  // with a noise chunk (a plain copy) and a 32,762-byte chunk whose stream is
  // as long, and a default EEPROM whose stream is 256 bytes.
  const std::optional<std::vector<uint8_t>> piece = test::DataWithStreamLength(8192, 8192);
  const std::optional<std::vector<uint8_t>> exact = test::DataWithStreamLength(32762, 32762);
  const std::optional<std::vector<uint8_t>> eeprom = test::DataWithStreamLength(256, 256);
  ASSERT_TRUE(piece && exact && eeprom);
  std::vector<uint8_t> flash = ws.Image(ComponentKind::Flash);
  std::copy(piece->begin(), piece->end(), flash.begin() + 40 * 8192);
  Flash_WriteSectionChecksums(flash.data(), flash.size(), ws.sectionTable);
  ASSERT_TRUE(std::equal(piece->begin(), piece->end(), flash.begin() + 40 * 8192));
  test::WriteBytes(Work("exact.bin"), flash);
  std::vector<uint8_t> defaults(kDefaultsImageSize, 0);
  const std::vector<uint8_t> noise = test::RandomBytes(4, 32762);
  std::copy(noise.begin(), noise.end(), defaults.begin());
  std::copy(exact->begin(), exact->end(), defaults.begin() + 32762);
  std::copy(eeprom->begin(), eeprom->end(), defaults.begin() + kDefaultsEepromOffset);
  test::WriteBytes(Work("d.bin"), defaults);

  Result out = Tolv("convert flash=exact.bin defaults=d.bin --sysid 406 -o exact.dmp -o exact.tfd");
  EXPECT_EQ(out.status, 0) << out.err;
  Result verify = Tolv("verify exact.dmp");
  EXPECT_EQ(verify.status, 0) << verify.out;
  // The dump carries the piece as its stream, which a receiver expands.
  const std::vector<uint8_t> dump = test::ReadBytes(Work("exact.dmp"));
  const size_t chunk = test::EntryBlockOffset(dump, 40) + 10;
  ASSERT_EQ(dump[chunk] << 8 | dump[chunk + 1], 8192 + 6);
  std::vector<uint8_t> expanded(8192);
  EXPECT_EQ(Block_Decompress(dump.data() + chunk + 8, 8192, expanded.data(), 8192), 1);
  EXPECT_EQ(expanded, *piece);
  Result back = Tolv("convert exact.dmp -o flash=back.bin");
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(test::ReadBytes(Work("back.bin")), flash);
  Result fromTfd = Tolv("convert exact.tfd -o defaults=d-back.bin");
  EXPECT_EQ(fromTfd.status, 0) << fromTfd.err;
  EXPECT_EQ(test::ReadBytes(Work("d-back.bin")), defaults);
}

TEST_F(TolvProgram, BlocksOutAndOneBlockBackIn) {
  Workspace other = test::SettingsWorkspace(kLayoutDvbT, 406, 22);
  ScriptedInteraction ui;
  ASSERT_EQ(FlashBlocks_Save(other, Work("other.bin"), ui).written.size(), 12u);
  Result r = Tolv("convert settings.std 'block=other [05].bin' -o merged.std -o blocks=mine.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 13u);
  EXPECT_EQ(test::ReadBytes(Work("mine [05].bin")), test::ReadBytes(Work("other [05].bin")));
  EXPECT_EQ(test::ReadBytes(Work("mine [04].bin")).size(), 4'084u);
  EXPECT_FALSE(test::Exists(Work("mine [12].bin")));
  Result verify = Tolv("verify merged.std");
  EXPECT_EQ(verify.status, 0) << verify.out;
}

TEST_F(TolvProgram, AFailedInputWritesNothingAfterIt) {
  test::WriteBytes(Work("short.std"), test::RandomBytes(1, 1000));
  Result r = Tolv("convert short.std -o out.dmp");
  EXPECT_EQ(r.status, 5);  // input refused
  EXPECT_EQ(Lines(r.err),
            (std::vector<std::string>{"Invalid file size (<>131392B)",
                                      "tolv: stopped at \"short.std\"; the steps after it were not run."}));
  EXPECT_FALSE(test::Exists(Work("out.dmp")));

  std::vector<uint8_t> damaged = test::ReadBytes(Work("settings.std"));
  damaged[64 + 5120 + 30] ^= 0x40;
  test::WriteBytes(Work("damaged.std"), damaged);
  r = Tolv("convert damaged.std -o eeprom=e.bin");
  EXPECT_EQ(r.status, 5);  // input refused
  EXPECT_EQ(Lines(r.err)[0], "UnPackFlashData failed to unpack the flash block");
  EXPECT_FALSE(test::Exists(Work("e.bin")));

  r = Tolv("convert missing.std -o out.dmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "missing.std"));
  EXPECT_FALSE(test::Exists(Work("out.dmp")));

  r = Tolv("convert settings.std 'block=x (05).bin' -o out.dmp");
  EXPECT_EQ(r.status, 5);  // input refused
  EXPECT_EQ(Lines(r.err)[0], "You didn't select a flash block file.");
}

TEST_F(TolvProgram, AnExportThatFailsPartWayKeepsTheExistingFile) {
  ASSERT_EQ(Tolv("convert settings.std -o a.tfd").status, 0);
  test::WriteBytes(Work("keep.tfd"), test::ReadBytes(Work("a.tfd")));
  Result r = Tolv("convert a.tfd --sysid 4502 -o keep.tfd");  // no header template: packing fails
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      Lines(r.err)[0].starts_with("PackFlashData failed to pack the flash data. SystemID 4502 is not"))
      << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(test::ReadBytes(Work("keep.tfd")), test::ReadBytes(Work("a.tfd")));
}

TEST_F(TolvProgram, RefusedOutputsExitOneAndKeepEarlierOutputs) {
  Result r = Tolv("convert flash=flash.bin eeprom=eeprom.bin -o eeprom=first.bin -o x.std -o later.dmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err)[0], "Please enter a valid system ID");
  EXPECT_TRUE(test::Exists(Work("first.bin")));
  EXPECT_FALSE(test::Exists(Work("x.std")));
  EXPECT_FALSE(test::Exists(Work("later.dmp")));

  r = Tolv("convert eeprom=eeprom.bin --sysid 406 -o flash=f.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "The Flash is not present: there is nothing to save.\n");
  r = Tolv("convert eeprom=eeprom.bin --sysid 406 -o y.std");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(test::Exists(Work("y.std")));
  r = Tolv("convert --sysid 406 -o parts/");
  EXPECT_EQ(r.status, 1);
  r = Tolv("convert eeprom=eeprom.bin --flash-to-defaults -o defaults=d.bin");
  EXPECT_EQ(r.status, 1);
  r = Tolv("convert --defaults-to-flash -o flash=f.bin");
  EXPECT_EQ(r.status, 1);
}

TEST_F(TolvProgram, QuestionsNeedYesWhenNobodyCanAnswerThem) {
  // Defaults whose checksums hold: the questions are all they give rise to.
  std::vector<uint8_t> sound(kDefaultsImageSize, 0);
  std::fill(sound.begin() + kFlashImageSize, sound.end(), uint8_t{0x5A});
  test::WriteBytes(Work("d.bin"), sound);
  Result no = Tolv("convert settings.std defaults=d.bin --flash-to-defaults -o defaults=out.bin");
  EXPECT_EQ(no.status, 130);
  EXPECT_EQ(Lines(no.err),
            (std::vector<std::string>{
                "Overwrite the existing defaults? -> not answered: standard input is not a "
                "terminal; give --yes to answer Yes.",
                "tolv: stopped at \"--flash-to-defaults\"; the steps after it were not run."}));
  EXPECT_FALSE(test::Exists(Work("out.bin")));

  Result yes = Tolv("convert --yes settings.std defaults=d.bin --flash-to-defaults -o defaults=out.bin");
  EXPECT_EQ(yes.status, 0) << yes.err;
  EXPECT_EQ(yes.err, "Overwrite the existing defaults? -> Yes\n");
  std::vector<uint8_t> defaults = test::ReadBytes(Work("out.bin"));
  ASSERT_EQ(defaults.size(), kDefaultsImageSize);
  EXPECT_TRUE(test::SamePrefix(defaults, ws.Image(ComponentKind::Flash), kDefaultsSettingsSize));
  EXPECT_TRUE(std::equal(defaults.begin() + kDefaultsEepromOffset,
                         defaults.begin() + kDefaultsEepromOffset + 256,
                         ws.Image(ComponentKind::Eeprom).begin()));

  // A question nobody said Yes to stops the run as a No does: cancelled.
  Result keep = Tolv("convert settings.std --remove flash -o flash=f.bin");
  EXPECT_EQ(keep.status, 130);
  EXPECT_FALSE(test::Exists(Work("f.bin")));
  Result removed = Tolv("convert settings.std --remove flash -o flash=g.bin -y");
  EXPECT_EQ(removed.status, 1);
  EXPECT_EQ(Lines(removed.err),
            (std::vector<std::string>{"Unload flash? -> Yes",
                                      "The Flash is not present: there is nothing to save."}));
}

TEST_F(TolvProgram, NullDefaultsAndDefaultsToFlash) {
  Result r = Tolv("convert --null-defaults --defaults-to-flash --sysid 406 -o zero.std -o defaults=z.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadBytes(Work("z.bin")), std::vector<uint8_t>(kDefaultsImageSize, 0));
  EXPECT_EQ(test::SizeOf(Work("zero.std")), kStdFileSize);
}

TEST_F(TolvProgram, InfoTellsEachFormWithItsContents) {
  ScriptedInteraction ui;
  ASSERT_TRUE(FlashDump_Save(ws, Work("s.dmp"), ui));
  ASSERT_EQ(FlashBlocks_Save(ws, Work("s.bin"), ui).written.size(), 12u);
  test::WriteBytes(Work("loader.bin"), test::RandomBytes(1, kLoaderImageSize));
  test::WriteBytes(Work("bg.bin"), test::RandomBytes(1, kBackgroundImageSize));
  test::WriteBytes(Work("fw.bin"), test::RandomBytes(1, 12'345));
  test::WriteBytes(Work("notes.txt"), test::Text(100));
  Result r = Tolv("info settings.std s.dmp 's [13].bin' loader.bin flash.bin eeprom.bin bg.bin fw.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string& out = r.out;
  EXPECT_TRUE(Contains(out, "settings.std: STD file, 131392 bytes\n  SystemID: 406 ("));
  EXPECT_TRUE(Contains(out, "  Layout: DVB-t\n  Component: Flash, 524288 bytes"));
  EXPECT_TRUE(Contains(out, "  Component: EEPROM, 256 bytes"));
  EXPECT_TRUE(Contains(out,
                       "  Checksums: packed block: 192 OK, 0 BAD\n  Checksums: section: 11 OK, 0 BAD\n"
                       "  Checksums: EEPROM record: 7 OK, 0 BAD\n"));
  EXPECT_TRUE(Contains(out, "s.dmp: flash dump, 131072 bytes\n"));
  EXPECT_TRUE(Contains(out, "s [13].bin: flash block file, 235100 bytes\n  Layout: DVB-t\n"));
  EXPECT_TRUE(Contains(out, "loader.bin: Loader BIN, 65536 bytes\n"));
  EXPECT_TRUE(Contains(out, "flash.bin: Flash BIN, 524288 bytes\n  Layout: DVB-t\n"));
  EXPECT_TRUE(Contains(out, "eeprom.bin: EEPROM BIN, 256 bytes\n"));
  EXPECT_TRUE(Contains(out, "bg.bin: Background BIN, 262144 bytes\n"));
  EXPECT_TRUE(Contains(out, "fw.bin: Firmware BIN, 12345 bytes\n"));
  EXPECT_FALSE(Contains(out, "BAD "));

  Result unknown = Tolv("info notes.txt");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(Contains(unknown.out, "notes.txt: unrecognised, 100 bytes"));
  EXPECT_EQ(Tolv("info nothing.std").status, 1);
}

// A file that cannot be read as what it is taken for fails info; checksums
// inside settings that load do not (verify is for them).
TEST_F(TolvProgram, InfoExitsOneForAFileThatIsNotWhatItClaims) {
  const std::vector<uint8_t> std = test::ReadBytes(Work("settings.std"));
  test::WriteBytes(Work("short.std"), std::vector<uint8_t>(std.begin(), std.begin() + 100000));
  Result r = Tolv("info short.std");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "short.std: STD file, 100000 bytes\n  Problem: an STD file has 131392 bytes"))
      << r.out;
  ASSERT_EQ(Tolv("convert settings.std -o s.tfd").status, 0);
  std::vector<uint8_t> tfd = test::ReadBytes(Work("s.tfd"));
  tfd[tfd.size() / 2] ^= 0x10;
  test::WriteBytes(Work("bad.tfd"), tfd);
  EXPECT_EQ(Tolv("info bad.tfd").status, 1);
  EXPECT_EQ(Tolv("info s.tfd").status, 0);
  std::vector<uint8_t> flash = test::ReadBytes(Work("flash.bin"));
  flash[ws.sectionTable.start[3] + 5] ^= 0x01;
  test::WriteBytes(Work("bad-section.bin"), flash);
  EXPECT_EQ(Tolv("info bad-section.bin").status, 0);
  EXPECT_EQ(Tolv("verify bad-section.bin").status, 1);
}

TEST_F(TolvProgram, InfoJsonIsOneObjectPerFileListingEveryChecksum) {
  Result r = Tolv("info --json settings.std eeprom.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(
      lines[0].starts_with("{\"file\":\"settings.std\",\"form\":\"STD file\",\"size\":131392,"
                           "\"systemId\":406,"));
  EXPECT_TRUE(Contains(lines[0], "\"layout\":\"DVB-t\""));
  EXPECT_TRUE(Contains(lines[0], "{\"group\":\"EEPROM record\",\"name\":\"7\",\"offset\":72,"));
  EXPECT_TRUE(lines[0].ends_with(",\"ok\":true}"));
  EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), '{'), 1 + 2 + 1 + 192 + 11 + 7);
  EXPECT_TRUE(Contains(lines[0],
                       "\"modelHeaders\":[{\"block\":\"\",\"kind\":\"template\",\"systemId\":406,"
                       "\"form\":\"big-endian\",\"description\":\"built-in template of SystemID 406\"}]"));
  EXPECT_TRUE(lines[1].starts_with("{\"file\":\"eeprom.bin\",\"form\":\"EEPROM BIN\""));
}

TEST_F(TolvProgram, VerifyNamesEveryWrongChecksum) {
  Result good = Tolv("verify settings.std eeprom.bin flash.bin");
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_EQ(Lines(good.out), (std::vector<std::string>{"settings.std: OK (STD file, 210 checksums)",
                                                       "eeprom.bin: OK (EEPROM BIN, 7 checksums)",
                                                       "flash.bin: OK (Flash BIN, 11 checksums)"}));

  std::vector<uint8_t> eeprom = ws.Image(ComponentKind::Eeprom);
  eeprom[50] ^= 0x01;  // covered by record 4 (CRC at 46)
  test::WriteBytes(Work("bad-eeprom.bin"), eeprom);
  std::vector<uint8_t> flash = ws.Image(ComponentKind::Flash);
  flash[ws.sectionTable.start[3] + 10] ^= 0x01;
  flash[ws.sectionTable.start[9] + 10] ^= 0x01;
  test::WriteBytes(Work("bad-flash.bin"), flash);
  Result bad = Tolv("verify bad-eeprom.bin eeprom.bin bad-flash.bin");
  EXPECT_EQ(bad.status, 1);
  std::vector<std::string> lines = Lines(bad.out);
  ASSERT_EQ(lines.size(), 4u) << bad.out;
  EXPECT_TRUE(lines[0].starts_with("bad-eeprom.bin: BAD EEPROM record 4 CRC stored 0x")) << lines[0];
  EXPECT_EQ(lines[1], "eeprom.bin: OK (EEPROM BIN, 7 checksums)");
  EXPECT_TRUE(lines[2].starts_with("bad-flash.bin: BAD section 3 CRC stored 0x")) << lines[2];
  EXPECT_TRUE(lines[3].starts_with("bad-flash.bin: BAD section 9 CRC stored 0x")) << lines[3];

  std::vector<uint8_t> dump(test::ReadBytes(Work("settings.std")));
  dump.erase(dump.begin(), dump.begin() + 64);
  dump.resize(kPackedBlockSize);
  dump[5120 + 20] ^= 0x01;  // inside the first block's compressed data
  test::WriteBytes(Work("bad.dmp"), dump);
  Result badDump = Tolv("verify bad.dmp");
  EXPECT_EQ(badDump.status, 1);
  EXPECT_TRUE(Contains(badDump.out, "bad.dmp: BAD packed block entry 0 block CRC CRC stored"));
  EXPECT_TRUE(Contains(badDump.out, "bad.dmp: BAD packed block does not unpack"));

  // A zeroed block names no block and holds no settings: no load takes it.
  test::WriteBytes(Work("zero.dmp"), std::vector<uint8_t>(kPackedBlockSize, 0));
  Result zero = Tolv("verify zero.dmp");
  EXPECT_EQ(zero.status, 1);
  EXPECT_TRUE(Contains(zero.out, "zero.dmp: BAD packed block does not unpack")) << zero.out;
}

TEST_F(TolvProgram, BadChecksumsAreNamedOnLoadAndStayInTheFileForVerify) {
  std::vector<uint8_t> file = test::ReadBytes(Work("settings.std"));
  file[kStdEepromOffset + 50] ^= 0x01;  // covered by record 4 (CRC at 46)
  test::WriteBytes(Work("damaged.std"), file);
  std::vector<uint8_t> flash = ws.Image(ComponentKind::Flash);
  flash[ws.sectionTable.start[3] + 10] ^= 0x01;
  test::WriteBytes(Work("bad-flash.bin"), flash);

  Result r = Tolv("convert damaged.std flash=bad-flash.bin -o healed.std");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 4u) << r.err;
  EXPECT_TRUE(lines[0].starts_with("damaged.std: BAD EEPROM record 4 CRC stored 0x")) << lines[0];
  EXPECT_EQ(lines[1],
            "damaged.std: saving an STD file, a TFD file or a flash dump rewrites these checksums.");
  EXPECT_TRUE(lines[2].starts_with("flash=bad-flash.bin: BAD section 3 CRC stored 0x")) << lines[2];
  EXPECT_EQ(lines[3],
            "flash=bad-flash.bin: saving an STD file, a TFD file or a flash dump rewrites these checksums.");
  // The file keeps its damage, and verify keeps naming it; the saved one is sound.
  EXPECT_EQ(Tolv("verify damaged.std").status, 1);
  EXPECT_TRUE(Contains(Tolv("verify damaged.std").out, "damaged.std: BAD EEPROM record 4 CRC"));
  EXPECT_EQ(Tolv("verify healed.std").status, 0);
  EXPECT_TRUE(Tolv("convert settings.std -o again.std").err.empty());
}

TEST_F(TolvProgram, ModelNamesComeFromFirmwareDatInTheCurrentFolder) {
  TOLV_SKIP_WITHOUT_SHARED_TESTDATA();
  std::filesystem::copy_file(*test::SharedTestdataDir() + "/Firmware.dat", Work("Firmware.dat"));
  Result r = Tolv("info settings.std");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "  SystemID: 406 (TF5000PVR, TF5500PVR)\n")) << r.out;
}

TEST_F(TolvProgram, ModelNamesComeFromFirmwareDatBesideTheProgram) {
  TOLV_SKIP_WITHOUT_SHARED_TESTDATA();
  // A copy of the program with the list beside it, so that the build's own
  // folder stays as it was.
  test::TempDir programDir;
  const std::filesystem::path built = test::BuildBinDir() + "/tolv" + test::ProgramSuffix();
  std::filesystem::copy_file(built, programDir.File(built.filename().string()));
  std::filesystem::copy_file(*test::SharedTestdataDir() + "/Firmware.dat", programDir.File("Firmware.dat"));
  test::TempDir elsewhere;
  Result r =
      test::RunTolv("info '" + Work("settings.std") + "'", elsewhere.path(), {}, programDir.File("tolv"));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "  SystemID: 406 (TF5000PVR, TF5500PVR)\n")) << r.out;
}

}  // namespace
}  // namespace tolv
