// Component BIN files and file-name splitting.
#include "workspace/bin_files.h"

#include <algorithm>

#include "common/file_io.h"
#include "flash/checksums.h"
#include "flash/packing.h"
#include "workspace/flash_settings.h"
#include "workspace/packed_load_check.h"

namespace tolv {

FileNameParts FileName_Split(const std::string& fullName) {
  FileNameParts parts;
  size_t separator = fullName.find_last_of("/\\:");
  size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  parts.directory = fullName.substr(0, nameStart);
  std::string fileName = fullName.substr(nameStart);
  size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) {
    parts.baseName = fileName;
    return parts;
  }
  parts.baseName = fileName.substr(0, dot);
  parts.extension = fileName.substr(dot + 1, 255);
  return parts;
}

bool Component_BinSizeAccepted(ComponentKind kind, uint64_t fileSize) {
  switch (kind) {
    case ComponentKind::Firmware: return fileSize <= kFirmwareMaxSize;
    // The settings part and default EEPROM as other tools keep them, or the
    // whole image with its carried tail as this program saves it.
    case ComponentKind::Defaults: return fileSize == kFlashImageSize || fileSize == kDefaultsImageSize;
    default: return fileSize == ComponentImageSize(kind);
  }
}

const char* Component_BinSizeMessage(ComponentKind kind) {
  switch (kind) {
    case ComponentKind::Loader: return "Invalid file size (<>64kB)";
    case ComponentKind::Firmware: return "Invalid file size (>8MB): no receiver holds a firmware this large";
    case ComponentKind::Flash: return "Invalid file size (<>512kB)";
    case ComponentKind::Eeprom: return "Invalid file size (<>256B)";
    case ComponentKind::Defaults: return "Invalid file size (<>512kB)";
    case ComponentKind::Background: return "Invalid file size (<>256kB)";
  }
  return "";
}

namespace {

// The Defaults' checksums that do not match, named when a Defaults BIN is
// loaded (the Flash's and the EEPROM's are named by the callers that show
// them after every load): the sections of their settings and the records of
// their default EEPROM.
std::string DefaultsChecksumsNotice(const std::vector<uint8_t>& defaults) {
  PackedLoadFindings findings;
  Settings_CheckSections(defaults.data(), kDefaultsSettingsSize, "defaults'", findings);
  std::string records;
  for (const ChecksumCheck& check :
       Eeprom_CheckChecksums(defaults.data() + kDefaultsEepromOffset, kEepromImageSize))
    if (!check.Ok()) records += (records.empty() ? "" : ", ") + std::to_string(check.number);
  if (!records.empty())
    findings.named.push_back("The default EEPROM's record checksums " + records +
                             " do not match; a save recomputes them.");
  std::string text;
  for (const std::string& sentence : findings.named) text += (text.empty() ? "" : " ") + sentence;
  return text;
}

}  // namespace

Outcome Component_LoadBin(Workspace& workspace, ComponentKind kind, const std::string& path,
                          UserInteraction& ui) {
  if (!Component_BinSizeAccepted(kind, FileSizeOf(path)))
    return ShowRefusal(ui, Component_BinSizeMessage(kind));
  // Read whole and check again: the file may have changed since its size was
  // taken, and the image must not be left half-written.
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  if (!Component_BinSizeAccepted(kind, bytes.size())) return ShowRefusal(ui, Component_BinSizeMessage(kind));
  std::vector<uint8_t>& image = workspace.Image(kind);
  if (kind == ComponentKind::Firmware) {
    image = std::move(bytes);
  } else {
    // A shorter Defaults file leaves the end of the image as it is: zeros,
    // not a discarded image's bytes, when the Defaults were absent.
    Workspace_ClearIfAbsent(workspace, kind);
    std::copy(bytes.begin(), bytes.end(), image.begin());
  }
  workspace.Present(kind) = true;
  if (kind == ComponentKind::Flash) Flash_DetectLayout(workspace);
  if (kind == ComponentKind::Defaults)
    if (const std::string notice = DefaultsChecksumsNotice(image); !notice.empty()) ui.Notice(notice);
  return Outcome::Done();
}

Outcome Component_SaveBin(const Workspace& workspace, ComponentKind kind, const std::string& path) {
  SaveFileAtomically(path, ByteView(workspace.Image(kind)));
  return Outcome::Done();
}

}  // namespace tolv
