// When the workspace allows a save, a copy or a send, with the reason when it
// does not. The window enables its controls by these rules and the command
// line refuses a step for the same sentence; nothing else holds such a rule.
#pragma once

#include <optional>
#include <string>

#include "workspace/workspace.h"

namespace tolv {

// "The <Component> is not present: there is nothing to save." (a flash block
// save needs the Flash: the Flash's refusal).
std::optional<std::string> SaveBin_Refusal(const Workspace& workspace, ComponentKind kind);
// "Saving a flash dump needs the Flash."
std::optional<std::string> SaveFlashDump_Refusal(const Workspace& workspace);
// "Saving an STD file needs both the Flash and the EEPROM."
std::optional<std::string> SaveStd_Refusal(const Workspace& workspace);
// "Saving a TFD file needs at least one component."
std::optional<std::string> SaveTfd_Refusal(const Workspace& workspace);
// "Sending to the receiver needs at least one component."
std::optional<std::string> ToToppy_Refusal(const Workspace& workspace);
// "Flash && EEPROM => Defaults needs both the Flash and the EEPROM."
std::optional<std::string> FlashToDefaults_Refusal(const Workspace& workspace);
// "Defaults => Flash && EEPROM needs the Defaults."
std::optional<std::string> DefaultsToFlash_Refusal(const Workspace& workspace);

}  // namespace tolv
