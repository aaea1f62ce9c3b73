// One judge for every form: what a damaged directory, a model header of
// another model, a cut stream, bytes after a TFD file's blocks and sizes
// beyond a receiver's come to on load.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "codec/crc16.h"
#include "common/file_io.h"
#include "flash/checksums.h"
#include "flash/packed_format.h"
#include "flash/packing.h"
#include "results/result_codes.h"
#include "test_support.h"
#include "tfd/tfd_store.h"
#include "workspace/bin_files.h"
#include "workspace/commands.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::ScriptedInteraction;

std::string Joined(const ScriptedInteraction& ui) {
  std::string all;
  for (const std::string& text : ui.Texts()) all += text + "\n";
  return all;
}

// An STD file of SystemID 406 (big-endian form: entry count at 33, directory at 64).
std::vector<uint8_t> StdFile(const Workspace& source) {
  test::TempDir dir;
  Workspace copy = source;
  ScriptedInteraction ui;
  EXPECT_TRUE(STD_Save(copy, dir.File("s.std"), ui));
  return ReadFileBytes(dir.File("s.std"));
}

uint8_t* Entry(std::vector<uint8_t>& file, int j) { return file.data() + kStdPackedOffset + 64 + 64 * j; }

// A damage that changes one field of directory entry j.
std::function<void(std::vector<uint8_t>&)> EditEntry(int j, void (*edit)(packed::DirectoryEntry&)) {
  return [j, edit](std::vector<uint8_t>& file) {
    packed::DirectoryEntry e = packed::ReadEntry(Entry(file, j), false);
    edit(e);
    packed::WriteEntry(Entry(file, j), e, false);
  };
}

enum class Verdict { kRefused, kNamed, kSilent };

struct DirectoryCase {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> damage;
  Verdict verdict;
  const char* words;  // a part of what the load says
};

TEST(FileJudges, DamagedDirectoriesAreRefusedOrNamedNeverTakenSilently) {
  const Workspace source = test::SettingsWorkspace(kLayoutDvbS, 406, 7);
  const std::vector<uint8_t> good = StdFile(source);
  const DirectoryCase cases[] = {
      {"count lowered (file byte 97)", [](auto& f) { f[97] = 0x20; }, Verdict::kRefused,
       "the directory ends after entry 31, which gives only 262144 of the 393216 bytes"},
      {"entry unused by offset", EditEntry(5, [](auto& e) { e.blockOffset = 0; }), Verdict::kNamed,
       "entry 5 of the directory is unused and was passed over"},
      {"entry unused by CRC", EditEntry(9, [](auto& e) { e.blockCrc = 0xFFFF; }), Verdict::kNamed,
       "entry 9 of the directory is unused"},
      {"entries swapped", [](auto& f) { std::swap_ranges(Entry(f, 5), Entry(f, 6), Entry(f, 6)); },
       Verdict::kRefused, "entry 6: its block lies below that of entry 5"},
      {"last entry swapped with the first unread",
       [](auto& f) { std::swap_ranges(Entry(f, 47), Entry(f, 48), Entry(f, 48)); }, Verdict::kNamed,
       "entry 48 names a block below that of entry 47"},
      {"entry doubled", [](auto& f) { std::copy_n(Entry(f, 5), 64, Entry(f, 6)); }, Verdict::kNamed,
       "entry 6 names the block of entry 5 again"},
      {"offset lowered", EditEntry(3, [](auto& e) { e.blockOffset -= 1024; }), Verdict::kRefused,
       "UnPackFlashData failed to unpack the flash block"},
      {"header SystemID 407", [](auto& f) { f[11] = 0x97; }, Verdict::kNamed,
       "model header is that of SystemID 406, not of 407"},
      {"unused entries past the settings", EditEntry(50, [](auto& e) { e.blockOffset = 0; }),
       Verdict::kSilent, ""},
  };
  for (const DirectoryCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file = good;
    c.damage(file);
    Workspace workspace;
    ScriptedInteraction ui;
    const Outcome outcome = STD_LoadFromBytes(workspace, file.data(), file.size(), ui);
    EXPECT_EQ(outcome.IsFailed(), c.verdict == Verdict::kRefused);
    if (outcome.IsFailed()) {
      EXPECT_EQ(outcome.cause, FailureCause::kInputRefused);
    }
    EXPECT_EQ(ui.Texts().empty(), c.verdict == Verdict::kSilent) << Joined(ui);
    EXPECT_NE(Joined(ui).find(c.words), std::string::npos) << Joined(ui);
    if (c.verdict == Verdict::kSilent) {
      EXPECT_TRUE(test::SamePrefix(workspace.Image(ComponentKind::Flash), source.Image(ComponentKind::Flash),
                                   kDefaultsSettingsSize));
    }
  }
}

TEST(FileJudges, ALoadStartsFromZerosNotFromTheImageItReplaces) {
  const Workspace source = test::SettingsWorkspace(kLayoutDvbS, 406, 8);
  const std::vector<uint8_t> file = StdFile(source);
  Workspace workspace;
  workspace.Image(ComponentKind::Flash).assign(kFlashImageSize, 0xAA);
  workspace.Present(ComponentKind::Flash) = true;
  ScriptedInteraction ui;
  ASSERT_TRUE(STD_LoadFromBytes(workspace, file.data(), file.size(), ui));
  const std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
  EXPECT_TRUE(test::SamePrefix(flash, source.Image(ComponentKind::Flash), kDefaultsSettingsSize));
  EXPECT_TRUE(
      std::all_of(flash.begin() + kDefaultsSettingsSize, flash.end(), [](uint8_t b) { return b == 0; }));
}

// A TFD file of the workspace, its bytes.
std::vector<uint8_t> TfdFile(Workspace source, const test::TempDir& dir) {
  auto store = std::make_unique<TfdStore>();
  ScriptedInteraction ui;
  EXPECT_TRUE(TFD_Export(source, *store, dir.File("t.tfd"), ui));
  return ReadFileBytes(dir.File("t.tfd"));
}

TEST(FileJudges, TfdDefaultsSectionChecksumsAndBytesAfterTheBlocksAreNamed) {
  test::TempDir dir;
  Workspace source;
  source.systemId = 406;
  source.Image(ComponentKind::Defaults) = test::SettingsImage(kLayoutDvbS, 9);
  source.Image(ComponentKind::Defaults).resize(kDefaultsImageSize, 0);
  source.Image(ComponentKind::Defaults)[100] ^= 1;  // inside section 1, whose CRC no save recomputes here
  source.Present(ComponentKind::Defaults) = true;
  std::vector<uint8_t> file = TfdFile(source, dir);
  file.insert(file.end(), {1, 2, 3});
  test::WriteBytes(dir.File("t.tfd"), file);
  Workspace workspace;
  auto store = std::make_unique<TfdStore>();
  ScriptedInteraction ui;
  ASSERT_TRUE(TFD_Import(workspace, *store, dir.File("t.tfd"), ui));
  EXPECT_NE(Joined(ui).find("The file holds 3 bytes after its last block"), std::string::npos) << Joined(ui);
  EXPECT_NE(Joined(ui).find("The defaults' section checksums 1 (stored"), std::string::npos) << Joined(ui);
}

TEST(FileJudges, TfdStreamsThatEndEarlyAndBlocksBeyondAReceiverAreRefused) {
  // One compressed chunk, its last byte cut and every length and CRC made right.
  auto store = std::make_unique<TfdStore>();
  const std::vector<uint8_t> data(20000, 0x41);
  TFD_SetBlock(*store, 1, data.data(), data.size());
  std::vector<uint8_t> image;
  ASSERT_EQ(TFD_BuildImage(*store, 406, image), result::kOk);
  EXPECT_EQ(TFD_LoadImage(*store, image.data(), image.size()), result::kOk);
  const uint32_t length = ReadBE16(image.data() + 10);
  image.pop_back();
  WriteBE16(image.data() + 10, length - 1);
  WriteBE16(image.data() + 12, CRC16_Calc(image.data() + 14, static_cast<int32_t>(length - 3)));
  EXPECT_EQ(TFD_LoadImage(*store, image.data(), image.size()), result::kTfdDecompressFailed);

  // Chunks of the Firmware that would expand past 8 MiB: refused before any is expanded.
  std::vector<uint8_t> huge = {0, 8, 0, 0, 0x01, 0x96, 0, 1, 0x01, 0x02};
  WriteBE16(huge.data() + 2, CRC16_Calc(huge.data() + 4, 6));
  for (int i = 0; i < 0x102; ++i) huge.insert(huge.end(), {0, 7, 0, 0, 0, 1, 0x7F, 0xFA, 0});
  EXPECT_EQ(TFD_LoadImage(*store, huge.data(), huge.size()), result::kTfdBeyondReceiver);
  EXPECT_EQ(Result_Text(result::kTfdBeyondReceiver), "TFD_Load: A block is larger than a receiver holds");
}

TEST(FileJudges, ACopyOfDefaultsWithWrongSectionChecksumsSaysSo) {
  Workspace workspace;
  workspace.Image(ComponentKind::Defaults) = test::SettingsImage(kLayoutDvbS, 10);
  workspace.Image(ComponentKind::Defaults).resize(kDefaultsImageSize, 0);
  workspace.Present(ComponentKind::Defaults) = true;
  ScriptedInteraction sound;
  ASSERT_TRUE(Defaults_ToFlash(workspace, sound));
  EXPECT_TRUE(sound.Texts().empty()) << Joined(sound);
  workspace.Image(ComponentKind::Defaults)[100] ^= 1;  // section 1
  ScriptedInteraction damaged;
  damaged.AnswerQuestion(true);
  ASSERT_TRUE(Defaults_ToFlash(workspace, damaged));
  EXPECT_NE(Joined(damaged).find("The defaults' section checksums 1 (stored"), std::string::npos)
      << Joined(damaged);
  EXPECT_NE(Joined(damaged).find("The copy carries them into the Flash."), std::string::npos);
}

TEST(FileJudges, AFirmwareLargerThanAReceiverHoldsIsRefused) {
  EXPECT_TRUE(Component_BinSizeAccepted(ComponentKind::Firmware, kFirmwareMaxSize));
  EXPECT_FALSE(Component_BinSizeAccepted(ComponentKind::Firmware, kFirmwareMaxSize + 1));
}

}  // namespace
}  // namespace tolv
