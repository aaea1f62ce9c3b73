// What the window shows, as a pure function of the workspace and the
// window's own state: the colour of every label, every caption, the enabled
// and checked state of every control and menu entry, the link lists, the
// status line and the progress bar. A face renders a WindowView and nothing
// else; it keeps no rules of its own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "window/command_bindings.h"
#include "window/controls.h"
#include "workspace/workspace.h"

namespace tolv {

// Colours of the status display (0xRRGGBB).
inline constexpr uint32_t kColourPresent = 0x00FF00;        // component present
inline constexpr uint32_t kColourAbsent = 0x004000;         // component absent
inline constexpr uint32_t kColourLayoutLit = 0xFFFF00;      // the recognised layout
inline constexpr uint32_t kColourLayoutUnlit = 0x404000;    // the other layouts
inline constexpr uint32_t kColourSystemIdSet = 0x0000FF;    // SystemID set
inline constexpr uint32_t kColourSystemIdUnset = 0x000080;  // SystemID 0

// The caption of a transfer button while its transfer runs.
inline constexpr const char* kCancelTransferCaption = "Cancel transfer";

// The two receiver transfers.
enum class TransferKind : uint8_t { None, FromToppy, ToToppy };

// The window's own state beside the workspace: what the user set in the
// controls, and where a transfer stands. Only WindowModel changes it.
struct WindowState {
  // Checked state of every check box, by ControlId (other entries unused).
  // All start unchecked.
  std::array<bool, kControlCount> checked{};
  // The link choices of both combo boxes: "USB", then the serial ports found
  // at start-up; and the selected index of ComboBox1 (From Toppy) and
  // ComboBox2 (To Toppy).
  std::vector<std::string> ports = {"USB"};
  int loadPort = 0;
  int savePort = 0;
  // Between Controls_Lock and Controls_Unlock: the transfer-sensitive
  // controls (ControlLockedDuringTransfer) are disabled.
  bool controlsLocked = false;
  // The transfer under way, if any ("TransferBusy" while not None).
  TransferKind transfer = TransferKind::None;
  // The link reported the cancel (kCancelRequested) of the running From Toppy: its
  // button reads "From Toppy" again while the workflow winds down.
  bool fromToppyCaptionRestored = false;
  // The status line's text (a trailing carriage return is not shown), its
  // tooltip (why a USB receiver cannot be used), and the bar's position.
  std::string statusText = "-";
  std::string statusHint;
  int progress = 0;
  // The window was told to close during a transfer: it closes once the
  // transfer has wound down, and the transfer asks nothing more.
  bool closeRequested = false;
  // The model list's read error was shown (it is shown once per run).
  bool modelListErrorShown = false;
};

// One control as shown.
struct ControlView {
  std::string caption;  // buttons, check boxes, group boxes, labels
  std::string hint;     // tooltip; "" for none
  bool enabled = true;
  bool checked = false;            // check boxes
  uint32_t colour = kNoColour;     // coloured labels: background 0xRRGGBB
  int position = 0;                // the progress bar, kProgressMin..kProgressMax
  std::vector<std::string> items;  // combo boxes: the list
  int selected = -1;               // combo boxes: the selected item
  bool operator==(const ControlView&) const = default;
};

struct WindowView {
  std::array<ControlView, kControlCount> controls;
  // Enabled state of every menu entry (the menus themselves are always enabled).
  std::array<bool, kMenuEntryCount> menuEnabled{};
  // The text of a model list ("Firmware.dat") that exists but cannot be
  // read, "" otherwise. The SystemID is then named "unknown SysID=%d".
  std::string modelListError;

  const ControlView& operator[](ControlId id) const { return controls[Index(id)]; }
  bool Enabled(MenuEntryId id) const { return menuEnabled[Index(id)]; }
  bool operator==(const WindowView&) const = default;
};

// The whole view. Looks up the SystemID's model name (Model_GetNameOrUnknown);
// nothing else is read and nothing is changed.
//
// - Component labels Label1 Loader, Label2 Firmware, Label3 Flash, Label4
//   EEPROM, Label5 Defaults, Label11 Background: bright green when present,
//   dark green when absent.
// - Layout labels Label6 DVB-s, Label7 DVB-t, Label8 DVB-c: the one of the
//   recognised layout yellow while the Flash is present, the others dark olive.
// - Label9: SystemID 0 navy with an empty caption; else blue with
//   "<SystemID> (<model name>)".
// - Enabled: a command's control or menu entry when the command is available
//   (Command_Refusal) and, while the controls are locked, not locked
//   (ControlLockedDuringTransfer); the Save group's component boxes when their
//   component is present and not locked; the running transfer's own button
//   always (it is the way to cancel).
// - The running transfer's button reads "Cancel transfer" (From Toppy reads
//   "From Toppy" again once the link reported the cancel).
// - The check boxes' checked state, the combo boxes' lists and selections,
//   the status line (without a trailing carriage return) and its hint, and
//   the bar are the state's.
WindowView Window_View(const Workspace& workspace, const WindowState& state);

// Sets in view what a step of a transfer changes: the status line and its
// hint, the bar, and the transfer buttons' captions. The rest of view stays
// as it was taken (a transfer refreshes the display only at its end, and a
// command run in between refreshes it as any command does).
void Window_ShowTransferState(WindowView& view, const WindowState& state);

// Whether a control, or a menu entry, is enabled in Window_View (without the
// rest of the view, and without reading the model list).
bool ControlEnabled(ControlId id, const Workspace& workspace, const WindowState& state);
bool MenuEntryEnabled(MenuEntryId id, const Workspace& workspace, const WindowState& state);

// --- The transfer lock set ----------------------------------------------------

// The controls a transfer disables while it uses the link, the TFD store and
// the packed block: the Load group's STD and TFD buttons, both transfer
// buttons, the Save group's STD and TFD buttons, and the component check boxes
// of both groups (not the "Log transfer" boxes). New, the combo boxes and the
// labels stay usable.
bool ControlLockedDuringTransfer(ControlId id);
// The menu entries a transfer disables: every Load and Save entry, and the
// Toppy menu's jobs. The File, Defaults and Remove menus stay usable.
bool MenuEntryLockedDuringTransfer(MenuEntryId id);

// The button of a transfer (ButtonLoadFromToppy, ButtonSaveToToppy), its
// caption while idle ("From Toppy", "To Toppy"), and the caption it shows in
// state.
ControlId TransferButton(TransferKind kind);
const char* TransferIdleCaption(TransferKind kind);
std::string TransferButtonCaption(TransferKind kind, const WindowState& state);

// --- Which control belongs to which component ---------------------------------

// The component label of kind (Label1 .. Label5, Label11).
ControlId ComponentLabel(ComponentKind kind);
// The Load group's check box of kind (CheckBox1 .. CheckBox5, CheckBox13).
ControlId LoadCheckBox(ComponentKind kind);
// The Save group's check box of kind (CheckBox6 .. CheckBox10, CheckBox14).
ControlId SaveCheckBox(ComponentKind kind);
// The component of a Save group check box; nothing for another control.
std::optional<ComponentKind> SaveCheckBoxComponent(ControlId id);

}  // namespace tolv
