// The workspace store: image sizes, names and the empty start state.
#include "workspace/workspace.h"

#include <algorithm>

namespace tolv {

size_t ComponentImageSize(ComponentKind kind) {
  switch (kind) {
    case ComponentKind::Loader: return kLoaderImageSize;
    case ComponentKind::Firmware: return 0;
    case ComponentKind::Flash: return kFlashImageSize;
    case ComponentKind::Eeprom: return kEepromImageSize;
    case ComponentKind::Defaults: return kDefaultsImageSize;
    case ComponentKind::Background: return kBackgroundImageSize;
  }
  return 0;
}

const char* ComponentName(ComponentKind kind) {
  switch (kind) {
    case ComponentKind::Loader: return "Loader";
    case ComponentKind::Firmware: return "Firmware";
    case ComponentKind::Flash: return "Flash";
    case ComponentKind::Eeprom: return "EEPROM";
    case ComponentKind::Defaults: return "Defaults";
    case ComponentKind::Background: return "Background";
  }
  return "";
}

Workspace::Workspace() : packedFlash(kPackedBlockSize, 0) {
  for (ComponentKind kind : kAllComponents) Image(kind).assign(ComponentImageSize(kind), 0);
}

bool Workspace::AnyPresent() const {
  for (bool p : present)
    if (p) return true;
  return false;
}

void Workspace_StartingImage(const Workspace& workspace, ComponentKind kind, std::vector<uint8_t>& into) {
  const std::vector<uint8_t>& image = workspace.Image(kind);
  into.resize(image.size());
  if (workspace.Present(kind))
    std::copy(image.begin(), image.end(), into.begin());
  else
    std::fill(into.begin(), into.end(), uint8_t{0});
}

void Workspace_ClearIfAbsent(Workspace& workspace, ComponentKind kind) {
  if (workspace.Present(kind)) return;
  std::vector<uint8_t>& image = workspace.Image(kind);
  std::fill(image.begin(), image.end(), uint8_t{0});
}

}  // namespace tolv
