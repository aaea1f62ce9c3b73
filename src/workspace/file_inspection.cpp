// What a file holds: form, system ID, layout, components and checksums.
#include "workspace/file_inspection.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "common/file_io.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/model_header.h"
#include "flash/model_list.h"
#include "flash/packing.h"
#include "tfd/tfd_store.h"
#include "workspace/bin_files.h"
#include "workspace/file_forms.h"
#include "workspace/flash_files.h"
#include "workspace/flash_settings.h"
#include "workspace/std_file.h"

namespace tolv {
namespace {

void AddEntryChecks(const PackedEntryCheck& entry, const std::string& group, FileReport& report) {
  const std::string name = "entry " + std::to_string(entry.index);
  AddCheck(report, group, name + " block CRC", entry.blockOffset, entry.storedBlockCrc,
           entry.computedBlockCrc);
  if (entry.headerWord != 8)
    report.problems.push_back(group + " " + name + ": block header word is " +
                              std::to_string(entry.headerWord) + ", not 8");
  AddCheck(report, group, name + " header CRC", entry.blockOffset + 2, entry.storedHeaderCrc,
           entry.computedHeaderCrc);
  for (size_t c = 0; c < entry.chunks.size(); ++c) {
    const PackedChunkCheck& chunk = entry.chunks[c];
    AddCheck(report, group, name + " chunk " + std::to_string(c) + " CRC", chunk.offset + 2, chunk.storedCrc,
             chunk.computedCrc);
  }
  if (!entry.chunksInside)
    report.problems.push_back(group + " " + name + ": its chunks reach past the block");
  if (!entry.decoded || entry.decodedLength != entry.dataLength) {
    report.problems.push_back(group + " " + name + ": its data does not decode to " +
                              std::to_string(entry.dataLength) + " bytes");
    return;
  }
  AddCheck(report, group, name + " data CRC", entry.blockOffset, entry.storedDataCrc, entry.computedDataCrc);
}

// The model header at the start of a packed block: a built-in template, the
// block's own, or none.
void AddModelHeader(const uint8_t* packed, size_t packedSize, const std::string& prefix, FileReport& report) {
  ModelHeaderReport header;
  header.block = prefix.empty() ? prefix : prefix.substr(0, prefix.size() - 1);
  header.kind = "none";
  if (const std::optional<ModelHeader> read = PackedBlock_ModelHeader(packed, packedSize)) {
    const std::optional<uint16_t> builtIn = ModelHeader_BuiltInTemplate(*read);
    header.kind = builtIn ? "template" : ModelHeader_Usable(*read) ? "own" : "damaged";
    header.systemId = ModelHeader_SystemId(*read);
    header.littleEndian = read->littleEndian;
  }
  report.modelHeaders.push_back(header);
}

// --- the forms --------------------------------------------------------------

bool TakesStd(const std::string& extension, uint64_t size, const std::string&) {
  return extension == FileFormOf(FileFormId::Std).extension || size == kStdFileSize;
}

void InspectStd(const std::vector<uint8_t>& bytes, FileReport& report) {
  if (bytes.size() != kStdFileSize) {
    report.problems.push_back("an STD file has 131392 bytes");
    return;
  }
  if (std::memcmp(bytes.data(), "ToPfIeLd", 8) != 0)
    report.notes.push_back("the header does not begin \"ToPfIeLd\"");
  const uint16_t systemId = STD_ReadSystemId(bytes.data(), bytes.size());
  SetSystemId(systemId, report);
  const uint8_t* packed = bytes.data() + kStdPackedOffset;
  AddPackedBlockChecks(packed, kPackedBlockSize, "", report);
  if (AddUnpackedSettings(packed, kPackedBlockSize, "", report, systemId))
    report.components.push_back({"Flash", kFlashImageSize, "packed, 131072 bytes at offset 64"});
  report.components.push_back({"EEPROM", kEepromImageSize, "at offset 131136"});
  AddEepromChecks(bytes.data() + kStdEepromOffset, kEepromImageSize, "", report);
}

bool TakesDump(const std::string& extension, uint64_t size, const std::string&) {
  return extension == FileFormOf(FileFormId::FlashDump).extension || size == kPackedBlockSize;
}

void InspectDump(const std::vector<uint8_t>& bytes, FileReport& report) {
  if (bytes.size() != kPackedBlockSize) {
    report.problems.push_back("a flash dump has 131072 bytes");
    return;
  }
  const PackedBlockCheck check = AddPackedBlockChecks(bytes.data(), bytes.size(), "", report);
  SetSystemId(static_cast<int32_t>(check.systemId), report);
  report.notes.push_back("a flash dump stores no system ID; this one is the packed block's model header");
  if (AddUnpackedSettings(bytes.data(), bytes.size(), "", report))
    report.components.push_back({"Flash", kFlashImageSize, "packed, 131072 bytes"});
}

bool TakesBlock(const std::string&, uint64_t, const std::string& path) {
  std::optional<FlashBlockName> name = FlashBlock_ParseName(path);
  return name && name->section;
}

void InspectBlock(const std::vector<uint8_t>& bytes, FileReport& report) {
  const int k = *FlashBlock_ParseName(report.path)->section;
  report.components.push_back({"Flash section " + std::to_string(k), bytes.size(), "section data"});
  std::string fits;
  for (uint8_t variant : {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC}) {
    int32_t length = Section_DataLength(Layout_Sections(variant), k);
    if (length > 0 && static_cast<uint64_t>(length) == bytes.size())
      fits += std::string(fits.empty() ? "" : ", ") + Layout_Name(variant);
  }
  if (fits.empty()) {
    report.problems.push_back("its size fits section " + std::to_string(k) + " of no layout");
  } else {
    report.layout = fits;
  }
}

bool TakesLoader(const std::string&, uint64_t size, const std::string&) { return size == kLoaderImageSize; }
bool TakesFlash(const std::string&, uint64_t size, const std::string&) { return size == kFlashImageSize; }
bool TakesEeprom(const std::string&, uint64_t size, const std::string&) { return size == kEepromImageSize; }
bool TakesDefaults(const std::string&, uint64_t size, const std::string&) {
  return size == kDefaultsImageSize;
}
bool TakesBackground(const std::string&, uint64_t size, const std::string&) {
  return size == kBackgroundImageSize;
}
bool TakesFirmware(const std::string& extension, uint64_t size, const std::string&) {
  return extension == "bin" && size <= kFirmwareMaxSize;
}

void InspectLoader(const std::vector<uint8_t>& bytes, FileReport& report) {
  report.components.push_back({"Loader", bytes.size(), ""});
}

void InspectFlashBin(const std::vector<uint8_t>& bytes, FileReport& report) {
  report.components.push_back({"Flash", bytes.size(), "unpacked settings"});
  AddSettingsChecks(bytes.data(), bytes.size(), "", report);
}

void InspectFlash(const std::vector<uint8_t>& bytes, FileReport& report) {
  InspectFlashBin(bytes, report);
  report.notes.push_back("a Defaults BIN of 524288 bytes has the same size and layout");
}

void InspectEeprom(const std::vector<uint8_t>& bytes, FileReport& report) {
  report.components.push_back({"EEPROM", bytes.size(), ""});
  AddEepromChecks(bytes.data(), bytes.size(), "", report);
}

void InspectDefaults(const std::vector<uint8_t>& bytes, FileReport& report) {
  report.components.push_back({"Defaults", bytes.size(), "settings, default EEPROM at 393216, carried rest"});
  AddSettingsChecks(bytes.data(), kDefaultsSettingsSize, "defaults ", report);
  AddEepromChecks(bytes.data() + kDefaultsEepromOffset, kEepromImageSize, "defaults ", report);
}

void InspectBackground(const std::vector<uint8_t>& bytes, FileReport& report) {
  report.components.push_back({"Background", bytes.size(), ""});
}

void InspectFirmware(const std::vector<uint8_t>& bytes, FileReport& report) {
  report.components.push_back({"Firmware", bytes.size(), ""});
}

using InspectFunction = void (*)(const std::vector<uint8_t>&, FileReport&);

// The inspector of a BIN file whose kind is known (by its name in a folder).
InspectFunction BinInspector(ComponentKind kind) {
  switch (kind) {
    case ComponentKind::Loader: return &InspectLoader;
    case ComponentKind::Firmware: return &InspectFirmware;
    case ComponentKind::Flash: return &InspectFlashBin;
    case ComponentKind::Eeprom: return &InspectEeprom;
    case ComponentKind::Defaults: return &InspectDefaults;
    case ComponentKind::Background: return &InspectBackground;
  }
  return &InspectFirmware;
}

// The largest file of any form: a TFD file (kTfdMaxFileSize).
constexpr uint64_t kLargestInput = kTfdMaxFileSize;

std::string BinSizeText(ComponentKind kind) {
  if (kind == ComponentKind::Firmware) return "at most " + std::to_string(kFirmwareMaxSize) + " bytes";
  if (kind == ComponentKind::Defaults)
    return std::to_string(kFlashImageSize) + " or " + std::to_string(kDefaultsImageSize) + " bytes";
  return std::to_string(ComponentImageSize(kind)) + " bytes";
}

}  // namespace

void AddCheck(FileReport& report, const std::string& group, const std::string& name, uint32_t offset,
              uint32_t stored, uint32_t computed) {
  report.checksums.push_back({group, name, offset, stored, computed, stored == computed});
}

std::string ModelHeaderReport::Describe() const {
  const std::string id = std::to_string(systemId);
  const std::string form = littleEndian ? ", little-endian form" : "";
  if (kind == "template") return "built-in template of SystemID " + id + form;
  if (kind == "none") return "none (the block does not begin with 1F 1D or 1D 1F)";
  const std::string own = "the block's own, for SystemID " + id + form;
  if (kind == "damaged") return own + "; its sum does not hold, so it is not used for packing";
  if (Flash_HasModelHeader(static_cast<uint16_t>(systemId)))
    return own + " (packing for " + id + " writes the built-in template)";
  return own + " (unlisted model: no built-in template)";
}

bool FileReport::AllOk() const { return problems.empty() && named.empty() && BadChecksumCount() == 0; }

bool FileReport::Readable() const {
  if (form == "unrecognised" || !problems.empty()) return false;
  return std::none_of(checksums.begin(), checksums.end(), [](const ChecksumReport& c) {
    return !c.ok && (c.group == "TFD file" || c.group == "TFD block");
  });
}

int FileReport::BadChecksumCount() const {
  return static_cast<int>(
      std::count_if(checksums.begin(), checksums.end(), [](const ChecksumReport& c) { return !c.ok; }));
}

const std::vector<FileInspector>& FileInspectors() {
  static const std::vector<FileInspector> inspectors = {
      {FileFormOf(FileFormId::Tfd).inspectedAs, &TakesTfd, &InspectTfd},
      {FileFormOf(FileFormId::Std).inspectedAs, &TakesStd, &InspectStd},
      {FileFormOf(FileFormId::FlashDump).inspectedAs, &TakesDump, &InspectDump},
      {FileFormOf(FileFormId::FlashBlocks).inspectedAs, &TakesBlock, &InspectBlock},
      {"Loader BIN", &TakesLoader, &InspectLoader},
      {"Flash BIN", &TakesFlash, &InspectFlash},
      {"EEPROM BIN", &TakesEeprom, &InspectEeprom},
      {"Defaults BIN", &TakesDefaults, &InspectDefaults},
      {"Background BIN", &TakesBackground, &InspectBackground},
      {"Firmware BIN", &TakesFirmware, &InspectFirmware},
  };
  return inspectors;
}

FileReport InspectFile(const std::string& path) {
  FileReport report;
  report.path = path;
  // The size first: a file larger than any form this tool reads is not read.
  report.size = FileSizeOf(path);
  if (report.size > kLargestInput) {
    report.form = "unrecognised";
    report.problems.push_back("larger than any file this tool reads (" + std::to_string(kLargestInput) +
                              " bytes)");
    return report;
  }
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  report.size = bytes.size();
  const std::string extension = LowerExtension(path);
  for (const FileInspector& inspector : FileInspectors()) {
    if (!inspector.takes(extension, bytes.size(), path)) continue;
    report.form = inspector.form;
    inspector.inspect(bytes, report);
    return report;
  }
  report.form = "unrecognised";
  report.problems.push_back("neither its name nor its size is that of a file this tool reads");
  return report;
}

FileReport InspectComponentBin(const std::string& path, ComponentKind kind) {
  FileReport report;
  report.path = path;
  report.form = std::string(ComponentName(kind)) + " BIN";
  report.size = FileSizeOf(path);
  if (!Component_BinSizeAccepted(kind, report.size)) {
    report.problems.push_back("a " + report.form + " has " + BinSizeText(kind));
    return report;
  }
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  report.size = bytes.size();
  if (!Component_BinSizeAccepted(kind, bytes.size())) {
    report.problems.push_back("a " + report.form + " has " + BinSizeText(kind));
    return report;
  }
  BinInspector(kind)(bytes, report);
  return report;
}

PackedBlockCheck AddPackedBlockChecks(const uint8_t* packed, size_t packedSize, const std::string& prefix,
                                      FileReport& report) {
  const std::string group = prefix + "packed block";
  PackedBlockCheck check = PackedBlock_Check(packed, packedSize);
  AddModelHeader(packed, packedSize, prefix, report);
  if (!check.directoryInside && check.entries.empty())
    report.problems.push_back(group + ": its directory reaches past the block");
  // Only the entries a load reads are judged (and a defaults block's default
  // EEPROM, its second entry): the others hold nothing a load takes.
  std::vector<int> read = PackedBlock_EntriesRead(packed, packedSize);
  if (prefix == "defaults " && check.entries.size() > 1) read.push_back(1);
  for (const PackedEntryCheck& entry : check.entries) {
    if (entry.state == PackedEntryState::kSkipped) continue;
    if (std::find(read.begin(), read.end(), entry.index) == read.end()) continue;
    if (entry.state == PackedEntryState::kOutside) {
      report.problems.push_back(group + " entry " + std::to_string(entry.index) + " lies outside the block");
      continue;
    }
    AddEntryChecks(entry, group, report);
  }
  return check;
}

bool AddUnpackedSettings(const uint8_t* packed, size_t packedSize, const std::string& prefix,
                         FileReport& report, uint16_t systemId) {
  // The loads' own rule, so that a block they refuse (one whose directory
  // names no block, as in an erased or zeroed block) never passes here.
  std::vector<uint8_t> image(kFlashImageSize, 0);
  PackedLoadFindings findings;
  if (!Flash_UnpackSettings(packed, packedSize, image, &findings)) {
    report.problems.push_back(prefix + (findings.Refused() ? "packed block is not loaded: " + findings.refusal
                                                           : std::string("packed block does not unpack")));
    return false;
  }
  PackedBlock_CheckModelHeader(packed, packedSize, systemId, findings);
  for (const std::string& named : findings.named)
    report.named.push_back((prefix.empty() ? "" : prefix + "block: ") + named);
  AddSettingsChecks(image.data(), kDefaultsSettingsSize, prefix, report);
  return true;
}

void AddSettingsChecks(const uint8_t* settings, size_t settingsSize, const std::string& prefix,
                       FileReport& report) {
  const uint8_t variant = Flash_RecogniseLayout(settings, settingsSize);
  if (!report.layout) report.layout = variant == kLayoutNone ? "none recognised" : Layout_Name(variant);
  if (variant == kLayoutNone) {
    report.notes.push_back(prefix + "settings: no layout recognised, so no section checksums to check");
    return;
  }
  for (const ChecksumCheck& check :
       Flash_CheckSectionChecksums(settings, settingsSize, Layout_Sections(variant)))
    AddCheck(report, prefix + "section", std::to_string(check.number), check.offset, check.stored,
             check.computed);
}

void AddEepromChecks(const uint8_t* eeprom, size_t eepromSize, const std::string& prefix,
                     FileReport& report) {
  for (const ChecksumCheck& check : Eeprom_CheckChecksums(eeprom, eepromSize))
    AddCheck(report, prefix + "EEPROM record", std::to_string(check.number), check.offset, check.stored,
             check.computed);
}

void SetSystemId(int32_t systemId, FileReport& report) {
  report.systemId = systemId;
  report.modelName = Model_GetName(systemId);
}

}  // namespace tolv
