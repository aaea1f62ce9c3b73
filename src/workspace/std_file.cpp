// STD files: header, packed settings block and EEPROM in one file.
#include "workspace/std_file.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/file_io.h"
#include "flash/packing.h"
#include "workspace/bin_files.h"
#include "workspace/flash_settings.h"

namespace tolv {
namespace {

constexpr char kStdMagic[] = "ToPfIeLd";
constexpr uint8_t kStdVersion = 2;
constexpr size_t kSystemIdOffset = 10;
constexpr size_t kTemplateCopyOffset = 12;
constexpr const char* kWrongSize = "Invalid file size (<>131392B)";

// The little-endian form of a packed block starts with the magic 0x1F1D stored
// least significant byte first.
bool PackedIsLittleEndian(const uint8_t* packed) { return PackedBlock_IsLittleEndian(packed, 2); }

std::array<uint8_t, kStdHeaderSize> BuildHeader(uint16_t systemId, const uint8_t* packed) {
  std::array<uint8_t, kStdHeaderSize> header;
  header.fill(0xFF);
  // Magic, a zero byte and the format version.
  std::memcpy(header.data(), kStdMagic, 8);
  header[8] = 0x00;
  header[9] = kStdVersion;
  // The ID and the copied template follow the packed block's byte order and
  // length (32 bytes big-endian, 36 bytes little-endian).
  const bool littleEndian = PackedIsLittleEndian(packed);
  uint8_t high = static_cast<uint8_t>(systemId >> 8);
  uint8_t low = static_cast<uint8_t>(systemId);
  header[kSystemIdOffset] = littleEndian ? low : high;
  header[kSystemIdOffset + 1] = littleEndian ? high : low;
  std::memcpy(header.data() + kTemplateCopyOffset, packed, littleEndian ? 36 : 32);
  return header;
}

}  // namespace

uint16_t STD_ReadSystemId(const uint8_t* file, size_t fileSize) {
  if (fileSize < kStdPackedOffset + 2) return 0;
  const uint8_t* id = file + kSystemIdOffset;
  if (PackedIsLittleEndian(file + kStdPackedOffset)) return static_cast<uint16_t>(id[0] | id[1] << 8);
  return static_cast<uint16_t>(id[0] << 8 | id[1]);
}

std::string STD_OutputName(const std::string& path) {
  FileNameParts parts = FileName_Split(path);
  return parts.directory + parts.baseName + ".std";
}

Outcome STD_Load(Workspace& workspace, const std::string& path, UserInteraction& ui) {
  // Size first, then the whole file, so that nothing changes unless it was read.
  if (FileSizeOf(path) != kStdFileSize) return ShowRefusal(ui, kWrongSize);
  std::vector<uint8_t> file = ReadFileBytes(path);
  return STD_LoadFromBytes(workspace, file.data(), file.size(), ui);
}

Outcome STD_LoadFromBytes(Workspace& workspace, const uint8_t* file, size_t fileSize, UserInteraction& ui) {
  if (fileSize != kStdFileSize) return ShowRefusal(ui, kWrongSize);
  // The settings decide whether the file loads at all: a file whose packed
  // block does not unpack changes nothing, not even the EEPROM or SystemID.
  Outcome settings = Flash_LoadPackedSettings(workspace, file + kStdPackedOffset, kPackedBlockSize, ui,
                                              STD_ReadSystemId(file, fileSize));
  if (!settings) return settings;
  std::copy_n(file + kStdEepromOffset, kEepromImageSize, workspace.Image(ComponentKind::Eeprom).begin());
  workspace.Present(ComponentKind::Eeprom) = true;
  workspace.systemId = STD_ReadSystemId(file, fileSize);
  Workspace_KeepModelHeader(workspace, file + kStdPackedOffset, kPackedBlockSize,
                            static_cast<uint16_t>(workspace.systemId));
  return settings;
}

Outcome STD_Save(Workspace& workspace, const std::string& path, UserInteraction& ui) {
  if (workspace.systemId == 0) return ShowPlainFailure(ui, "Please enter a valid system ID");
  Flash_UpdateChecksums(workspace);
  std::string outputName = STD_OutputName(path);
  uint16_t systemId = static_cast<uint16_t>(workspace.systemId);
  std::vector<uint8_t> packed(kPackedBlockSize, 0);
  if (!PackFlashData(systemId, workspace.Image(ComponentKind::Flash).data(), packed.data(),
                     Workspace_OwnModelHeader(workspace)))
    return ShowFailure(ui, "Failed to pack. " + PackFailure_Reason(workspace, "the STD file"));
  workspace.packedFlash = packed;
  std::array<uint8_t, kStdHeaderSize> header = BuildHeader(systemId, packed.data());
  SaveFileAtomically(outputName,
                     {ByteView(header), ByteView(packed), ByteView(workspace.Image(ComponentKind::Eeprom))});
  return Outcome::Done();
}

}  // namespace tolv
