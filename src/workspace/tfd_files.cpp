#include "workspace/tfd_files.h"

#include <vector>

#include "flash/packing.h"
#include "results/result_codes.h"
#include "workspace/bin_files.h"
#include "workspace/flash_settings.h"

namespace tolv {

namespace {

uint8_t BlockTypeOf(ComponentKind kind) { return static_cast<uint8_t>(kind); }

// Copies a fixed-size block into its component when the size matches.
Outcome ImportFixed(Workspace& workspace, const TfdStore& store, ComponentKind kind, const char* sizeMessage,
                    UserInteraction& ui) {
  std::vector<uint8_t>& image = workspace.Image(kind);
  if (static_cast<size_t>(TFD_GetBlockSize(store, BlockTypeOf(kind))) != image.size())
    return ShowRefusal(ui, sizeMessage);
  TFD_GetBlock(store, BlockTypeOf(kind), image.data(), image.size());
  workspace.Present(kind) = true;
  return Outcome::Done();
}

Outcome ImportFirmware(Workspace& workspace, const TfdStore& store) {
  const size_t size = static_cast<size_t>(TFD_GetBlockSize(store, BlockTypeOf(ComponentKind::Firmware)));
  std::vector<uint8_t> firmware(size);
  TFD_GetBlock(store, BlockTypeOf(ComponentKind::Firmware), firmware.data(), firmware.size());
  workspace.Image(ComponentKind::Firmware).swap(firmware);
  workspace.Present(ComponentKind::Firmware) = true;
  return Outcome::Done();
}

// Flash (type 2) and Defaults (type 4): a packed block unpacked into a copy of
// the image, which replaces the image only when the unpack succeeded.
Outcome ImportPacked(Workspace& workspace, const TfdStore& store, ComponentKind kind, UserInteraction& ui) {
  const bool isFlash = kind == ComponentKind::Flash;
  if (static_cast<size_t>(TFD_GetBlockSize(store, BlockTypeOf(kind))) != kPackedBlockSize)
    return ShowRefusal(
        ui, isFlash ? "Invalid size of flash block (<>128kB)" : "Invalid size of defaults block (<>128kB)");
  workspace.packedFlash.assign(kPackedBlockSize, 0);
  TFD_GetBlock(store, BlockTypeOf(kind), workspace.packedFlash.data(), workspace.packedFlash.size());
  PackedLoadFindings findings;
  if (!Workspace_TakePackedBlock(workspace, kind, &findings)) {
    return ShowRefusal(ui,
                       PackedLoad_FailureText(isFlash ? "UnPackFlashData failed to unpack the flash block"
                                                      : "UnPackFlashData failed to unpack the defaults block",
                                              findings));
  }
  // The Flash's section checksums are named by the callers that show the
  // Flash (as after every load); the Defaults' only here.
  if (!isFlash)
    Settings_CheckSections(workspace.Image(kind).data(), kDefaultsSettingsSize, "defaults'", findings);
  const std::string notice = PackedLoad_NoticeText(isFlash ? "flash block" : "defaults block", findings);
  if (!notice.empty()) ui.Notice(notice);
  return Outcome::Done();
}

Outcome ImportComponent(Workspace& workspace, const TfdStore& store, ComponentKind kind,
                        UserInteraction& ui) {
  switch (kind) {
    case ComponentKind::Loader:
      return ImportFixed(workspace, store, kind, "Invalid size of loader block (<>64kB)", ui);
    case ComponentKind::Firmware: return ImportFirmware(workspace, store);
    case ComponentKind::Flash:
    case ComponentKind::Defaults: return ImportPacked(workspace, store, kind, ui);
    case ComponentKind::Eeprom:
      return ImportFixed(workspace, store, kind, "Invalid size of EEPROM block (<>256B)", ui);
    case ComponentKind::Background:
      return ImportFixed(workspace, store, kind, "Invalid size of Backgorund block (<>256kB)", ui);
  }
  return Outcome::NothingToDo();
}

// Packs the Flash or the Defaults into packedFlash and sets its block; failed
// (with the packer's message) when packing failed and the block is left out.
Outcome ExportPacked(Workspace& workspace, TfdStore& store, ComponentKind kind, UserInteraction& ui) {
  const uint16_t systemId = static_cast<uint16_t>(workspace.systemId & 0xFFFF);
  workspace.packedFlash.assign(kPackedBlockSize, 0);
  const std::vector<uint8_t>& image = workspace.Image(kind);
  const ModelHeader* ownHeader = Workspace_OwnModelHeader(workspace);
  bool packed;
  if (kind == ComponentKind::Flash) {
    packed = PackFlashData(systemId, image.data(), workspace.packedFlash.data(), ownHeader);
  } else {
    packed = PackDefaultsData(systemId, image.data(), image.data() + kDefaultsEepromOffset,
                              workspace.packedFlash.data(), ownHeader);
  }
  if (!packed) {
    return ShowFailure(ui,
                       (kind == ComponentKind::Flash ? "PackFlashData failed to pack the flash data. "
                                                     : "PackFlashData failed to pack the defaults data. ") +
                           PackFailure_Reason(workspace, "the TFD file"));
  }
  TFD_SetBlock(store, BlockTypeOf(kind), workspace.packedFlash.data(), kPackedBlockSize);
  return Outcome::Done();
}

// Puts one present component into its block.
Outcome ExportComponent(Workspace& workspace, TfdStore& store, ComponentKind kind, UserInteraction& ui) {
  if (kind == ComponentKind::Flash || kind == ComponentKind::Defaults)
    return ExportPacked(workspace, store, kind, ui);
  const std::vector<uint8_t>& image = workspace.Image(kind);
  const int32_t r = TFD_SetBlock(store, BlockTypeOf(kind), image.data(), image.size());
  return r == result::kOk ? Outcome::Done() : ShowFailure(ui, Result_Text(r));
}

}  // namespace

std::string TFD_BytesAfterBlocksText(size_t count) {
  return "The file holds " + std::to_string(count) +
         " bytes after its last block; they belong to no block and were not read.";
}

Outcome TFD_Import(Workspace& workspace, TfdStore& store, const std::string& fileName, UserInteraction& ui) {
  // The file is read and checked as a whole before the workspace changes.
  TfdHeader header;
  size_t bytesAfterBlocks = 0;
  const int32_t r = TFD_Load(store, fileName, &header, &bytesAfterBlocks);
  if (r != result::kOk) return ShowRefusal(ui, Result_Text(r));
  workspace.systemId = header.systemId;
  if (bytesAfterBlocks > 0) ui.Notice(TFD_BytesAfterBlocksText(bytesAfterBlocks));
  Outcome outcome = Outcome::Done();
  for (ComponentKind kind : kAllComponents) {
    // A type the file does not hold leaves its component as it was.
    if (TFD_GetBlockSize(store, BlockTypeOf(kind)) == 0) continue;
    outcome.Merge(ImportComponent(workspace, store, kind, ui));
  }
  return outcome;
}

Outcome TFD_Export(Workspace& workspace, TfdStore& store, const std::string& fileName, UserInteraction& ui) {
  if (workspace.systemId == 0) return ShowPlainFailure(ui, "Please enter a valid system ID");
  Flash_UpdateChecksums(workspace);
  TFD_Clear(store);
  // Every block is built before anything is written: a file that lacks a
  // component the user holds must not replace a good one.
  Outcome outcome = Outcome::Done();
  for (ComponentKind kind : kAllComponents) {
    if (workspace.Present(kind)) outcome.Merge(ExportComponent(workspace, store, kind, ui));
  }
  if (!outcome) return outcome;
  const int32_t r = TFD_SaveToFile(store, fileName, static_cast<uint16_t>(workspace.systemId & 0xFFFF));
  return r == result::kOk ? Outcome::Done() : ShowFailure(ui, Result_Text(r));
}

Outcome TFD_Import(Workspace& workspace, const std::string& fileName, UserInteraction& ui) {
  return TFD_Import(workspace, TFD_Store(), fileName, ui);
}

Outcome TFD_Export(Workspace& workspace, const std::string& fileName, UserInteraction& ui) {
  return TFD_Export(workspace, TFD_Store(), fileName, ui);
}

}  // namespace tolv
