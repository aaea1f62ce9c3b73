// Layout recognition and checksum update applied to the workspace.
#include "workspace/flash_settings.h"

#include <algorithm>
#include <cstdio>

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

bool Flash_UnpackSettings(const uint8_t* packed, size_t packedSize, std::vector<uint8_t>& flash,
                          PackedLoadFindings* findings) {
  PackedLoadFindings local;
  PackedLoadFindings& found = findings ? *findings : local;
  found = {};
  // A block whose directory names nothing holds no settings.
  if (!PackedBlock_NamesABlock(packed, packedSize)) return false;
  // Every caller unpacks into a copy of its own: no second one here.
  std::vector<int> unpacked;
  if (!UnPackFlashData(packed, packedSize, flash.data(), flash.size(), unpacked)) return false;
  // The unpacker checks block CRCs only; the data of every block it took must
  // also be what its directory entry states.
  found = PackedBlock_CheckForLoad(packed, packedSize, unpacked);
  // And they must give the whole settings part, block after block.
  PackedBlock_CheckCoverage(packed, packedSize, found);
  return !found.Refused();
}

namespace {

// What a load unpacks into before the result becomes the component's image:
// zeros, so that no byte of an earlier image survives under the new one,
// kept per thread so that a load allocates no image of half a megabyte.
std::vector<uint8_t>& LoadScratch(const Workspace& workspace, ComponentKind kind) {
  thread_local std::vector<uint8_t> scratch;
  scratch.assign(workspace.Image(kind).size(), 0);
  return scratch;
}

}  // namespace

Outcome Flash_LoadPackedSettings(Workspace& workspace, const uint8_t* packed, size_t packedSize,
                                 UserInteraction& ui, uint16_t systemId) {
  std::vector<uint8_t>& flash = LoadScratch(workspace, ComponentKind::Flash);
  PackedLoadFindings findings;
  if (!Flash_UnpackSettings(packed, packedSize, flash, &findings))
    return ShowRefusal(ui,
                       PackedLoad_FailureText("UnPackFlashData failed to unpack the flash block", findings));
  PackedBlock_CheckModelHeader(packed, packedSize, systemId, findings);
  workspace.Image(ComponentKind::Flash).swap(flash);
  workspace.packedFlash.assign(packed, packed + packedSize);
  workspace.Present(ComponentKind::Flash) = true;
  Flash_DetectLayout(workspace);
  if (const std::string notice = PackedLoad_NoticeText("flash block", findings); !notice.empty())
    ui.Notice(notice);
  return Outcome::Done();
}

namespace {

// The default EEPROM of a defaults block: its second entry, when there is
// one, under the same load check as the settings. False (with the refusal)
// when the entry is there but refused; wrong checksums over sound data are
// added to findings.
bool TakeDefaultsEeprom(const uint8_t* packed, size_t packedSize, uint8_t* eeprom,
                        PackedLoadFindings& findings) {
  const PackedLoadFindings entry = PackedBlock_CheckForLoad(packed, packedSize, {1});
  if (entry.Refused()) {
    findings.refusal = entry.refusal;
    return false;
  }
  for (const std::string& wrong : entry.wrongChecksums)
    if (std::find(findings.wrongChecksums.begin(), findings.wrongChecksums.end(), wrong) ==
        findings.wrongChecksums.end())
      findings.wrongChecksums.push_back(wrong);
  if (!UnPackDefaultsEeprom(packed, packedSize, eeprom))
    findings.named.push_back("The block gives no default EEPROM: its 256 bytes are zero.");
  return true;
}

}  // namespace

bool Workspace_TakePackedBlock(Workspace& workspace, ComponentKind kind, PackedLoadFindings* findings) {
  PackedLoadFindings local;
  PackedLoadFindings& found = findings ? *findings : local;
  const uint8_t* packed = workspace.packedFlash.data();
  const size_t packedSize = workspace.packedFlash.size();
  std::vector<uint8_t>& image = LoadScratch(workspace, kind);
  if (!Flash_UnpackSettings(packed, packedSize, image, &found)) return false;
  if (kind == ComponentKind::Defaults &&
      !TakeDefaultsEeprom(packed, packedSize, image.data() + kDefaultsEepromOffset, found))
    return false;
  PackedBlock_CheckModelHeader(packed, packedSize, static_cast<uint16_t>(workspace.systemId), found);
  workspace.Image(kind).swap(image);
  workspace.Present(kind) = true;
  if (kind == ComponentKind::Flash) Flash_DetectLayout(workspace);
  Workspace_KeepModelHeader(workspace, packed, packedSize, static_cast<uint16_t>(workspace.systemId));
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

std::string PackFailure_Reason(const Workspace& workspace, const std::string& file) {
  const uint16_t systemId = static_cast<uint16_t>(workspace.systemId);
  if (Flash_HasModelHeader(systemId) || Workspace_OwnModelHeader(workspace) != nullptr)
    return "The settings do not compress into the block of 131,072 bytes; they do not look like a "
           "receiver's settings. Load settings taken from a receiver and save again.";
  if (workspace.systemId == 0)
    return "The SystemID is not set, and " + file +
           "'s header needs it. Set the receiver's SystemID (File, Change SysID; --sysid with tolv) and save "
           "again.";
  return "SystemID " + std::to_string(workspace.systemId) +
         " is not a known model, so there is no header for " + file +
         ". Set the receiver's own SystemID (File, Change SysID; --sysid with tolv), or load a dump or STD "
         "file "
         "of that receiver first, and save again.";
}

namespace {

std::string Hex4(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

void AddBadChecks(std::vector<std::string>& notes, const std::string& source,
                  const std::vector<ChecksumCheck>& checks, const std::string& group) {
  for (const ChecksumCheck& check : checks) {
    if (check.Ok()) continue;
    notes.push_back(source + ": BAD " + group + " " + std::to_string(check.number) + " CRC stored " +
                    Hex4(check.stored) + ", computed " + Hex4(check.computed));
  }
}

}  // namespace

std::vector<std::string> Load_BadChecksumNotes(const Workspace& ws, const std::vector<uint8_t>& flashBefore,
                                               const std::vector<uint8_t>& eepromBefore,
                                               const std::string& source) {
  std::vector<std::string> notes;
  const std::vector<uint8_t>& flash = ws.Image(ComponentKind::Flash);
  const std::vector<uint8_t>& eeprom = ws.Image(ComponentKind::Eeprom);
  if (ws.Present(ComponentKind::Flash) && flash != flashBefore && ws.sectionTableMatchesFlash)
    AddBadChecks(notes, source, Flash_CheckSectionChecksums(flash.data(), flash.size(), ws.sectionTable),
                 "section");
  if (ws.Present(ComponentKind::Eeprom) && eeprom != eepromBefore)
    AddBadChecks(notes, source, Eeprom_CheckChecksums(eeprom.data(), eeprom.size()), "EEPROM record");
  if (!notes.empty())
    notes.push_back(source + ": saving an STD file, a TFD file or a flash dump rewrites these checksums.");
  return notes;
}

}  // namespace tolv
