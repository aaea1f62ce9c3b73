// The window's commands: which button, menu entry or double-click runs which
// command, and when a command is available on the workspace (with the reason
// when it is not). The window enables its controls by these rules.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "window/controls.h"
#include "workspace/workspace.h"

namespace tolv {

enum class CommandId : uint8_t {
  New,            // "Unload all data?", then every component absent
  LoadStd,        // a dialog, then the STD load
  LoadTfd,        // a dialog, then the TFD import
  SaveStd,        // a dialog, then the STD save
  SaveTfd,        // a dialog, then the TFD export
  FromToppy,      // the receiver download (or its cancel while a transfer runs)
  ToToppy,        // the receiver upload (or its cancel while a transfer runs)
  LoadLoaderBin,  // the six component BIN loads, in ComponentKind order
  LoadFirmwareBin,
  LoadFlashBin,
  LoadEepromBin,
  LoadDefaultsBin,
  LoadBackgroundBin,
  LoadFlashDump,
  LoadFlashBlock,
  SaveLoaderBin,  // the six component BIN saves, in ComponentKind order
  SaveFirmwareBin,
  SaveFlashBin,
  SaveEepromBin,
  SaveDefaultsBin,
  SaveBackgroundBin,
  SaveFlashDump,
  SaveFlashBlocks,
  FlashToDefaults,  // "Flash && EEPROM => Defaults"
  DefaultsToFlash,  // "Defaults => Flash && EEPROM"
  NullDefaults,     // "NULL Settings"
  UnloadLoader,     // removing one component, in ComponentKind order
  UnloadFirmware,
  UnloadFlash,
  UnloadEeprom,
  UnloadDefaults,
  UnloadBackground,
  ChangeSysId,    // the SystemID input box
  Exit,           // ends the program (a running transfer is cancelled first)
  BackUpToppy,    // a folder, then everything the receiver gives into a new backup folder in it
  RestoreBackup,  // a backup folder, checked, its plan asked for, sent, read back and compared
  CompareBackup,  // a backup folder, then the receiver's components compared with it
};
inline constexpr size_t kCommandCount = static_cast<size_t>(CommandId::CompareBackup) + 1;

constexpr size_t Index(CommandId id) { return static_cast<size_t>(id); }

// The per-component commands of kind.
CommandId LoadBinCommand(ComponentKind kind);
CommandId SaveBinCommand(ComponentKind kind);
CommandId UnloadCommand(ComponentKind kind);

// The component a BIN load, BIN save or unload command works on; nothing for
// every other command.
std::optional<ComponentKind> CommandComponent(CommandId id);

// --- What runs which command ------------------------------------------------

enum class Trigger : uint8_t {
  Click,        // a button pressed
  DoubleClick,  // a label double-clicked
  MenuPick,     // a menu entry chosen
};

struct CommandBinding {
  Trigger trigger;
  ControlId control;  // for Click and DoubleClick
  MenuEntryId entry;  // for MenuPick
  CommandId command;
};

// Every binding: the 7 buttons, the 7 double-click labels and the 29 menu
// entries. Controls not listed (group boxes, check boxes, combo boxes, the
// status line, the bar, the layout labels) run no command.
std::span<const CommandBinding> CommandBindings();

// The command a click on a button, or a double-click on a label, runs;
// nothing for a control without one.
std::optional<CommandId> CommandForClick(ControlId id);
std::optional<CommandId> CommandForDoubleClick(ControlId id);
// The command of a menu entry (every entry has one).
CommandId CommandForMenuEntry(MenuEntryId id);

// --- Availability -----------------------------------------------------------

// Why command cannot run on this workspace, or nothing when it can: the
// save side, the two Defaults copies and To Toppy follow the rules of
// workspace/availability.h; every other command is always available. Whether
// a transfer locks the command is not part of this: see window/view.h.
std::optional<std::string> Command_Refusal(CommandId command, const Workspace& workspace);

inline bool Command_Available(CommandId command, const Workspace& workspace) {
  return !Command_Refusal(command, workspace).has_value();
}

}  // namespace tolv
