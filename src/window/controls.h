// The main window's controls and menus as data: what a window face (the Qt
// window, the native Win32 window) creates, where, with which caption, hint,
// font and start colour. A face builds its whole window from these tables
// alone; behaviour lives in the view (window/view.h), the command table
// (window/command_bindings.h) and the model (window/window_model.h).
//
// No toolkit type appears here: rectangles are ints in pixels, colours are
// 0xRRGGBB, fonts are a family name, a pixel height and a weight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tolv {

// Every control of the window, in the order a face creates them (and the
// order of the keyboard focus). The names are the controls' own names.
enum class ControlId : uint8_t {
  GroupBox1,
  ButtonNew,
  ButtonLoadSTD,
  ButtonLoadTFD,
  GroupBox3,
  ComboBox1,
  CheckBox1,
  CheckBox2,
  CheckBox3,
  CheckBox4,
  CheckBox5,
  CheckBox13,
  CheckBox11,
  ButtonLoadFromToppy,
  GroupBox2,
  ButtonSaveSTD,
  ButtonSaveTFD,
  GroupBox4,
  ComboBox2,
  CheckBox6,
  CheckBox7,
  CheckBox8,
  CheckBox9,
  CheckBox10,
  CheckBox14,
  CheckBox12,
  ButtonSaveToToppy,
  Label10,
  PB1,
  Label1,
  Label2,
  Label3,
  Label4,
  Label5,
  Label11,
  Label6,
  Label7,
  Label8,
  Label9,
};
inline constexpr size_t kControlCount = static_cast<size_t>(ControlId::Label9) + 1;

constexpr size_t Index(ControlId id) { return static_cast<size_t>(id); }

enum class ControlKind : uint8_t {
  Group,          // a framed group box; an empty caption draws the frame alone
  Button,         // a push button
  CheckBox,       // a check box with its caption to the right; starts unchecked
  ComboBox,       // a drop-down list (no typing); rect.height is its closed height
  StatusLine,     // a one-line text label on the window's background
  ProgressBar,    // a smooth progress bar, range kProgressMin..kProgressMax
  ColouredLabel,  // centred text in the window-text colour on an opaque coloured background
};

// The progress bar's range.
inline constexpr int kProgressMin = 0;
inline constexpr int kProgressMax = 100;

// A rectangle in pixels: left and top relative to the client area of the
// control's parent (the window's client area, or the group box).
struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  constexpr bool operator==(const Rect&) const = default;
};

struct FontStyle {
  const char* family;  // "Tahoma"; a face without it picks its closest sans face
  int pixelHeight;     // character height in pixels
  bool bold;
};

// The window's font, and the bold one of the coloured labels.
inline constexpr FontStyle kWindowFont = {"Tahoma", 11, false};
inline constexpr FontStyle kLabelFont = {"Tahoma", 16, true};

// Means "no colour of its own" in colour fields.
inline constexpr uint32_t kNoColour = 0xFFFFFFFF;

struct ControlDesign {
  ControlId id;
  const char* name;  // "ButtonLoadSTD"
  ControlKind kind;
  std::optional<ControlId> parent;  // nothing: the window's client area
  const char* caption;              // as stored; "" for none (a combo box, the bar)
  Rect rect;                        // relative to the parent, see Rect
  const char* hint;                 // the tooltip shown on hover; "" for none
  FontStyle font;                   // kWindowFont, or kLabelFont for coloured labels
  uint32_t startColour;             // coloured labels: background until the first refresh; else kNoColour
};

// Every control, indexed by ControlId (ControlTable()[Index(id)].id == id).
std::span<const ControlDesign> ControlTable();
const ControlDesign& Control(ControlId id);

// The control's rectangle in the window's client area (the parent group
// boxes' offsets added): for a face whose controls all sit directly on the
// window.
Rect ClientRect(ControlId id);

// --- The window itself ---------------------------------------------------------

struct WindowDesign {
  const char* caption;  // "Tolv Pack"
  int clientWidth;      // 344: the client area below the menu bar
  int clientHeight;     // 461
  int left, top;        // placed at the screen's top-left corner
  FontStyle font;       // kWindowFont
  // Fixed single border (no resizing), system menu and minimise button only;
  // the background is the system's button-face colour.
  bool resizable;
  bool minimiseButton;
  bool maximiseButton;
};
inline constexpr WindowDesign kMainWindow = {"Tolv Pack", 344, 461, 0, 0, kWindowFont, false, true, false};
// kMainWindow.
const WindowDesign& MainWindow();

// --- The main menu ----------------------------------------------------------

// Every menu entry that runs a command (separators have none), in menu order.
enum class MenuEntryId : uint8_t {
  MenuFileChangeSysID,
  MenuFileExit,
  MenuLoadLoaderBIN,
  MenuLoadFirmwareBIN,
  MenuLoadFlashBIN,
  MenuLoadEEPROMBIN,
  MenuLoadDefaultsBIN,
  MenuLoadBackgroundBIN,
  MenuLoadFlashDMP,
  MenuLoadFlashBlock,
  MenuSaveLoaderBIN,
  MenuSaveFirmwareBIN,
  MenuSaveFlashBIN,
  MenuSaveEEPROMBIN,
  MenuSaveDefaultsBIN,
  MenuSaveBackgroundBIN,
  MenuSaveFlashDMP,
  MenuSaveFlashBlocks,
  MenuFlashEEPROMDefaults,
  MenuDefaultsFlashEEPROM,
  MenuDefaultsNULLSettings,
  MenuRemoveLoader,
  MenuRemoveFirmware,
  MenuRemoveSettings,
  MenuRemoveEEPROM,
  MenuRemoveDefaults,
  MenuToppyBackUp,
  MenuToppyRestore,
  MenuToppyCompare,
};
inline constexpr size_t kMenuEntryCount = static_cast<size_t>(MenuEntryId::MenuToppyCompare) + 1;

constexpr size_t Index(MenuEntryId id) { return static_cast<size_t>(id); }

// One line of a drop-down menu: an entry, or a separator (no id, name "",
// caption "").
struct MenuItemDesign {
  std::optional<MenuEntryId> id;
  const char* name;     // "MenuLoadFlashDMP"
  const char* caption;  // as stored: "&" marks the access key, "&&" shows one "&"
  bool IsSeparator() const { return !id.has_value(); }
};

struct MenuDesign {
  const char* name;     // "MenuFile"
  const char* caption;  // "&File"
  std::span<const MenuItemDesign> items;
};

// The menu bar's menus in order: File, Load, Save, Defaults, Remove, Toppy
// (the owner's jobs on a backup folder).
std::span<const MenuDesign> MainMenu();

// The item of an entry (its name and caption).
const MenuItemDesign& MenuEntry(MenuEntryId id);

// The access key of a stored caption: the character after a single "&", in
// lower case ("E&xit" -> 'x'); 0 when there is none ("Flash && EEPROM").
char AccessKey(const std::string& caption);

// A stored caption as shown: each single "&" dropped, "&&" shown as "&"
// ("Flash && EEPROM => Defaults" -> "Flash & EEPROM => Defaults").
std::string ShownCaption(const std::string& caption);

}  // namespace tolv
