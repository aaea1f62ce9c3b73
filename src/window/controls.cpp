// The tables of the window's controls and menus.
#include "window/controls.h"

#include <array>
#include <cctype>

namespace tolv {
namespace {

using C = ControlId;
using K = ControlKind;

constexpr const char* kRemoveHint = "Double click to remove this block";
constexpr const char* kSysIdHint = "Double click to edit SysID";

// Start colours of the coloured labels (replaced by the first refresh).
constexpr uint32_t kDarkGreen = 0x004000;
constexpr uint32_t kDarkOlive = 0x404000;
constexpr uint32_t kNavy = 0x000080;

constexpr ControlDesign Group(C id, const char* name, std::optional<C> parent, const char* caption,
                              Rect rect) {
  return {id, name, K::Group, parent, caption, rect, "", kWindowFont, kNoColour};
}

// Push buttons are 121 x 17.
constexpr ControlDesign Button(C id, const char* name, C parent, const char* caption, int left, int top) {
  return {id, name, K::Button, parent, caption, {left, top, 121, 17}, "", kWindowFont, kNoColour};
}

// Check boxes sit at the left of their box, 121 x 17.
constexpr ControlDesign Box(C id, const char* name, C parent, const char* caption, int top) {
  return {id, name, K::CheckBox, parent, caption, {8, top, 121, 17}, "", kWindowFont, kNoColour};
}

// Drop-down lists are 121 wide; 21 is the height of the closed list.
constexpr ControlDesign Combo(C id, const char* name, C parent) {
  return {id, name, K::ComboBox, parent, "", {8, 12, 121, 21}, "", kWindowFont, kNoColour};
}

// Coloured labels are 105 x 23, the SystemID label 329 x 23.
constexpr ControlDesign Coloured(C id, const char* name, const char* caption, int left, int top, int width,
                                 const char* hint, uint32_t colour) {
  return {id,         name,  K::ColouredLabel, std::nullopt, caption, {left, top, width, 23}, hint,
          kLabelFont, colour};
}

constexpr std::array<ControlDesign, kControlCount> kControls = {{
    Group(C::GroupBox1, "GroupBox1", std::nullopt, "Load", {8, 8, 161, 281}),
    Button(C::ButtonNew, "ButtonNew", C::GroupBox1, "New", 17, 24),
    Button(C::ButtonLoadSTD, "ButtonLoadSTD", C::GroupBox1, "STD", 16, 48),
    Button(C::ButtonLoadTFD, "ButtonLoadTFD", C::GroupBox1, "TFD", 16, 64),
    Group(C::GroupBox3, "GroupBox3", C::GroupBox1, "", {8, 88, 145, 185}),
    Combo(C::ComboBox1, "ComboBox1", C::GroupBox3),
    Box(C::CheckBox1, "CheckBox1", C::GroupBox3, "Loader", 40),
    Box(C::CheckBox2, "CheckBox2", C::GroupBox3, "Firmware", 56),
    Box(C::CheckBox3, "CheckBox3", C::GroupBox3, "Settings", 72),
    Box(C::CheckBox4, "CheckBox4", C::GroupBox3, "EEPROM", 88),
    Box(C::CheckBox5, "CheckBox5", C::GroupBox3, "Defaults", 104),
    Box(C::CheckBox13, "CheckBox13", C::GroupBox3, "Background", 120),
    Box(C::CheckBox11, "CheckBox11", C::GroupBox3, "Log transfer", 136),
    Button(C::ButtonLoadFromToppy, "ButtonLoadFromToppy", C::GroupBox3, "From Toppy", 8, 160),
    Group(C::GroupBox2, "GroupBox2", std::nullopt, "Save", {176, 8, 161, 281}),
    Button(C::ButtonSaveSTD, "ButtonSaveSTD", C::GroupBox2, "STD", 8, 48),
    Button(C::ButtonSaveTFD, "ButtonSaveTFD", C::GroupBox2, "TFD", 8, 64),
    Group(C::GroupBox4, "GroupBox4", C::GroupBox2, "", {8, 88, 145, 185}),
    Combo(C::ComboBox2, "ComboBox2", C::GroupBox4),
    Box(C::CheckBox6, "CheckBox6", C::GroupBox4, "Loader", 40),
    Box(C::CheckBox7, "CheckBox7", C::GroupBox4, "Firmware", 56),
    Box(C::CheckBox8, "CheckBox8", C::GroupBox4, "Settings", 72),
    Box(C::CheckBox9, "CheckBox9", C::GroupBox4, "EEPROM", 88),
    Box(C::CheckBox10, "CheckBox10", C::GroupBox4, "Defaults", 104),
    Box(C::CheckBox14, "CheckBox14", C::GroupBox4, "Background", 120),
    Box(C::CheckBox12, "CheckBox12", C::GroupBox4, "Log transfer", 136),
    Button(C::ButtonSaveToToppy, "ButtonSaveToToppy", C::GroupBox4, "To Toppy", 8, 160),
    // The status line is one text line across the window.
    {C::Label10, "Label10", K::StatusLine, std::nullopt, "-", {8, 296, 329, 14}, "", kWindowFont, kNoColour},
    {C::PB1, "PB1", K::ProgressBar, std::nullopt, "", {8, 312, 329, 17}, "", kWindowFont, kNoColour},
    Coloured(C::Label1, "Label1", "Loader", 8, 338, 105, kRemoveHint, kDarkGreen),
    Coloured(C::Label2, "Label2", "Firmware", 120, 338, 105, kRemoveHint, kDarkGreen),
    Coloured(C::Label3, "Label3", "Flash", 8, 362, 105, kRemoveHint, kDarkGreen),
    Coloured(C::Label4, "Label4", "EEPROM", 120, 362, 105, kRemoveHint, kDarkGreen),
    Coloured(C::Label5, "Label5", "Defaults", 232, 362, 105, kRemoveHint, kDarkGreen),
    Coloured(C::Label11, "Label11", "Background", 8, 386, 105, kRemoveHint, kDarkGreen),
    Coloured(C::Label6, "Label6", "DVB-s", 8, 410, 105, "", kDarkOlive),
    Coloured(C::Label7, "Label7", "DVB-t", 120, 410, 105, "", kDarkOlive),
    Coloured(C::Label8, "Label8", "DVB-c", 232, 410, 105, "", kDarkOlive),
    // Its stored caption is never shown: the first refresh replaces it.
    Coloured(C::Label9, "Label9", "SystemID =", 8, 434, 329, kSysIdHint, kNavy),
}};

using M = MenuEntryId;

constexpr MenuItemDesign kSeparator = {std::nullopt, "", ""};

constexpr std::array<MenuItemDesign, 3> kFileItems = {{
    {M::MenuFileChangeSysID, "MenuFileChangeSysID", "Change SysID"},
    kSeparator,
    {M::MenuFileExit, "MenuFileExit", "E&xit"},
}};

constexpr std::array<MenuItemDesign, 9> kLoadItems = {{
    {M::MenuLoadLoaderBIN, "MenuLoadLoaderBIN", "Loader BIN"},
    {M::MenuLoadFirmwareBIN, "MenuLoadFirmwareBIN", "Firmware BIN"},
    {M::MenuLoadFlashBIN, "MenuLoadFlashBIN", "Flash BIN"},
    {M::MenuLoadEEPROMBIN, "MenuLoadEEPROMBIN", "EEPROM BIN"},
    {M::MenuLoadDefaultsBIN, "MenuLoadDefaultsBIN", "Defaults BIN"},
    {M::MenuLoadBackgroundBIN, "MenuLoadBackgroundBIN", "Background BIN"},
    kSeparator,
    {M::MenuLoadFlashDMP, "MenuLoadFlashDMP", "Flash DMP"},
    {M::MenuLoadFlashBlock, "MenuLoadFlashBlock", "Flash Block"},
}};

constexpr std::array<MenuItemDesign, 9> kSaveItems = {{
    {M::MenuSaveLoaderBIN, "MenuSaveLoaderBIN", "Loader BIN"},
    {M::MenuSaveFirmwareBIN, "MenuSaveFirmwareBIN", "Firmware BIN"},
    {M::MenuSaveFlashBIN, "MenuSaveFlashBIN", "Flash BIN"},
    {M::MenuSaveEEPROMBIN, "MenuSaveEEPROMBIN", "EEPROM BIN"},
    {M::MenuSaveDefaultsBIN, "MenuSaveDefaultsBIN", "Defaults BIN"},
    {M::MenuSaveBackgroundBIN, "MenuSaveBackgroundBIN", "Background BIN"},
    kSeparator,
    {M::MenuSaveFlashDMP, "MenuSaveFlashDMP", "Flash DMP"},
    {M::MenuSaveFlashBlocks, "MenuSaveFlashBlocks", "Flash Blocks"},
}};

// "&&" shows one "&".
constexpr std::array<MenuItemDesign, 3> kDefaultsItems = {{
    {M::MenuFlashEEPROMDefaults, "MenuFlashEEPROMDefaults", "Flash && EEPROM => Defaults"},
    {M::MenuDefaultsFlashEEPROM, "MenuDefaultsFlashEEPROM", "Defaults => Flash && EEPROM"},
    {M::MenuDefaultsNULLSettings, "MenuDefaultsNULLSettings", "NULL Settings"},
}};

// No Background entry: the Background is removed through its label.
constexpr std::array<MenuItemDesign, 5> kRemoveItems = {{
    {M::MenuRemoveLoader, "MenuRemoveLoader", "Loader"},
    {M::MenuRemoveFirmware, "MenuRemoveFirmware", "Firmware"},
    {M::MenuRemoveSettings, "MenuRemoveSettings", "Settings"},
    {M::MenuRemoveEEPROM, "MenuRemoveEEPROM", "EEPROM"},
    {M::MenuRemoveDefaults, "MenuRemoveDefaults", "Defaults"},
}};

// The owner's jobs: the receiver against a backup folder.
constexpr std::array<MenuItemDesign, 3> kToppyItems = {{
    {M::MenuToppyBackUp, "MenuToppyBackUp", "&Back up to a folder..."},
    {M::MenuToppyRestore, "MenuToppyRestore", "&Restore a backup..."},
    {M::MenuToppyCompare, "MenuToppyCompare", "&Compare with a backup..."},
}};

const std::array<MenuDesign, 6> kMenus = {{
    {"MenuFile", "&File", kFileItems},
    {"MenuLoad", "&Load", kLoadItems},
    {"MenuSave", "&Save", kSaveItems},
    {"MenuDefaults", "&Defaults", kDefaultsItems},
    {"MenuRemove", "&Remove", kRemoveItems},
    {"MenuToppy", "&Toppy", kToppyItems},
}};

}  // namespace

std::span<const ControlDesign> ControlTable() { return kControls; }

const ControlDesign& Control(ControlId id) { return kControls[Index(id)]; }

Rect ClientRect(ControlId id) {
  Rect rect = Control(id).rect;
  for (std::optional<ControlId> parent = Control(id).parent; parent; parent = Control(*parent).parent) {
    rect.left += Control(*parent).rect.left;
    rect.top += Control(*parent).rect.top;
  }
  return rect;
}

const WindowDesign& MainWindow() { return kMainWindow; }

std::span<const MenuDesign> MainMenu() { return kMenus; }

const MenuItemDesign& MenuEntry(MenuEntryId id) {
  for (const MenuDesign& menu : kMenus)
    for (const MenuItemDesign& item : menu.items)
      if (item.id == id) return item;
  return kSeparator;  // not reached: every entry is in a menu
}

char AccessKey(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] != '&')
      return static_cast<char>(std::tolower(static_cast<unsigned char>(caption[i + 1])));
    ++i;  // "&&": a shown "&"
  }
  return 0;
}

std::string ShownCaption(const std::string& caption) {
  std::string shown;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;  // the marker goes, the next character stays
    shown += caption[i];
  }
  return shown;
}

}  // namespace tolv
