// Advice on a SystemID that does not suit its settings.
#include "workspace/system_id_advice.h"

#include "flash/layout.h"
#include "flash/model_family.h"
#include "flash/model_list.h"
#include "flash/packing.h"
#include "workspace/flash_settings.h"

namespace tolv {
namespace {

std::string Named(int32_t systemId) {
  std::string error;
  return "SystemID " + std::to_string(systemId) + " (" + Model_GetNameOrUnknown(systemId, error) + ")";
}

}  // namespace

std::string SystemId_PackingAdvice(const Workspace& workspace) {
  const uint16_t id = static_cast<uint16_t>(workspace.systemId);
  const bool settings = workspace.Present(ComponentKind::Flash) || workspace.Present(ComponentKind::Defaults);
  if (!settings || id == 0 || Flash_HasModelHeader(id) || Workspace_OwnModelHeader(workspace)) return {};
  const std::string number = std::to_string(id);
  return Named(id) +
         ": TolvPack has no built-in model header for it, and no loaded block brought one, so its settings "
         "cannot be packed. Load a settings block of that model first (an STD, TFD or flash dump file from "
         "such a receiver, or a download from it): its header is kept for packing. \"tolv models " +
         number + "\" tells more.";
}

std::string SystemId_FamilyWarning(const Workspace& workspace) {
  const uint8_t family = Model_LayoutFamily(static_cast<uint16_t>(workspace.systemId));
  const uint8_t layout = workspace.layoutVariant;
  if (!workspace.Present(ComponentKind::Flash) || !workspace.sectionTableMatchesFlash ||
      family == kLayoutNone || layout == kLayoutNone || family == layout)
    return {};
  return Named(workspace.systemId) + " is a " + Layout_Name(family) + " model, but the settings are " +
         Layout_Name(layout) +
         ": a receiver of that model cannot use them. Check the number (\"tolv models\" "
         "lists the models).";
}

}  // namespace tolv
