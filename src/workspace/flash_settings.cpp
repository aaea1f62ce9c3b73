// Layout recognition and checksum update applied to the workspace.
#include "workspace/flash_settings.h"

#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"

namespace tolv {

uint8_t SectionTable_Variant(const SectionTable& table) {
  for (uint8_t variant : {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC})
    if (Layout_Sections(variant) == table) return variant;
  return kLayoutNone;
}

void Flash_DetectLayout(Workspace& workspace) {
  const std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
  uint8_t variant = Flash_RecogniseLayout(flash.data(), flash.size());
  workspace.sectionTableMatchesFlash = variant != kLayoutNone;
  if (variant == kLayoutNone) return;
  workspace.layoutVariant = variant;
  workspace.sectionTable = Layout_Sections(variant);
}

void Flash_UpdateChecksums(Workspace& workspace) {
  if (workspace.Present(ComponentKind::Flash) && workspace.sectionTableMatchesFlash) {
    std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
    Flash_WriteSectionChecksums(flash.data(), flash.size(), workspace.sectionTable);
  }
  if (workspace.Present(ComponentKind::Eeprom)) {
    std::vector<uint8_t>& eeprom = workspace.Image(ComponentKind::Eeprom);
    Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  }
}

bool Flash_UnpackSettings(const uint8_t* packed, size_t packedSize, std::vector<uint8_t>& flash) {
  // A block whose directory names nothing holds no settings.
  if (!PackedBlock_NamesABlock(packed, packedSize)) return false;
  // Every caller unpacks into a copy of its own: no second one here.
  return UnPackFlashData(packed, packedSize, flash.data(), flash.size());
}

bool Flash_LoadPackedSettings(Workspace& workspace, const uint8_t* packed, size_t packedSize,
                              UserInteraction& ui) {
  std::vector<uint8_t> flash = Workspace_StartingImage(workspace, ComponentKind::Flash);
  if (!Flash_UnpackSettings(packed, packedSize, flash)) {
    ui.Information("UnPackFlashData failed to unpack the flash block");
    return false;
  }
  workspace.Image(ComponentKind::Flash).swap(flash);
  workspace.packedFlash.assign(packed, packed + packedSize);
  workspace.Present(ComponentKind::Flash) = true;
  Flash_DetectLayout(workspace);
  return true;
}

bool Workspace_TakePackedBlock(Workspace& workspace, ComponentKind kind) {
  const uint8_t* packed = workspace.packedFlash.data();
  std::vector<uint8_t> image = Workspace_StartingImage(workspace, kind);
  if (!Flash_UnpackSettings(packed, workspace.packedFlash.size(), image)) return false;
  if (kind == ComponentKind::Defaults)
    UnPackDefaultsEeprom(packed, workspace.packedFlash.size(), image.data() + kDefaultsEepromOffset);
  workspace.Image(kind).swap(image);
  workspace.Present(kind) = true;
  if (kind == ComponentKind::Flash) Flash_DetectLayout(workspace);
  Workspace_KeepModelHeader(workspace, packed, workspace.packedFlash.size(),
                            static_cast<uint16_t>(workspace.systemId));
  return true;
}

void Workspace_KeepModelHeader(Workspace& workspace, const uint8_t* packed, size_t packedSize,
                               uint16_t systemId) {
  workspace.keptHeader.reset();
  std::optional<ModelHeader> header = PackedBlock_ModelHeader(packed, packedSize);
  if (systemId == 0 || !header || !ModelHeader_Usable(*header)) return;
  workspace.keptHeader = KeptModelHeader{std::move(*header), systemId};
}

const ModelHeader* Workspace_OwnModelHeader(const Workspace& workspace) {
  const uint16_t systemId = static_cast<uint16_t>(workspace.systemId);
  if (!workspace.keptHeader || workspace.keptHeader->systemId != systemId) return nullptr;
  return &workspace.keptHeader->header;
}

void Workspace_ForgetModelHeaderIfUnused(Workspace& workspace) {
  if (!workspace.Present(ComponentKind::Flash) && !workspace.Present(ComponentKind::Defaults))
    workspace.keptHeader.reset();
}

}  // namespace tolv
