// The command bindings, and Command_Refusal by the workspace's rules.
#include "window/command_bindings.h"

#include <array>

#include "workspace/availability.h"

namespace tolv {
namespace {

using C = ControlId;
using M = MenuEntryId;
using Cmd = CommandId;

constexpr CommandBinding Click(C control, Cmd command) {
  return {Trigger::Click, control, M::MenuFileExit, command};
}
constexpr CommandBinding DoubleClick(C control, Cmd command) {
  return {Trigger::DoubleClick, control, M::MenuFileExit, command};
}
constexpr CommandBinding Pick(M entry, Cmd command) {
  return {Trigger::MenuPick, C::GroupBox1, entry, command};
}

constexpr std::array kBindings = {
    Click(C::ButtonNew, Cmd::New),
    Click(C::ButtonLoadSTD, Cmd::LoadStd),
    Click(C::ButtonLoadTFD, Cmd::LoadTfd),
    Click(C::ButtonLoadFromToppy, Cmd::FromToppy),
    Click(C::ButtonSaveSTD, Cmd::SaveStd),
    Click(C::ButtonSaveTFD, Cmd::SaveTfd),
    Click(C::ButtonSaveToToppy, Cmd::ToToppy),
    DoubleClick(C::Label1, Cmd::UnloadLoader),
    DoubleClick(C::Label2, Cmd::UnloadFirmware),
    DoubleClick(C::Label3, Cmd::UnloadFlash),
    DoubleClick(C::Label4, Cmd::UnloadEeprom),
    DoubleClick(C::Label5, Cmd::UnloadDefaults),
    DoubleClick(C::Label11, Cmd::UnloadBackground),
    DoubleClick(C::Label9, Cmd::ChangeSysId),
    Pick(M::MenuFileChangeSysID, Cmd::ChangeSysId),
    Pick(M::MenuFileExit, Cmd::Exit),
    Pick(M::MenuLoadLoaderBIN, Cmd::LoadLoaderBin),
    Pick(M::MenuLoadFirmwareBIN, Cmd::LoadFirmwareBin),
    Pick(M::MenuLoadFlashBIN, Cmd::LoadFlashBin),
    Pick(M::MenuLoadEEPROMBIN, Cmd::LoadEepromBin),
    Pick(M::MenuLoadDefaultsBIN, Cmd::LoadDefaultsBin),
    Pick(M::MenuLoadBackgroundBIN, Cmd::LoadBackgroundBin),
    Pick(M::MenuLoadFlashDMP, Cmd::LoadFlashDump),
    Pick(M::MenuLoadFlashBlock, Cmd::LoadFlashBlock),
    Pick(M::MenuSaveLoaderBIN, Cmd::SaveLoaderBin),
    Pick(M::MenuSaveFirmwareBIN, Cmd::SaveFirmwareBin),
    Pick(M::MenuSaveFlashBIN, Cmd::SaveFlashBin),
    Pick(M::MenuSaveEEPROMBIN, Cmd::SaveEepromBin),
    Pick(M::MenuSaveDefaultsBIN, Cmd::SaveDefaultsBin),
    Pick(M::MenuSaveBackgroundBIN, Cmd::SaveBackgroundBin),
    Pick(M::MenuSaveFlashDMP, Cmd::SaveFlashDump),
    Pick(M::MenuSaveFlashBlocks, Cmd::SaveFlashBlocks),
    Pick(M::MenuFlashEEPROMDefaults, Cmd::FlashToDefaults),
    Pick(M::MenuDefaultsFlashEEPROM, Cmd::DefaultsToFlash),
    Pick(M::MenuDefaultsNULLSettings, Cmd::NullDefaults),
    Pick(M::MenuRemoveLoader, Cmd::UnloadLoader),
    Pick(M::MenuRemoveFirmware, Cmd::UnloadFirmware),
    Pick(M::MenuRemoveSettings, Cmd::UnloadFlash),
    Pick(M::MenuRemoveEEPROM, Cmd::UnloadEeprom),
    Pick(M::MenuRemoveDefaults, Cmd::UnloadDefaults),
    Pick(M::MenuToppyBackUp, Cmd::BackUpToppy),
    Pick(M::MenuToppyRestore, Cmd::RestoreBackup),
    Pick(M::MenuToppyCompare, Cmd::CompareBackup),
};

// The command of a run of six per-component commands that begins at first.
CommandId Nth(CommandId first, ComponentKind kind) {
  return static_cast<CommandId>(Index(first) + static_cast<size_t>(kind));
}

std::optional<ComponentKind> InRun(CommandId id, CommandId first) {
  if (Index(id) < Index(first) || Index(id) >= Index(first) + kComponentCount) return std::nullopt;
  return static_cast<ComponentKind>(Index(id) - Index(first));
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
  if (std::optional<ComponentKind> kind = InRun(command, Cmd::SaveLoaderBin))
    return SaveBin_Refusal(workspace, *kind);
  switch (command) {
    case Cmd::SaveFlashBlocks: return SaveBin_Refusal(workspace, ComponentKind::Flash);
    case Cmd::SaveFlashDump: return SaveFlashDump_Refusal(workspace);
    case Cmd::SaveStd: return SaveStd_Refusal(workspace);
    case Cmd::SaveTfd: return SaveTfd_Refusal(workspace);
    case Cmd::ToToppy: return ToToppy_Refusal(workspace);
    case Cmd::FlashToDefaults: return FlashToDefaults_Refusal(workspace);
    case Cmd::DefaultsToFlash: return DefaultsToFlash_Refusal(workspace);
    default: return std::nullopt;
  }
}

}  // namespace tolv
