// The command table and the availability rules.
#include "window/commands.h"

#include <array>

namespace tolv {
namespace {

using C = ControlId;
using M = MenuEntryId;
using Cmd = CommandId;

constexpr CommandBinding Click(C control, Cmd command, const char* handler) {
  return {Trigger::Click, control, M::MenuFileExit, command, handler};
}
constexpr CommandBinding DoubleClick(C control, Cmd command, const char* handler) {
  return {Trigger::DoubleClick, control, M::MenuFileExit, command, handler};
}
constexpr CommandBinding Pick(M entry, Cmd command, const char* handler) {
  return {Trigger::MenuPick, C::GroupBox1, entry, command, handler};
}

constexpr std::array kBindings = {
    Click(C::ButtonNew, Cmd::New, "ButtonNewClick"),
    Click(C::ButtonLoadSTD, Cmd::LoadStd, "ButtonLoadSTDClick"),
    Click(C::ButtonLoadTFD, Cmd::LoadTfd, "ButtonLoadTFDClick"),
    Click(C::ButtonLoadFromToppy, Cmd::FromToppy, "ButtonLoadFromToppyClick"),
    Click(C::ButtonSaveSTD, Cmd::SaveStd, "ButtonSaveSTDClick"),
    Click(C::ButtonSaveTFD, Cmd::SaveTfd, "ButtonSaveTFDClick"),
    Click(C::ButtonSaveToToppy, Cmd::ToToppy, "ButtonSaveToToppyClick"),
    DoubleClick(C::Label1, Cmd::UnloadLoader, "Label1DblClick"),
    DoubleClick(C::Label2, Cmd::UnloadFirmware, "Label2DblClick"),
    DoubleClick(C::Label3, Cmd::UnloadFlash, "Label3DblClick"),
    DoubleClick(C::Label4, Cmd::UnloadEeprom, "Label4DblClick"),
    DoubleClick(C::Label5, Cmd::UnloadDefaults, "Label5DblClick"),
    DoubleClick(C::Label11, Cmd::UnloadBackground, "Label11DblClick"),
    DoubleClick(C::Label9, Cmd::ChangeSysId, "Label9DblClick"),
    Pick(M::MenuFileChangeSysID, Cmd::ChangeSysId, "MenuFileChangeSysIDClick"),
    Pick(M::MenuFileExit, Cmd::Exit, "MenuFileExitClick"),
    Pick(M::MenuLoadLoaderBIN, Cmd::LoadLoaderBin, "MenuLoadLoaderBINClick"),
    Pick(M::MenuLoadFirmwareBIN, Cmd::LoadFirmwareBin, "MenuLoadFirmwareBINClick"),
    Pick(M::MenuLoadFlashBIN, Cmd::LoadFlashBin, "MenuLoadFlashBINClick"),
    Pick(M::MenuLoadEEPROMBIN, Cmd::LoadEepromBin, "MenuLoadEEPROMBINClick"),
    Pick(M::MenuLoadDefaultsBIN, Cmd::LoadDefaultsBin, "MenuLoadDefaultsBINClick"),
    Pick(M::MenuLoadBackgroundBIN, Cmd::LoadBackgroundBin, "MenuLoadBackgroundBINClick"),
    Pick(M::MenuLoadFlashDMP, Cmd::LoadFlashDump, "MenuLoadFlashDMPClick"),
    Pick(M::MenuLoadFlashBlock, Cmd::LoadFlashBlock, "MenuLoadFlashBlockClick"),
    Pick(M::MenuSaveLoaderBIN, Cmd::SaveLoaderBin, "MenuSaveLoaderBINClick"),
    Pick(M::MenuSaveFirmwareBIN, Cmd::SaveFirmwareBin, "MenuSaveFirmwareBINClick"),
    Pick(M::MenuSaveFlashBIN, Cmd::SaveFlashBin, "MenuSaveFlashBINClick"),
    Pick(M::MenuSaveEEPROMBIN, Cmd::SaveEepromBin, "MenuSaveEEPROMBINClick"),
    Pick(M::MenuSaveDefaultsBIN, Cmd::SaveDefaultsBin, "MenuSaveDefaultsBINClick"),
    Pick(M::MenuSaveBackgroundBIN, Cmd::SaveBackgroundBin, "MenuSaveBackgroundBINClick"),
    Pick(M::MenuSaveFlashDMP, Cmd::SaveFlashDump, "MenuSaveFlashDMPClick"),
    Pick(M::MenuSaveFlashBlocks, Cmd::SaveFlashBlocks, "MenuSaveFlashBlocksClick"),
    Pick(M::MenuFlashEEPROMDefaults, Cmd::FlashToDefaults, "MenuFlashEEPROMDefaultsClick"),
    Pick(M::MenuDefaultsFlashEEPROM, Cmd::DefaultsToFlash, "MenuDefaultsFlashEEPROMClick"),
    Pick(M::MenuDefaultsNULLSettings, Cmd::NullDefaults, "MenuDefaultsNULLSettingsClick"),
    Pick(M::MenuRemoveLoader, Cmd::UnloadLoader, "MenuRemoveLoaderClick"),
    Pick(M::MenuRemoveFirmware, Cmd::UnloadFirmware, "MenuRemoveFirmwareClick"),
    Pick(M::MenuRemoveSettings, Cmd::UnloadFlash, "MenuRemoveSettingsClick"),
    Pick(M::MenuRemoveEEPROM, Cmd::UnloadEeprom, "MenuRemoveEEPROMClick"),
    Pick(M::MenuRemoveDefaults, Cmd::UnloadDefaults, "MenuRemoveDefaultsClick"),
    Pick(M::MenuToppyBackUp, Cmd::BackUpToppy, "MenuToppyBackUpClick"),
    Pick(M::MenuToppyRestore, Cmd::RestoreBackup, "MenuToppyRestoreClick"),
    Pick(M::MenuToppyCompare, Cmd::CompareBackup, "MenuToppyCompareClick"),
};

// The command of a run of six per-component commands that begins at first.
CommandId Nth(CommandId first, ComponentKind kind) {
  return static_cast<CommandId>(Index(first) + static_cast<size_t>(kind));
}

std::optional<ComponentKind> InRun(CommandId id, CommandId first) {
  if (Index(id) < Index(first) || Index(id) >= Index(first) + kComponentCount) return std::nullopt;
  return static_cast<ComponentKind>(Index(id) - Index(first));
}

std::optional<std::string> Needs(bool available, const char* reason) {
  if (available) return std::nullopt;
  return std::string(reason);
}

}  // namespace

CommandId LoadBinCommand(ComponentKind kind) { return Nth(Cmd::LoadLoaderBin, kind); }
CommandId SaveBinCommand(ComponentKind kind) { return Nth(Cmd::SaveLoaderBin, kind); }
CommandId UnloadCommand(ComponentKind kind) { return Nth(Cmd::UnloadLoader, kind); }

std::optional<ComponentKind> CommandComponent(CommandId id) {
  for (CommandId first : {Cmd::LoadLoaderBin, Cmd::SaveLoaderBin, Cmd::UnloadLoader})
    if (std::optional<ComponentKind> kind = InRun(id, first)) return kind;
  return std::nullopt;
}

std::span<const CommandBinding> CommandBindings() { return kBindings; }

std::optional<CommandId> CommandForClick(ControlId id) {
  for (const CommandBinding& binding : kBindings)
    if (binding.trigger == Trigger::Click && binding.control == id) return binding.command;
  return std::nullopt;
}

std::optional<CommandId> CommandForDoubleClick(ControlId id) {
  for (const CommandBinding& binding : kBindings)
    if (binding.trigger == Trigger::DoubleClick && binding.control == id) return binding.command;
  return std::nullopt;
}

CommandId CommandForMenuEntry(MenuEntryId id) {
  for (const CommandBinding& binding : kBindings)
    if (binding.trigger == Trigger::MenuPick && binding.entry == id) return binding.command;
  return Cmd::Exit;  // not reached: every entry is bound
}

std::optional<std::string> Command_Refusal(CommandId command, const Workspace& workspace) {
  const bool flash = workspace.Present(ComponentKind::Flash);
  const bool eeprom = workspace.Present(ComponentKind::Eeprom);
  if (std::optional<ComponentKind> kind = InRun(command, Cmd::SaveLoaderBin)) {
    if (workspace.Present(*kind)) return std::nullopt;
    return std::string("The ") + ComponentName(*kind) + " is not present: there is nothing to save.";
  }
  switch (command) {
    case Cmd::SaveFlashBlocks: return Command_Refusal(Cmd::SaveFlashBin, workspace);
    case Cmd::SaveFlashDump: return Needs(flash, "Saving a flash dump needs the Flash.");
    case Cmd::SaveStd:
      return Needs(flash && eeprom, "Saving an STD file needs both the Flash and the EEPROM.");
    case Cmd::SaveTfd:
      return Needs(workspace.AnyPresent(), "Saving a TFD file needs at least one component.");
    case Cmd::ToToppy:
      return Needs(workspace.AnyPresent(), "Sending to the receiver needs at least one component.");
    case Cmd::FlashToDefaults:
      return Needs(flash && eeprom, "Flash && EEPROM => Defaults needs both the Flash and the EEPROM.");
    case Cmd::DefaultsToFlash:
      return Needs(workspace.Present(ComponentKind::Defaults),
                   "Defaults => Flash && EEPROM needs the Defaults.");
    default: return std::nullopt;
  }
}

}  // namespace tolv
