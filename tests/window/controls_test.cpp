// The window's tables: controls, menus, the command bindings and the
// dialogs, each against a list written out here from the window's design.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "window/commands.h"
#include "window/controls.h"
#include "window/file_dialogs.h"

namespace tolv::test {
namespace {

struct Placement {
  const char* name;
  ControlKind kind;
  const char* parent;  // "" for the client area
  Rect rect;
  const char* caption;
};

using K = ControlKind;

const Placement kPlacements[] = {
    {"GroupBox1", K::Group, "", {8, 8, 161, 281}, "Load"},
    {"ButtonNew", K::Button, "GroupBox1", {17, 24, 121, 17}, "New"},
    {"ButtonLoadSTD", K::Button, "GroupBox1", {16, 48, 121, 17}, "STD"},
    {"ButtonLoadTFD", K::Button, "GroupBox1", {16, 64, 121, 17}, "TFD"},
    {"GroupBox3", K::Group, "GroupBox1", {8, 88, 145, 185}, ""},
    {"ComboBox1", K::ComboBox, "GroupBox3", {8, 12, 121, 21}, ""},
    {"CheckBox1", K::CheckBox, "GroupBox3", {8, 40, 121, 17}, "Loader"},
    {"CheckBox2", K::CheckBox, "GroupBox3", {8, 56, 121, 17}, "Firmware"},
    {"CheckBox3", K::CheckBox, "GroupBox3", {8, 72, 121, 17}, "Settings"},
    {"CheckBox4", K::CheckBox, "GroupBox3", {8, 88, 121, 17}, "EEPROM"},
    {"CheckBox5", K::CheckBox, "GroupBox3", {8, 104, 121, 17}, "Defaults"},
    {"CheckBox13", K::CheckBox, "GroupBox3", {8, 120, 121, 17}, "Background"},
    {"CheckBox11", K::CheckBox, "GroupBox3", {8, 136, 121, 17}, "Log transfer"},
    {"ButtonLoadFromToppy", K::Button, "GroupBox3", {8, 160, 121, 17}, "From Toppy"},
    {"GroupBox2", K::Group, "", {176, 8, 161, 281}, "Save"},
    {"ButtonSaveSTD", K::Button, "GroupBox2", {8, 48, 121, 17}, "STD"},
    {"ButtonSaveTFD", K::Button, "GroupBox2", {8, 64, 121, 17}, "TFD"},
    {"GroupBox4", K::Group, "GroupBox2", {8, 88, 145, 185}, ""},
    {"ComboBox2", K::ComboBox, "GroupBox4", {8, 12, 121, 21}, ""},
    {"CheckBox6", K::CheckBox, "GroupBox4", {8, 40, 121, 17}, "Loader"},
    {"CheckBox7", K::CheckBox, "GroupBox4", {8, 56, 121, 17}, "Firmware"},
    {"CheckBox8", K::CheckBox, "GroupBox4", {8, 72, 121, 17}, "Settings"},
    {"CheckBox9", K::CheckBox, "GroupBox4", {8, 88, 121, 17}, "EEPROM"},
    {"CheckBox10", K::CheckBox, "GroupBox4", {8, 104, 121, 17}, "Defaults"},
    {"CheckBox14", K::CheckBox, "GroupBox4", {8, 120, 121, 17}, "Background"},
    {"CheckBox12", K::CheckBox, "GroupBox4", {8, 136, 121, 17}, "Log transfer"},
    {"ButtonSaveToToppy", K::Button, "GroupBox4", {8, 160, 121, 17}, "To Toppy"},
    {"Label10", K::StatusLine, "", {8, 296, 329, 14}, "-"},
    {"PB1", K::ProgressBar, "", {8, 312, 329, 17}, ""},
    {"Label1", K::ColouredLabel, "", {8, 338, 105, 23}, "Loader"},
    {"Label2", K::ColouredLabel, "", {120, 338, 105, 23}, "Firmware"},
    {"Label3", K::ColouredLabel, "", {8, 362, 105, 23}, "Flash"},
    {"Label4", K::ColouredLabel, "", {120, 362, 105, 23}, "EEPROM"},
    {"Label5", K::ColouredLabel, "", {232, 362, 105, 23}, "Defaults"},
    {"Label11", K::ColouredLabel, "", {8, 386, 105, 23}, "Background"},
    {"Label6", K::ColouredLabel, "", {8, 410, 105, 23}, "DVB-s"},
    {"Label7", K::ColouredLabel, "", {120, 410, 105, 23}, "DVB-t"},
    {"Label8", K::ColouredLabel, "", {232, 410, 105, 23}, "DVB-c"},
    {"Label9", K::ColouredLabel, "", {8, 434, 329, 23}, "SystemID ="},
};

TEST(WindowControls, EveryControlHasItsPlaceKindCaptionAndLook) {
  ASSERT_EQ(ControlTable().size(), std::size(kPlacements));
  for (size_t i = 0; i < std::size(kPlacements); ++i) {
    const Placement& p = kPlacements[i];
    const ControlDesign& design = ControlTable()[i];
    SCOPED_TRACE(p.name);
    EXPECT_EQ(design.name, std::string(p.name));
    EXPECT_EQ(Index(design.id), i);
    EXPECT_EQ(ControlByName(p.name), design.id);
    EXPECT_EQ(design.kind, p.kind);
    EXPECT_EQ(design.parent ? Control(*design.parent).name : "", std::string(p.parent));
    if (design.parent) {
      EXPECT_LT(Index(*design.parent), i) << "a parent is made before its children";
    }
    EXPECT_EQ(design.rect, p.rect);
    EXPECT_EQ(design.caption, std::string(p.caption));
    const bool coloured = p.kind == K::ColouredLabel;
    EXPECT_EQ(design.font.pixelHeight, coloured ? 16 : 11);
    EXPECT_EQ(design.font.bold, coloured);
    EXPECT_EQ(design.font.family, std::string("Tahoma"));
    EXPECT_EQ(design.startColour != kNoColour, coloured);
  }
  EXPECT_EQ(ControlByName("Label12"), std::nullopt);

  const char* removeHint = "Double click to remove this block";
  for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label11"})
    EXPECT_EQ(Control(*ControlByName(name)).hint, std::string(removeHint));
  EXPECT_EQ(Control(ControlId::Label9).hint, std::string("Double click to edit SysID"));
  EXPECT_EQ(Control(ControlId::Label6).hint, std::string(""));
  EXPECT_EQ(Control(ControlId::Label1).startColour, 0x004000u);  // dark green
  EXPECT_EQ(Control(ControlId::Label7).startColour, 0x404000u);  // dark olive
  EXPECT_EQ(Control(ControlId::Label9).startColour, 0x000080u);  // navy

  // Inside two group boxes, the offsets add up.
  EXPECT_EQ(ClientRect(ControlId::ButtonSaveToToppy), (Rect{176 + 8 + 8, 8 + 88 + 160, 121, 17}));
  EXPECT_EQ(ClientRect(ControlId::ButtonNew), (Rect{25, 32, 121, 17}));
  EXPECT_EQ(ClientRect(ControlId::Label9), (Rect{8, 434, 329, 23}));

  const WindowDesign& window = MainWindow();
  EXPECT_EQ(window.caption, std::string("Tolv Pack"));
  EXPECT_EQ(window.clientWidth, 344);
  EXPECT_EQ(window.clientHeight, 461);
  EXPECT_EQ(window.left + window.top, 0);
  EXPECT_FALSE(window.resizable);
  EXPECT_TRUE(window.minimiseButton);
  EXPECT_FALSE(window.maximiseButton);
}

// "Name=Caption" per entry, "-" per separator.
std::vector<std::string> Entries(const MenuDesign& menu) {
  std::vector<std::string> entries;
  for (const MenuItemDesign& item : menu.items) {
    entries.push_back(item.IsSeparator() ? "-" : std::string(item.name) + "=" + item.caption);
    if (item.id) {
      EXPECT_EQ(MenuEntryByName(item.name), item.id);
    }
  }
  return entries;
}

TEST(WindowControls, MenusHoldEveryEntryInOrderWithAccessKeys) {
  using V = std::vector<std::string>;
  const auto menus = MainMenu();
  ASSERT_EQ(menus.size(), 6u);
  EXPECT_EQ(Entries(menus[0]), (V{"MenuFileChangeSysID=Change SysID", "-", "MenuFileExit=E&xit"}));
  EXPECT_EQ(Entries(menus[1]), (V{"MenuLoadLoaderBIN=Loader BIN", "MenuLoadFirmwareBIN=Firmware BIN",
                                  "MenuLoadFlashBIN=Flash BIN", "MenuLoadEEPROMBIN=EEPROM BIN",
                                  "MenuLoadDefaultsBIN=Defaults BIN", "MenuLoadBackgroundBIN=Background BIN",
                                  "-", "MenuLoadFlashDMP=Flash DMP", "MenuLoadFlashBlock=Flash Block"}));
  EXPECT_EQ(Entries(menus[2]), (V{"MenuSaveLoaderBIN=Loader BIN", "MenuSaveFirmwareBIN=Firmware BIN",
                                  "MenuSaveFlashBIN=Flash BIN", "MenuSaveEEPROMBIN=EEPROM BIN",
                                  "MenuSaveDefaultsBIN=Defaults BIN", "MenuSaveBackgroundBIN=Background BIN",
                                  "-", "MenuSaveFlashDMP=Flash DMP", "MenuSaveFlashBlocks=Flash Blocks"}));
  EXPECT_EQ(Entries(menus[3]), (V{"MenuFlashEEPROMDefaults=Flash && EEPROM => Defaults",
                                  "MenuDefaultsFlashEEPROM=Defaults => Flash && EEPROM",
                                  "MenuDefaultsNULLSettings=NULL Settings"}));
  EXPECT_EQ(Entries(menus[4]),
            (V{"MenuRemoveLoader=Loader", "MenuRemoveFirmware=Firmware", "MenuRemoveSettings=Settings",
               "MenuRemoveEEPROM=EEPROM", "MenuRemoveDefaults=Defaults"}));
  EXPECT_EQ(Entries(menus[5]),
            (V{"MenuToppyBackUp=&Back up to a folder...", "MenuToppyRestore=&Restore a backup...",
               "MenuToppyCompare=&Compare with a backup..."}));
  std::string keys;
  for (const MenuDesign& menu : menus) keys += AccessKey(menu.caption);
  EXPECT_EQ(keys, "flsdrt");
  EXPECT_EQ(AccessKey(MenuEntry(MenuEntryId::MenuFileExit).caption), 'x');
  EXPECT_EQ(AccessKey("Flash && EEPROM => Defaults"), 0) << "\"&&\" is a shown \"&\"";
  EXPECT_EQ(AccessKey("Save && E&xit"), 'x');
  EXPECT_EQ(ShownCaption("Flash && EEPROM => Defaults"), "Flash & EEPROM => Defaults");
  EXPECT_EQ(ShownCaption("E&xit"), "Exit");
  EXPECT_EQ(ShownCaption("NULL Settings"), "NULL Settings");
}

TEST(WindowCommands, EveryTriggerRunsItsCommandThroughItsHandler) {
  std::set<std::string> handlers;
  size_t menuBindings = 0;
  for (const CommandBinding& binding : CommandBindings()) {
    EXPECT_TRUE(handlers.insert(binding.handler).second) << binding.handler << " bound twice";
    const std::string handler = binding.handler;
    if (binding.trigger == Trigger::MenuPick) {
      ++menuBindings;
      EXPECT_EQ(handler, std::string(MenuEntry(binding.entry).name) + "Click");
      EXPECT_EQ(CommandForMenuEntry(binding.entry), binding.command);
    } else {
      const char* event = binding.trigger == Trigger::Click ? "Click" : "DblClick";
      EXPECT_EQ(handler, std::string(Control(binding.control).name) + event);
    }
  }
  EXPECT_EQ(menuBindings, kMenuEntryCount) << "every menu entry runs a command";
  EXPECT_EQ(CommandForClick(ControlId::ButtonLoadSTD), CommandId::LoadStd);
  EXPECT_EQ(CommandForClick(ControlId::ButtonSaveToToppy), CommandId::ToToppy);
  EXPECT_EQ(CommandForClick(ControlId::CheckBox1), std::nullopt);
  EXPECT_EQ(CommandForClick(ControlId::Label1), std::nullopt) << "labels act on double-clicks";
  EXPECT_EQ(CommandForDoubleClick(ControlId::Label11), CommandId::UnloadBackground);
  EXPECT_EQ(CommandForDoubleClick(ControlId::Label9), CommandId::ChangeSysId);
  EXPECT_EQ(CommandForDoubleClick(ControlId::Label6), std::nullopt) << "layout labels do nothing";
  EXPECT_EQ(CommandForMenuEntry(MenuEntryId::MenuRemoveSettings), CommandId::UnloadFlash);
  EXPECT_EQ(CommandForMenuEntry(MenuEntryId::MenuFlashEEPROMDefaults), CommandId::FlashToDefaults);
  for (ComponentKind kind : kAllComponents) {
    EXPECT_EQ(CommandComponent(LoadBinCommand(kind)), kind);
    EXPECT_EQ(CommandComponent(SaveBinCommand(kind)), kind);
    EXPECT_EQ(CommandComponent(UnloadCommand(kind)), kind);
  }
  EXPECT_EQ(CommandComponent(CommandId::SaveFlashDump), std::nullopt);
}

using Dlg = FileDialogRequest::Kind;
constexpr const char* kStd = "Topfield STD (*.std)|*.std|All files|*.*";
constexpr const char* kTfd = "Topfield TFD (*.tfd)|*.tfd|All files|*.*";
constexpr const char* kBin = "Binaries (*.bin)|*.bin|All files|*.*";
constexpr const char* kDmp = "Flash Dump (*.dmp)|*.dmp|All files|*.*";
constexpr const char* kBlocks = "Block binaries (*[??].bin)|*[??].bin|All files|*.*";

TEST(WindowCommands, EachFileCommandAsksForItsOwnDialog) {
  const std::pair<const char*, FileDialogRequest> expected[] = {
      {"ButtonLoadSTDClick", {Dlg::Open, "std", "TolvPack: Load a std files", kStd}},
      {"ButtonLoadTFDClick", {Dlg::Open, "tfd", "TolvPack: Load a tfd files", kTfd}},
      {"ButtonSaveSTDClick", {Dlg::Save, "std", "TolvPack: Save a std files", kStd}},
      {"ButtonSaveTFDClick", {Dlg::Save, "tfd", "TolvPack: Save a tfd file", kTfd}},
      {"MenuLoadLoaderBINClick", {Dlg::Open, "bin", "TolvPack: Load a Loader BIN", kBin}},
      {"MenuLoadFirmwareBINClick", {Dlg::Open, "bin", "TolvPack: Load a Firmware BIN", kBin}},
      {"MenuLoadFlashBINClick", {Dlg::Open, "bin", "TolvPack: Load a Flash BIN", kBin}},
      {"MenuLoadEEPROMBINClick", {Dlg::Open, "bin", "TolvPack: Load a EEPROM BIN", kBin}},
      {"MenuLoadDefaultsBINClick", {Dlg::Open, "bin", "TolvPack: Load a Defaults BIN", kBin}},
      {"MenuLoadBackgroundBINClick", {Dlg::Open, "bin", "TolvPack: Load a Background BIN", kBin}},
      {"MenuLoadFlashDMPClick", {Dlg::Open, "dmp", "TolvPack: Load a Flash Dump", kDmp}},
      {"MenuLoadFlashBlockClick", {Dlg::Open, "bin", "TolvPack: Load flash blocks", kBlocks}},
      {"MenuSaveLoaderBINClick", {Dlg::Save, "bin", "TolvPack: Save a Loader BIN", kBin}},
      {"MenuSaveFirmwareBINClick", {Dlg::Save, "bin", "TolvPack: Save a Firmware BIN", kBin}},
      {"MenuSaveFlashBINClick", {Dlg::Save, "bin", "TolvPack: Save a Flash BIN", kBin}},
      {"MenuSaveEEPROMBINClick", {Dlg::Save, "bin", "TolvPack: Save a EEPROM BIN", kBin}},
      {"MenuSaveDefaultsBINClick", {Dlg::Save, "bin", "TolvPack: Save a Defaults BIN", kBin}},
      {"MenuSaveBackgroundBINClick", {Dlg::Save, "bin", "TolvPack: Save a Background BIN", kBin}},
      {"MenuSaveFlashDMPClick", {Dlg::Save, "dmp", "TolvPack: Save a Flash Dump", kDmp}},
      {"MenuSaveFlashBlocksClick", {Dlg::Save, "bin", "TolvPack: Save flash blocks", kBlocks}},
  };
  size_t dialogs = 0;
  for (const CommandBinding& binding : CommandBindings()) {
    const std::optional<FileDialogRequest> request = DialogRequestFor(binding.command);
    if (!request) continue;
    ++dialogs;
    bool listed = false;
    for (const auto& [handler, want] : expected) {
      if (std::string(handler) != binding.handler) continue;
      listed = true;
      EXPECT_EQ(*request, want) << handler;
    }
    EXPECT_TRUE(listed) << binding.handler << " shows a dialog it should not";
  }
  EXPECT_EQ(dialogs, std::size(expected));

  EXPECT_EQ(FilterPairs(kBlocks),
            (std::vector<FilterPair>{{"Block binaries (*[??].bin)", "*[??].bin"}, {"All files", "*.*"}}));
  EXPECT_EQ(FilterPairs("Text|*.txt;*.log|Dangling"), (std::vector<FilterPair>{{"Text", "*.txt;*.log"}}));
  EXPECT_TRUE(FilterPairs("").empty());
}

}  // namespace
}  // namespace tolv::test
