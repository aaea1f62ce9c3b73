// The rules that make a save, a copy or a send available.
#include "workspace/availability.h"

namespace tolv {
namespace {

std::optional<std::string> Needs(bool available, const char* reason) {
  if (available) return std::nullopt;
  return std::string(reason);
}

bool FlashAndEeprom(const Workspace& workspace) {
  return workspace.Present(ComponentKind::Flash) && workspace.Present(ComponentKind::Eeprom);
}

}  // namespace

std::optional<std::string> SaveBin_Refusal(const Workspace& workspace, ComponentKind kind) {
  if (workspace.Present(kind)) return std::nullopt;
  return std::string("The ") + ComponentName(kind) + " is not present: there is nothing to save.";
}

std::optional<std::string> SaveFlashDump_Refusal(const Workspace& workspace) {
  return Needs(workspace.Present(ComponentKind::Flash), "Saving a flash dump needs the Flash.");
}

std::optional<std::string> SaveStd_Refusal(const Workspace& workspace) {
  return Needs(FlashAndEeprom(workspace), "Saving an STD file needs both the Flash and the EEPROM.");
}

std::optional<std::string> SaveTfd_Refusal(const Workspace& workspace) {
  return Needs(workspace.AnyPresent(), "Saving a TFD file needs at least one component.");
}

std::optional<std::string> ToToppy_Refusal(const Workspace& workspace) {
  return Needs(workspace.AnyPresent(), "Sending to the receiver needs at least one component.");
}

std::optional<std::string> FlashToDefaults_Refusal(const Workspace& workspace) {
  return Needs(FlashAndEeprom(workspace), "Flash && EEPROM => Defaults needs both the Flash and the EEPROM.");
}

std::optional<std::string> DefaultsToFlash_Refusal(const Workspace& workspace) {
  return Needs(workspace.Present(ComponentKind::Defaults), "Defaults => Flash && EEPROM needs the Defaults.");
}

}  // namespace tolv
