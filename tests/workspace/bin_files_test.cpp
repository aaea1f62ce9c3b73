// Component BIN files and file-name splitting.
#include "workspace/bin_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/file_io.h"
#include "test_support.h"
#include "workspace_fixtures.h"

namespace tolv {
namespace {

using test::ScriptedInteraction;

TEST(FileNameSplit, DirectoryBaseAndExtension) {
  struct Case {
    const char* full;
    const char* directory;
    const char* base;
    const char* extension;
  };
  const Case cases[] = {
      {"C:\\dumps\\box.settings.std", "C:\\dumps\\", "box.settings", "std"},
      {"C:\\dumps\\flash", "C:\\dumps\\", "flash", ""},
      {"/home/u/mysettings [05].bin", "/home/u/", "mysettings [05]", "bin"},
      {"settings.bin", "", "settings", "bin"},
      {"C:box.std", "C:", "box", "std"},
      {"/a.b/noext", "/a.b/", "noext", ""},
      {"dir/", "dir/", "", ""},
      {".hidden", "", "", "hidden"},
      {"name.", "", "name", ""},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    FileNameParts parts = FileName_Split(c.full);
    EXPECT_EQ(parts.directory, c.directory) << c.full;
    EXPECT_EQ(parts.baseName, c.base) << c.full;
    EXPECT_EQ(parts.extension, c.extension) << c.full;
  }
}

TEST(FileNameSplit, ExtensionIsCutTo255Characters) {
  FileNameParts parts = FileName_Split("x." + std::string(300, 'e'));
  EXPECT_EQ(parts.extension, std::string(255, 'e'));
  EXPECT_EQ(parts.baseName, "x");
}

TEST(ComponentBin, SaveThenLoadRestoresEveryComponent) {
  test::TempDir dir;
  Workspace source = test::SettingsWorkspace(kLayoutDvbT, 406, 3);
  source.Image(ComponentKind::Loader) = test::MachineCode(kLoaderImageSize);
  source.Image(ComponentKind::Firmware) = test::MachineCode(3'000'000);
  source.Image(ComponentKind::Defaults) = test::RandomBytes(5, kDefaultsImageSize);
  source.Image(ComponentKind::Background) = test::RandomBytes(6, kBackgroundImageSize);
  Workspace target;
  ScriptedInteraction ui;
  for (ComponentKind kind : kAllComponents) {
    SCOPED_TRACE(ComponentName(kind));
    std::string path = dir.File(std::string(ComponentName(kind)) + ".bin");
    Component_SaveBin(source, kind, path);
    EXPECT_EQ(test::ReadBytes(path), source.Image(kind));
    EXPECT_TRUE(Component_LoadBin(target, kind, path, ui));
    EXPECT_EQ(target.Image(kind), source.Image(kind));
    EXPECT_TRUE(target.Present(kind));
  }
  // The random Defaults' checksums are named; nothing is refused.
  for (const ScriptedInteraction::Event& event : ui.events())
    EXPECT_EQ(event.kind, ScriptedInteraction::Event::Kind::Notice) << event.text;
  EXPECT_EQ(target.systemId, 0);  // BIN files carry no system ID
  EXPECT_EQ(target.layoutVariant, kLayoutDvbT);
  EXPECT_TRUE(target.sectionTableMatchesFlash);
}

TEST(ComponentBin, WrongSizesAreRefusedWithTheirMessageAndChangeNothing) {
  test::TempDir dir;
  const std::pair<ComponentKind, const char*> cases[] = {
      {ComponentKind::Loader, "Invalid file size (<>64kB)"},
      {ComponentKind::Flash, "Invalid file size (<>512kB)"},
      {ComponentKind::Eeprom, "Invalid file size (<>256B)"},
      {ComponentKind::Defaults, "Invalid file size (<>512kB)"},
      {ComponentKind::Background, "Invalid file size (<>256kB)"}};
  for (auto [kind, message] : cases) {
    size_t size = ComponentImageSize(kind);
    std::vector<size_t> wrongSizes = {size + 1, size - 1, 0};
    if (kind == ComponentKind::Defaults)
      wrongSizes.insert(wrongSizes.end(), {kFlashImageSize - 1, kFlashImageSize + 1});
    for (size_t wrong : wrongSizes) {
      SCOPED_TRACE(std::string(ComponentName(kind)) + " " + std::to_string(wrong));
      std::string path = dir.File("wrong.bin");
      test::WriteBytes(path, test::RandomBytes(1, wrong));
      for (bool present : {false, true}) {
        Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
        ws.Present(kind) = present;
        const Workspace before = ws;
        ScriptedInteraction ui;
        EXPECT_FALSE(Component_LoadBin(ws, kind, path, ui));
        EXPECT_EQ(ui.Texts(), std::vector<std::string>{message});
        EXPECT_EQ(ui.events()[0].kind, ScriptedInteraction::Event::Kind::Information);
        EXPECT_EQ(ws.images, before.images);
        EXPECT_EQ(ws.present, before.present);
      }
    }
  }
}

TEST(ComponentBin, FirmwareOfAnySizeIncludingEmpty) {
  test::TempDir dir;
  Workspace ws;
  ScriptedInteraction ui;
  test::WriteBytes(dir.File("empty.bin"), {});
  ws.Image(ComponentKind::Firmware) = test::RandomBytes(1, 100);
  ASSERT_TRUE(Component_LoadBin(ws, ComponentKind::Firmware, dir.File("empty.bin"), ui));
  EXPECT_TRUE(ws.Present(ComponentKind::Firmware));
  EXPECT_TRUE(ws.Image(ComponentKind::Firmware).empty());
  Component_SaveBin(ws, ComponentKind::Firmware, dir.File("out.bin"));
  EXPECT_EQ(test::SizeOf(dir.File("out.bin")), 0u);
}

TEST(ComponentBin, DefaultsLoadsBothItsSettingsFileAndItsOwnSavedFile) {
  test::TempDir dir;
  Workspace ws;
  ScriptedInteraction ui;
  // The 512 kB form fills the first 524,288 bytes and keeps the last 256 of
  // present Defaults; of absent (discarded) ones they become zeros.
  ws.Image(ComponentKind::Defaults) = test::RandomBytes(1, kDefaultsImageSize);
  const std::vector<uint8_t> before = ws.Image(ComponentKind::Defaults);
  std::vector<uint8_t> settings = test::RandomBytes(2, kFlashImageSize);
  test::WriteBytes(dir.File("d512.bin"), settings);
  ASSERT_TRUE(Component_LoadBin(ws, ComponentKind::Defaults, dir.File("d512.bin"), ui));
  const std::vector<uint8_t>& defaults = ws.Image(ComponentKind::Defaults);
  EXPECT_TRUE(test::SamePrefix(defaults, settings, kFlashImageSize));
  EXPECT_TRUE(
      std::all_of(defaults.begin() + kFlashImageSize, defaults.end(), [](uint8_t b) { return b == 0; }));
  ws.Image(ComponentKind::Defaults) = before;
  ASSERT_TRUE(Component_LoadBin(ws, ComponentKind::Defaults, dir.File("d512.bin"), ui));
  EXPECT_TRUE(test::SamePrefix(defaults, settings, kFlashImageSize));
  EXPECT_TRUE(
      std::equal(defaults.begin() + kFlashImageSize, defaults.end(), before.begin() + kFlashImageSize));
  // What Save Defaults BIN writes loads back whole.
  Workspace other;
  other.Image(ComponentKind::Defaults) = test::RandomBytes(3, kDefaultsImageSize);
  Component_SaveBin(other, ComponentKind::Defaults, dir.File("d.bin"));
  EXPECT_EQ(test::SizeOf(dir.File("d.bin")), kDefaultsImageSize);
  ASSERT_TRUE(Component_LoadBin(ws, ComponentKind::Defaults, dir.File("d.bin"), ui));
  EXPECT_EQ(ws.Image(ComponentKind::Defaults), other.Image(ComponentKind::Defaults));
  for (const ScriptedInteraction::Event& event : ui.events())
    EXPECT_EQ(event.kind, ScriptedInteraction::Event::Kind::Notice) << event.text;
}

TEST(ComponentBin, LoadingOneComponentMakesOnlyThatOnePresent) {
  test::TempDir dir;
  Workspace ws;
  ScriptedInteraction ui;
  test::WriteBytes(dir.File("bg.bin"), test::RandomBytes(1, kBackgroundImageSize));
  ASSERT_TRUE(Component_LoadBin(ws, ComponentKind::Background, dir.File("bg.bin"), ui));
  for (ComponentKind kind : kAllComponents) EXPECT_EQ(ws.Present(kind), kind == ComponentKind::Background);
}

TEST(ComponentBin, FlashLoadRecognisesTheLayoutOrKeepsTheOldOne) {
  test::TempDir dir;
  Workspace ws;
  ScriptedInteraction ui;
  for (uint8_t variant : {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC}) {
    test::WriteBytes(dir.File("f.bin"), test::SettingsImage(variant, variant));
    ASSERT_TRUE(Component_LoadBin(ws, ComponentKind::Flash, dir.File("f.bin"), ui));
    EXPECT_EQ(ws.layoutVariant, variant);
    EXPECT_TRUE(ws.sectionTableMatchesFlash);
  }
  // An all-0xFF image passes no test: the variant stays, the table is no
  // longer the Flash's own.
  test::WriteBytes(dir.File("ff.bin"), std::vector<uint8_t>(kFlashImageSize, 0xFF));
  ASSERT_TRUE(Component_LoadBin(ws, ComponentKind::Flash, dir.File("ff.bin"), ui));
  EXPECT_EQ(ws.layoutVariant, kLayoutDvbC);
  EXPECT_FALSE(ws.sectionTableMatchesFlash);
}

TEST(ComponentBin, MissingFileIsAFileErrorAndChangesNothing) {
  test::TempDir dir;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbS, 406, 1);
  const Workspace before = ws;
  ScriptedInteraction ui;
  EXPECT_THROW(Component_LoadBin(ws, ComponentKind::Flash, dir.File("missing.bin"), ui), FileError);
  EXPECT_EQ(ws.images, before.images);
  EXPECT_EQ(ws.present, before.present);
}

TEST(ComponentBin, FailedSaveLeavesThePreviousFile) {
  test::TempDir dir;
  std::string path = dir.File("loader.bin");
  std::vector<uint8_t> previous = test::RandomBytes(1, kLoaderImageSize);
  test::WriteBytes(path, previous);
  Workspace ws;
  ws.Image(ComponentKind::Loader) = test::RandomBytes(2, kLoaderImageSize);
  testing::FailWritesAfter(1000);
  EXPECT_THROW(Component_SaveBin(ws, ComponentKind::Loader, path), FileError);
  testing::FailWritesAfter(std::nullopt);
  EXPECT_EQ(test::ReadBytes(path), previous);
  // No temporary file is left beside it.
  int files = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace tolv
