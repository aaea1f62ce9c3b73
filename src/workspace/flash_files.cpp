// Flash dumps and flash block files.
#include "workspace/flash_files.h"

#include <algorithm>
#include <cstdio>

#include "common/file_io.h"
#include "flash/layout.h"
#include "flash/packing.h"
#include "workspace/bin_files.h"
#include "workspace/flash_settings.h"

namespace tolv {

Outcome FlashDump_Load(Workspace& workspace, const std::string& path, UserInteraction& ui) {
  constexpr const char* kWrongSize = "Invalid file size (<>128kB)";
  if (FileSizeOf(path) != kPackedBlockSize) return ShowRefusal(ui, kWrongSize);
  std::vector<uint8_t> packed = ReadFileBytes(path);
  if (packed.size() != kPackedBlockSize) return ShowRefusal(ui, kWrongSize);
  Outcome loaded = Flash_LoadPackedSettings(workspace, packed.data(), packed.size(), ui);
  if (!loaded) return loaded;
  // A dump stores no SystemID: its header is kept for the one it names.
  const std::optional<ModelHeader> header = PackedBlock_ModelHeader(packed.data(), packed.size());
  Workspace_KeepModelHeader(workspace, packed.data(), packed.size(),
                            header ? ModelHeader_SystemId(*header) : 0);
  return loaded;
}

Outcome FlashDump_Save(Workspace& workspace, const std::string& path, UserInteraction& ui) {
  Flash_UpdateChecksums(workspace);
  std::vector<uint8_t> packed(kPackedBlockSize, 0);
  if (!PackFlashData(static_cast<uint16_t>(workspace.systemId), workspace.Image(ComponentKind::Flash).data(),
                     packed.data(), Workspace_OwnModelHeader(workspace)))
    return ShowFailure(ui,
                       "PackFlashData failed to pack the data! " + PackFailure_Reason(workspace, "the dump"));
  workspace.packedFlash = packed;
  SaveFileAtomically(path, ByteView(packed));
  return Outcome::Done();
}

std::string FlashBlock_FileName(const std::string& directory, const std::string& baseName, int section) {
  char number[16];
  std::snprintf(number, sizeof number, "%2.2d", section);
  return directory + baseName + " [" + number + "].bin";
}

std::optional<FlashBlockName> FlashBlock_ParseName(const std::string& path) {
  const std::string base = FileName_Split(path).baseName;
  size_t length = base.size();
  // The base name ends in "[", two characters and "]".
  if (length < 4 || base[length - 4] != '[' || base[length - 1] != ']') return std::nullopt;
  FlashBlockName name;
  name.digits = base.substr(length - 3, 2);
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (isDigit(name.digits[0]) && isDigit(name.digits[1]))
    name.section = (name.digits[0] - '0') * 10 + (name.digits[1] - '0');
  return name;
}

namespace {

constexpr char kNoLayoutMessage[] =
    "The settings layout of the Flash was not recognised, so its sections are unknown.";

// The Flash bytes of section k's data: from start + 4, end - start - 3 bytes.
size_t SectionDataOffset(const SectionTable& table, int k) { return table.start[k] + 4; }

}  // namespace

FlashBlocksSaved FlashBlocks_Save(const Workspace& workspace, const std::string& path, UserInteraction& ui) {
  if (!workspace.sectionTableMatchesFlash) return {ShowFailure(ui, kNoLayoutMessage), {}};
  const FileNameParts parts = FileName_Split(path);
  const std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
  std::vector<FileToSave> files;
  for (int k = 1; k <= kSectionCount; ++k) {
    int32_t length = Section_DataLength(workspace.sectionTable, k);
    if (length <= 0) continue;
    ByteView data(flash.data() + SectionDataOffset(workspace.sectionTable, k), static_cast<size_t>(length));
    files.push_back({FlashBlock_FileName(parts.directory, parts.baseName, k), {data}});
  }
  // The blocks belong together: all of them are written, or none.
  SaveFilesAtomically(files);
  FlashBlocksSaved saved;
  for (const FileToSave& file : files) saved.written.push_back(file.path);
  return saved;
}

std::vector<std::string> FlashBlocks_Leftovers(const Workspace& workspace, const std::string& path) {
  const FileNameParts parts = FileName_Split(path);
  std::vector<std::string> leftovers;
  for (int k = 1; k <= kSectionCount; ++k) {
    const bool written =
        workspace.sectionTableMatchesFlash && Section_DataLength(workspace.sectionTable, k) > 0;
    const std::string name = FlashBlock_FileName(parts.directory, parts.baseName, k);
    if (!written && FileExists(name)) leftovers.push_back(name);
  }
  return leftovers;
}

Outcome FlashBlock_Load(Workspace& workspace, const std::string& path, UserInteraction& ui) {
  std::optional<FlashBlockName> name = FlashBlock_ParseName(path);
  if (!name) return ShowRefusal(ui, "You didn't select a flash block file.");
  if (!name->section)
    return ShowRefusal(
        ui, "\"" + name->digits + "\" in the brackets of the file name is not a flash block number.");
  int k = *name->section;
  if (k < 1 || k > kSectionCount)
    return ShowRefusal(ui,
                       "Flash block " + name->digits + " does not exist: the blocks are numbered 01 to 13.");
  if (!workspace.Present(ComponentKind::Flash))
    return ShowFailure(ui, "Load the flash settings before a flash block.");
  if (!workspace.sectionTableMatchesFlash) return ShowFailure(ui, kNoLayoutMessage);
  const int32_t length = Section_DataLength(workspace.sectionTable, k);
  std::vector<uint8_t> data = ReadFileBytes(path);
  if (length <= 0 || data.size() != static_cast<size_t>(length)) {
    return ShowRefusal(ui, "The flash block file holds " + std::to_string(data.size()) +
                               " bytes, but block " + name->digits + " of the " +
                               Layout_Name(SectionTable_Variant(workspace.sectionTable)) + " layout holds " +
                               std::to_string(std::max(length, 0)) + ".");
  }
  std::copy(data.begin(), data.end(),
            workspace.Image(ComponentKind::Flash).begin() + SectionDataOffset(workspace.sectionTable, k));
  Flash_UpdateChecksums(workspace);
  return Outcome::Done();
}

}  // namespace tolv
