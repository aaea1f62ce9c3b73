// The window's tables: the controls' layout (inside the window, no overlaps,
// Tab order along the rows), the menus, the command bindings and the dialogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "window/command_bindings.h"
#include "window/controls.h"
#include "window/dialog_requests.h"

namespace tolv::test {
namespace {

// Whether two rectangles share more than an edge: rows of buttons and check
// boxes are laid out 16 pixels apart at a height of 17, so neighbours share
// their border line.
bool Overlap(const Rect& a, const Rect& b) {
  const int width = std::min(a.left + a.width, b.left + b.width) - std::max(a.left, b.left);
  const int height = std::min(a.top + a.height, b.top + b.height) - std::max(a.top, b.top);
  return width > 1 && height > 1;
}

bool Inside(const Rect& inner, int width, int height) {
  return inner.left >= 0 && inner.top >= 0 && inner.left + inner.width <= width &&
         inner.top + inner.height <= height;
}

TEST(WindowControls, EveryControlLiesInsideItsParentAndOverlapsNoSibling) {
  const WindowDesign& window = MainWindow();
  std::set<std::string> names;
  for (size_t i = 0; i < ControlTable().size(); ++i) {
    const ControlDesign& design = ControlTable()[i];
    SCOPED_TRACE(design.name);
    EXPECT_EQ(Index(design.id), i);
    EXPECT_TRUE(names.insert(design.name).second) << "names are unique";
    EXPECT_GT(design.rect.width, 0);
    EXPECT_GT(design.rect.height, 0);
    if (design.parent) {
      EXPECT_LT(Index(*design.parent), i) << "a parent is made before its children";
      EXPECT_EQ(Control(*design.parent).kind, ControlKind::Group);
      const Rect& box = Control(*design.parent).rect;
      EXPECT_TRUE(Inside(design.rect, box.width, box.height));
    }
    EXPECT_TRUE(Inside(ClientRect(design.id), window.clientWidth, window.clientHeight));
    for (size_t j = 0; j < i; ++j) {
      const ControlDesign& other = ControlTable()[j];
      if (other.parent != design.parent) continue;
      EXPECT_FALSE(Overlap(design.rect, other.rect)) << "overlaps " << other.name;
      // The Tab order (the table's) goes along the rows, top to bottom.
      EXPECT_TRUE(other.rect.top < design.rect.top ||
                  (other.rect.top == design.rect.top && other.rect.left < design.rect.left))
          << "comes after " << other.name << " in the Tab order but not in the layout";
    }
    const bool coloured = design.kind == ControlKind::ColouredLabel;
    EXPECT_EQ(design.font.pixelHeight, coloured ? 16 : 11);
    EXPECT_EQ(design.font.bold, coloured);
    EXPECT_EQ(design.startColour != kNoColour, coloured);
  }
  // Inside two group boxes, the offsets add up.
  EXPECT_EQ(ClientRect(ControlId::ButtonSaveToToppy), (Rect{176 + 8 + 8, 8 + 88 + 160, 121, 17}));
  EXPECT_EQ(ClientRect(ControlId::Label9), Control(ControlId::Label9).rect);
}

TEST(WindowControls, OnlyTheLabelsADoubleClickActsOnHintAtIt) {
  std::set<CommandId> removals;
  for (const ControlDesign& design : ControlTable()) {
    const std::optional<CommandId> command = CommandForDoubleClick(design.id);
    const bool edit = command == CommandId::ChangeSysId;
    if (command && !edit) removals.insert(*command);
    EXPECT_EQ(design.hint, std::string(!command ? ""
                                       : edit   ? "Double click to edit SysID"
                                                : "Double click to remove this block"))
        << design.name;
  }
  EXPECT_EQ(removals.size(), kComponentCount) << "each component has its label";
}

// "Name=Caption" per entry, "-" per separator.
std::vector<std::string> Entries(const MenuDesign& menu) {
  std::vector<std::string> entries;
  for (const MenuItemDesign& item : menu.items) {
    entries.push_back(item.IsSeparator() ? "-" : std::string(item.name) + "=" + item.caption);
    if (item.id) {
      EXPECT_EQ(&MenuEntry(*item.id), &item);
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

TEST(WindowCommands, EveryButtonMenuEntryAndLabelRunsOneCommand) {
  std::set<std::pair<Trigger, size_t>> triggers;
  size_t menuBindings = 0;
  for (const CommandBinding& binding : CommandBindings()) {
    if (binding.trigger == Trigger::MenuPick) {
      ++menuBindings;
      EXPECT_TRUE(triggers.insert({binding.trigger, Index(binding.entry)}).second);
      EXPECT_EQ(CommandForMenuEntry(binding.entry), binding.command);
      continue;
    }
    EXPECT_TRUE(triggers.insert({binding.trigger, Index(binding.control)}).second);
    const ControlKind kind =
        binding.trigger == Trigger::Click ? ControlKind::Button : ControlKind::ColouredLabel;
    EXPECT_EQ(Control(binding.control).kind, kind) << Control(binding.control).name;
  }
  EXPECT_EQ(menuBindings, kMenuEntryCount) << "every menu entry runs a command";
  for (const ControlDesign& design : ControlTable())
    if (design.kind == ControlKind::Button) {
      EXPECT_TRUE(CommandForClick(design.id)) << design.name;
    }
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
  using C = CommandId;
  const std::pair<CommandId, FileDialogRequest> expected[] = {
      {C::LoadStd, {Dlg::Open, "std", "TolvPack: Load a std files", kStd}},
      {C::LoadTfd, {Dlg::Open, "tfd", "TolvPack: Load a tfd files", kTfd}},
      {C::SaveStd, {Dlg::Save, "std", "TolvPack: Save a std files", kStd}},
      {C::SaveTfd, {Dlg::Save, "tfd", "TolvPack: Save a tfd file", kTfd}},
      {C::LoadLoaderBin, {Dlg::Open, "bin", "TolvPack: Load a Loader BIN", kBin}},
      {C::LoadFirmwareBin, {Dlg::Open, "bin", "TolvPack: Load a Firmware BIN", kBin}},
      {C::LoadFlashBin, {Dlg::Open, "bin", "TolvPack: Load a Flash BIN", kBin}},
      {C::LoadEepromBin, {Dlg::Open, "bin", "TolvPack: Load a EEPROM BIN", kBin}},
      {C::LoadDefaultsBin, {Dlg::Open, "bin", "TolvPack: Load a Defaults BIN", kBin}},
      {C::LoadBackgroundBin, {Dlg::Open, "bin", "TolvPack: Load a Background BIN", kBin}},
      {C::LoadFlashDump, {Dlg::Open, "dmp", "TolvPack: Load a Flash Dump", kDmp}},
      {C::LoadFlashBlock, {Dlg::Open, "bin", "TolvPack: Load flash blocks", kBlocks}},
      {C::SaveLoaderBin, {Dlg::Save, "bin", "TolvPack: Save a Loader BIN", kBin}},
      {C::SaveFirmwareBin, {Dlg::Save, "bin", "TolvPack: Save a Firmware BIN", kBin}},
      {C::SaveFlashBin, {Dlg::Save, "bin", "TolvPack: Save a Flash BIN", kBin}},
      {C::SaveEepromBin, {Dlg::Save, "bin", "TolvPack: Save a EEPROM BIN", kBin}},
      {C::SaveDefaultsBin, {Dlg::Save, "bin", "TolvPack: Save a Defaults BIN", kBin}},
      {C::SaveBackgroundBin, {Dlg::Save, "bin", "TolvPack: Save a Background BIN", kBin}},
      {C::SaveFlashDump, {Dlg::Save, "dmp", "TolvPack: Save a Flash Dump", kDmp}},
      {C::SaveFlashBlocks, {Dlg::Save, "bin", "TolvPack: Save flash blocks", kBlocks}},
  };
  size_t dialogs = 0;
  for (size_t i = 0; i < kCommandCount; ++i) {
    const CommandId command = static_cast<CommandId>(i);
    const std::optional<FileDialogRequest> request = DialogRequestFor(command);
    if (!request) continue;
    ++dialogs;
    bool listed = false;
    for (const auto& [want, dialog] : expected) {
      if (want != command) continue;
      listed = true;
      EXPECT_EQ(*request, dialog) << dialog.title;
    }
    EXPECT_TRUE(listed) << "command " << i << " shows a dialog it should not";
  }
  EXPECT_EQ(dialogs, std::size(expected));

  EXPECT_EQ(FilterPairs(kBlocks),
            (std::vector<FilterPair>{{"Block binaries (*[??].bin)", "*[??].bin"}, {"All files", "*.*"}}));
  EXPECT_EQ(FilterPairs("Text|*.txt;*.log|Dangling"), (std::vector<FilterPair>{{"Text", "*.txt;*.log"}}));
  EXPECT_TRUE(FilterPairs("").empty());
}

}  // namespace
}  // namespace tolv::test
