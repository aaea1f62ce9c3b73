// The load and save commands of the window: what each one's dialog is set to,
// and that the chosen file reaches the right format's operation (round trips
// through real files).
#include <QAction>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "flash/layout.h"
#include "ui_test_support.h"
#include "window/commands.h"
#include "window/file_dialogs.h"
#include "workspace_fixtures.h"

namespace tolv::test {
namespace {

struct Command {
  std::string control;  // a button or a menu entry
  FileDialogRequest request;
};

// Every control that runs a file command, with the dialog the model asks for.
std::vector<Command> FileCommands() {
  std::vector<Command> commands;
  for (const CommandBinding& binding : CommandBindings()) {
    const std::optional<FileDialogRequest> request = DialogRequestFor(binding.command);
    if (!request) continue;
    const bool menu = binding.trigger == Trigger::MenuPick;
    commands.push_back({menu ? MenuEntry(binding.entry).name : Control(binding.control).name, *request});
  }
  return commands;
}

// Presses a button or picks a menu entry by its name, as a person would.
void Press(TForm1& window, const std::string& control) {
  if (auto* button = window.findChild<QPushButton*>(QString::fromStdString(control))) {
    button->click();
  } else if (auto* action = window.findChild<QAction*>(QString::fromStdString(control))) {
    action->trigger();
  } else {
    ADD_FAILURE() << "no control " << control;
  }
}

class FileCommandTest : public WindowTest {
 protected:
  // Presses control with fileName as the dialog's answer.
  void Run(const char* control, const std::string& fileName) {
    dialogs.Answer(fileName);
    Press(*window, control);
    EXPECT_TRUE(dialogs.AllAnswersUsed()) << control << " showed no dialog";
  }
  // A workspace holding all six components, with SystemID 406.
  void FillWorkspace() {
    workspace.Image(ComponentKind::Loader) = RandomBytes(1, kLoaderImageSize);
    workspace.Image(ComponentKind::Firmware) = MachineCode(100000);
    workspace.Image(ComponentKind::Flash) = SettingsImage(kLayoutDvbS, 2);
    workspace.Image(ComponentKind::Eeprom) = RandomBytes(3, kEepromImageSize);
    std::vector<uint8_t> defaults = SettingsImage(kLayoutDvbS, 4);
    defaults.resize(kDefaultsImageSize, 0);
    workspace.Image(ComponentKind::Defaults) = defaults;
    workspace.Image(ComponentKind::Background) = RandomBytes(5, kBackgroundImageSize);
    workspace.present.fill(true);
    workspace.systemId = 406;
    workspace.layoutVariant = kLayoutDvbS;
    workspace.sectionTable = Layout_Sections(kLayoutDvbS);
    workspace.sectionTableMatchesFlash = true;
    window->Status_Refresh();
  }
  // Forgets everything as New does, with the image bytes cleared as well.
  void EmptyWorkspace() {
    workspace = Workspace();
    window->Status_Refresh();
  }
};

TEST_F(FileCommandTest, EachControlShowsTheDialogOfItsCommand) {
  FillWorkspace();  // every save command enabled
  const std::vector<Command> commands = FileCommands();
  ASSERT_EQ(commands.size(), 20u);
  for (const Command& command : commands) Press(*window, command.control);
  ASSERT_EQ(dialogs.requests().size(), commands.size());
  for (size_t i = 0; i < commands.size(); ++i) {
    SCOPED_TRACE(commands[i].control);
    EXPECT_EQ(dialogs.requests()[i], commands[i].request);
  }
}

TEST_F(FileCommandTest, CancellingChangesNothingAndDoesNotRefresh) {
  FillWorkspace();
  const Workspace before = workspace;
  SetLabelColour(window->Label1, 0x123456);  // a refresh would repaint it
  for (const Command& command : FileCommands()) Press(*window, command.control);
  EXPECT_EQ(workspace.images, before.images);
  EXPECT_EQ(workspace.present, before.present);
  EXPECT_EQ(workspace.systemId, before.systemId);
  EXPECT_EQ(LabelColour(window->Label1), 0x123456u);
  EXPECT_TRUE(ui.events().empty());
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
      0);
}

TEST_F(FileCommandTest, BinFilesGoOutAndComeBackByteForByte) {
  FillWorkspace();
  const Workspace saved = workspace;
  const struct {
    ComponentKind kind;
    const char* save;
    const char* load;
    size_t fileSize;
  } cases[] = {
      {ComponentKind::Loader, "MenuSaveLoaderBIN", "MenuLoadLoaderBIN", 65536},
      {ComponentKind::Firmware, "MenuSaveFirmwareBIN", "MenuLoadFirmwareBIN", 100000},
      {ComponentKind::Flash, "MenuSaveFlashBIN", "MenuLoadFlashBIN", 524288},
      {ComponentKind::Eeprom, "MenuSaveEEPROMBIN", "MenuLoadEEPROMBIN", 256},
      {ComponentKind::Defaults, "MenuSaveDefaultsBIN", "MenuLoadDefaultsBIN", 524544},
      {ComponentKind::Background, "MenuSaveBackgroundBIN", "MenuLoadBackgroundBIN", 262144},
  };
  for (const auto& c : cases) Run(c.save, dir.File(std::string(c.save) + ".bin"));
  for (const auto& c : cases) EXPECT_EQ(SizeOf(dir.File(std::string(c.save) + ".bin")), c.fileSize) << c.save;

  EmptyWorkspace();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.load);
    Run(c.load, dir.File(std::string(c.save) + ".bin"));
    EXPECT_TRUE(workspace.Present(c.kind));
    EXPECT_EQ(workspace.Image(c.kind), saved.Image(c.kind));
  }
  EXPECT_EQ(workspace.systemId, 0) << "BIN files carry no SystemID";
  EXPECT_EQ(LabelColour(window->Label6), kColourLayoutLit) << "the loaded Flash's layout is shown";
  EXPECT_EQ(LabelColour(window->Label11), kColourPresent);
  EXPECT_TRUE(window->ButtonSaveSTD->isEnabled());
}

TEST_F(FileCommandTest, StdFileRoundTrip) {
  FillWorkspace();
  Run("ButtonSaveSTD", dir.File("settings.std"));
  ASSERT_EQ(SizeOf(dir.File("settings.std")), 131392u);
  const Workspace saved = workspace;  // with the checksums the save rewrote

  EmptyWorkspace();
  Run("ButtonLoadSTD", dir.File("settings.std"));
  EXPECT_EQ(workspace.systemId, 406);
  EXPECT_TRUE(workspace.Present(ComponentKind::Flash));
  EXPECT_TRUE(workspace.Present(ComponentKind::Eeprom));
  EXPECT_EQ(workspace.Image(ComponentKind::Eeprom), saved.Image(ComponentKind::Eeprom));
  EXPECT_TRUE(std::equal(saved.Image(ComponentKind::Flash).begin(),
                         saved.Image(ComponentKind::Flash).begin() + kDefaultsSettingsSize,
                         workspace.Image(ComponentKind::Flash).begin()));
  EXPECT_EQ(LabelColour(window->Label6), kColourLayoutLit);
  EXPECT_EQ(window->Label9->text().toStdString().substr(0, 5), "406 (");
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(FileCommandTest, TfdFileRoundTrip) {
  FillWorkspace();
  Run("ButtonSaveTFD", dir.File("all.tfd"));
  const Workspace saved = workspace;

  EmptyWorkspace();
  Run("ButtonLoadTFD", dir.File("all.tfd"));
  EXPECT_TRUE(ui.events().empty()) << ui.Texts().front();
  EXPECT_EQ(workspace.systemId, 406);
  for (ComponentKind kind : kAllComponents) EXPECT_TRUE(workspace.Present(kind)) << ComponentName(kind);
  for (ComponentKind kind :
       {ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Eeprom, ComponentKind::Background})
    EXPECT_EQ(workspace.Image(kind), saved.Image(kind)) << ComponentName(kind);
  EXPECT_TRUE(std::equal(saved.Image(ComponentKind::Flash).begin(),
                         saved.Image(ComponentKind::Flash).begin() + kDefaultsSettingsSize,
                         workspace.Image(ComponentKind::Flash).begin()));
  for (const char* label : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label11"})
    EXPECT_EQ(LabelColour(window->findChild<QLabel*>(label)), kColourPresent) << label;
}

TEST_F(FileCommandTest, FlashDumpRoundTrip) {
  FillWorkspace();
  Run("MenuSaveFlashDMP", dir.File("flash.dmp"));
  ASSERT_EQ(SizeOf(dir.File("flash.dmp")), 131072u);
  const std::vector<uint8_t> flash = workspace.Image(ComponentKind::Flash);

  EmptyWorkspace();
  Run("MenuLoadFlashDMP", dir.File("flash.dmp"));
  EXPECT_TRUE(workspace.Present(ComponentKind::Flash));
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + kDefaultsSettingsSize,
                         workspace.Image(ComponentKind::Flash).begin()));
  EXPECT_EQ(workspace.systemId, 0) << "a dump carries no SystemID";
  EXPECT_EQ(LabelColour(window->Label3), kColourPresent);
}

TEST_F(FileCommandTest, FlashBlocksGoOutAsSectionFilesAndOneComesBack) {
  FillWorkspace();
  Run("MenuSaveFlashBlocks", dir.File("mysettings.bin"));
  const SectionTable& table = Layout_Sections(kLayoutDvbS);
  for (int k = 1; k <= kSectionCount; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "mysettings [%02d].bin", k);
    ASSERT_TRUE(Exists(dir.File(name))) << name;
    EXPECT_EQ(SizeOf(dir.File(name)), static_cast<uint64_t>(Section_DataLength(table, k))) << name;
  }

  // Section 5 replaced from its file with new contents.
  const std::string five = dir.File("mysettings [05].bin");
  std::vector<uint8_t> data = RandomBytes(9, static_cast<size_t>(Section_DataLength(table, 5)));
  WriteBytes(five, data);
  Run("MenuLoadFlashBlock", five);
  EXPECT_TRUE(ui.events().empty());
  EXPECT_TRUE(std::equal(data.begin(), data.end(),
                         workspace.Image(ComponentKind::Flash).begin() + table.start[5] + 4));
}

TEST_F(FileCommandTest, SaveReplacesAnExistingFileWithoutAQuestion) {
  FillWorkspace();
  WriteBytes(dir.File("eeprom.bin"), {1, 2, 3});
  Run("MenuSaveEEPROMBIN", dir.File("eeprom.bin"));
  EXPECT_EQ(ReadBytes(dir.File("eeprom.bin")), workspace.Image(ComponentKind::Eeprom));
  EXPECT_TRUE(ui.events().empty());
}

// The window refuses what the command line refuses, with the same message,
// and its multi-file save is all or none.
TEST_F(FileCommandTest, ProtectedAndBlockedTargetsAreRefusedAndBlocksFromBeforeAreNamed) {
  namespace fs = std::filesystem;
  FillWorkspace();
  const std::string eeprom = dir.File("eeprom.bin");
  WriteBytes(eeprom, {1, 2, 3});
  fs::permissions(eeprom, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  Run("MenuSaveEEPROMBIN", eeprom);
  EXPECT_EQ(ui.Texts(),
            std::vector<std::string>{"Cannot replace \"" + eeprom + "\": the file is write-protected."});
  EXPECT_EQ(ReadBytes(eeprom), (std::vector<uint8_t>{1, 2, 3}));

  ui.Clear();
  Run("MenuSaveFlashBlocks", dir.File("s.bin"));
  const std::vector<uint8_t> first = ReadBytes(dir.File("s [01].bin"));
  fs::remove(dir.File("s [07].bin"));
  fs::create_directory(dir.File("s [07].bin"));
  workspace.Image(ComponentKind::Flash) = SettingsImage(kLayoutDvbS, 7);
  Run("MenuSaveFlashBlocks", dir.File("s.bin"));
  EXPECT_EQ(ui.Texts(),
            std::vector<std::string>{"Cannot replace \"" + dir.File("s [07].bin") + "\": it is a folder."});
  EXPECT_EQ(ReadBytes(dir.File("s [01].bin")), first);

  // Terrestrial settings have no section 12: the satellite one stays, named.
  fs::remove(dir.File("s [07].bin"));
  ui.Clear();
  workspace.Image(ComponentKind::Flash) = SettingsImage(kLayoutDvbT, 8);
  workspace.layoutVariant = kLayoutDvbT;
  workspace.sectionTable = Layout_Sections(kLayoutDvbT);
  Run("MenuSaveFlashBlocks", dir.File("s.bin"));
  EXPECT_EQ(ui.Texts(),
            std::vector<std::string>{dir.File("s [12].bin") + " is from before and was not replaced"});
}

TEST_F(FileCommandTest, AWrongSizeIsRefusedByTheFormatWithItsMessage) {
  WriteBytes(dir.File("loader.bin"), std::vector<uint8_t>(65537, 1));
  Run("MenuLoadLoaderBIN", dir.File("loader.bin"));
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Invalid file size (<>64kB)"});
  EXPECT_FALSE(workspace.Present(ComponentKind::Loader));
  EXPECT_EQ(LabelColour(window->Label1), kColourAbsent);
}

TEST_F(FileCommandTest, AFailedSaveOrLoadKeepsWhatTheUserHad) {
  FillWorkspace();
  Run("ButtonSaveTFD", dir.File("keep.tfd"));
  Run("ButtonSaveSTD", dir.File("good.std"));
  const std::vector<uint8_t> kept = ReadBytes(dir.File("keep.tfd"));
  workspace.systemId = 4502;  // a model the settings cannot be packed for
  Run("ButtonSaveTFD", dir.File("keep.tfd"));
  ASSERT_EQ(ui.Texts().size(), 2u);
  EXPECT_TRUE(ui.Texts()[0].starts_with("PackFlashData failed to pack the flash data. SystemID 4502 is not"));
  EXPECT_TRUE(
      ui.Texts()[1].starts_with("PackFlashData failed to pack the defaults data. SystemID 4502 is not"));
  EXPECT_EQ(ReadBytes(dir.File("keep.tfd")), kept);

  // A damaged STD file changes nothing: the Flash stays present and savable.
  std::vector<uint8_t> damaged = ReadBytes(dir.File("good.std"));
  damaged[64 + 5120 + 40] ^= 0xFF;
  WriteBytes(dir.File("bad.std"), damaged);
  const Workspace before = workspace;
  ui.Clear();
  Run("ButtonLoadSTD", dir.File("bad.std"));
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"UnPackFlashData failed to unpack the flash block"});
  EXPECT_EQ(workspace.images, before.images);
  EXPECT_EQ(workspace.present, before.present);
  EXPECT_EQ(workspace.systemId, 4502);
  EXPECT_TRUE(window->MenuSaveFlashBIN->isEnabled());
}

TEST_F(FileCommandTest, DiscardedBytesNeverReachASavedFile) {
  FillWorkspace();
  ui.AnswerQuestion(true);
  Press(*window, "ButtonNew");
  Press(*window, "MenuDefaultsNULLSettings");
  Press(*window, "MenuDefaultsFlashEEPROM");
  Run("MenuSaveFlashBIN", dir.File("flash.bin"));
  EXPECT_EQ(ReadBytes(dir.File("flash.bin")), std::vector<uint8_t>(kFlashImageSize, 0));
}

}  // namespace
}  // namespace tolv::test
