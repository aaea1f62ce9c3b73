// What a TFD file holds: its header, every block's CRC, the block types with
// their chunks, and the components the import would take from them.
#include <map>
#include <memory>

#include "results/result_codes.h"
#include "tfd/tfd_store.h"
#include "workspace/file_forms.h"
#include "workspace/file_inspection.h"
#include "workspace/packed_load_check.h"
#include "workspace/tfd_files.h"

namespace tolv {
namespace {

// The chunks of one block type as the file holds them.
struct TypeSummary {
  int chunks = 0;
  int stored = 0;
  uint64_t size = 0;       // uncompressed bytes
  uint64_t fileBytes = 0;  // block headers and data in the file
};

std::string Describe(uint16_t type, const TypeSummary& s) {
  return "block type " + std::to_string(type) + ", " + std::to_string(s.chunks) +
         (s.chunks == 1 ? " chunk" : " chunks") + " (" + std::to_string(s.stored) + " stored), " +
         std::to_string(s.fileBytes) + " bytes in the file";
}

// The size the import requires of a component's block: the image size, or
// that of a packed block for the Flash and the Defaults; 0 (the Firmware's)
// for any size.
uint64_t RequiredSize(uint16_t type) {
  const ComponentKind kind = static_cast<ComponentKind>(type);
  if (kind == ComponentKind::Flash || kind == ComponentKind::Defaults) return kPackedBlockSize;
  return ComponentImageSize(kind);
}

// What the import takes from a component block that has the right size.
void AddComponent(uint16_t type, const tTFDBlock& slot, const std::string& how, FileReport& report) {
  const ComponentKind kind = static_cast<ComponentKind>(type);
  const uint8_t* data = slot.data.data();
  const size_t size = slot.data.size();
  if (kind == ComponentKind::Flash) {
    report.components.push_back({"Flash", kFlashImageSize, "packed, " + how});
    AddPackedBlockChecks(data, size, "flash ", report);
    AddUnpackedSettings(data, size, "flash ", report, static_cast<uint16_t>(report.systemId.value_or(0)));
  } else if (kind == ComponentKind::Defaults) {
    report.components.push_back({"Defaults", kDefaultsSettingsSize + kEepromImageSize,
                                 "settings and default EEPROM, packed, " + how});
    AddPackedBlockChecks(data, size, "defaults ", report);
    if (!AddUnpackedSettings(data, size, "defaults ", report,
                             static_cast<uint16_t>(report.systemId.value_or(0))))
      return;
    uint8_t eeprom[kEepromImageSize];
    if (UnPackDefaultsEeprom(data, size, eeprom)) {
      AddEepromChecks(eeprom, sizeof eeprom, "defaults ", report);
    } else if (const PackedLoadFindings entry = PackedBlock_CheckForLoad(data, size, {1}); entry.Refused()) {
      report.problems.push_back("defaults packed block is not loaded: " + entry.refusal);
    } else {
      report.named.push_back("defaults block: The block gives no default EEPROM: its 256 bytes are zero.");
    }
  } else {
    report.components.push_back({ComponentName(kind), size, how});
    if (kind == ComponentKind::Eeprom) AddEepromChecks(data, size, "", report);
  }
}

void AddBlockTypes(const TfdFileInfo& info, const TfdStore& store, FileReport& report) {
  std::map<uint16_t, TypeSummary> types;
  for (const TfdFileBlock& block : info.blocks) {
    TypeSummary& s = types[block.blockType];
    ++s.chunks;
    s.stored += block.stored() ? 1 : 0;
    s.size += block.uncompressedSize;
    s.fileBytes += 2u + block.blockLength;
  }
  for (const auto& [type, summary] : types) {
    const std::string how = Describe(type, summary);
    if (type >= kComponentCount || summary.size == 0) {
      report.notes.push_back(how + ", " + std::to_string(summary.size) +
                             " bytes: " + (summary.size == 0 ? "empty" : "not a component") +
                             ", the import passes it over");
    } else if (RequiredSize(type) != 0 && summary.size != RequiredSize(type)) {
      report.problems.push_back(std::string(ComponentName(static_cast<ComponentKind>(type))) + " block (" +
                                how + ") holds " + std::to_string(summary.size) + " bytes, not " +
                                std::to_string(RequiredSize(type)));
    } else {
      AddComponent(type, store[type], how, report);
    }
  }
}

}  // namespace

bool TakesTfd(const std::string& extension, uint64_t, const std::string&) {
  return extension == FileFormOf(FileFormId::Tfd).extension;
}

void InspectTfd(const std::vector<uint8_t>& bytes, FileReport& report) {
  TfdFileInfo info;
  const int32_t scan = TFD_Scan(bytes.data(), bytes.size(), info);
  if (bytes.size() >= kTfdHeaderSize) {
    AddCheck(report, "TFD file", "header", 2, info.header.headerCrc, info.header.computedCrc);
    SetSystemId(info.header.systemId, report);
  }
  for (size_t i = 0; i < info.blocks.size(); ++i) {
    const TfdFileBlock& block = info.blocks[i];
    AddCheck(report, "TFD block", std::to_string(i) + " (type " + std::to_string(block.blockType) + ")",
             static_cast<uint32_t>(block.offset + 2), block.storedCrc, block.computedCrc);
  }
  // A bad header CRC is already a BAD checksum; other faults are problems.
  if (scan != result::kOk) {
    if (scan != result::kTfdInvalidHeaderCrc) report.problems.push_back(Result_Text(scan));
    report.notes.push_back("the blocks after the fault were not read");
    return;
  }
  if (info.bytesAfterBlocks > 0) report.named.push_back(TFD_BytesAfterBlocksText(info.bytesAfterBlocks));
  auto store = std::make_unique<TfdStore>();
  const int32_t load = TFD_LoadImage(*store, bytes.data(), bytes.size());
  if (load != result::kOk) {
    if (load != result::kTfdInvalidDataCrc) report.problems.push_back(Result_Text(load));
    report.notes.push_back("the blocks were not expanded, so the components are not listed");
    return;
  }
  AddBlockTypes(info, *store, report);
}

}  // namespace tolv
