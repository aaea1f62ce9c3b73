#include "receiver_memory.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "codec/block_codec.h"
#include "codec/crc16.h"
#include "common/file_io.h"
#include "flash/model_header.h"
#include "flash/packing.h"

namespace tolv::sim {
namespace {

// A model without a header template packs with a header made for it, as a
// receiver of that model carries its own.
std::optional<ModelHeader> OwnHeaderOf(uint16_t systemId) {
  if (Flash_HasModelHeader(systemId)) return std::nullopt;
  return ModelHeader_Make(systemId, false);
}

void RequireSize(const std::string& path, const std::vector<uint8_t>& bytes, size_t expected) {
  if (bytes.size() != expected) {
    throw SeedError(path + ": " + std::to_string(bytes.size()) + " bytes, expected " +
                    std::to_string(expected) + ".");
  }
}

// Blocks of an image, by type, with their chunks appended in file order.
using BlockMap = std::map<uint16_t, std::vector<uint8_t>>;

// Walks the blocks of a TFD image; an empty string when all of them are sound.
std::string ReadTfdBlocks(std::span<const uint8_t> image, size_t blockCount, BlockMap& blocks) {
  size_t position = 10;
  size_t total = 0;
  for (size_t i = 0; i < blockCount; ++i) {
    // Block: length of what follows, CRC, type, uncompressed size, data.
    if (image.size() - position < 8) return "block " + std::to_string(i) + " runs past the end of the image";
    const size_t length = ReadBE16(&image[position]);
    if (length < 6) return "block " + std::to_string(i) + " has a length below 6";
    if (image.size() - position - 2 < length) return "block " + std::to_string(i) + " runs past the end";
    if (CRC16_Calc(&image[position + 4], static_cast<int32_t>(length - 2)) !=
        ReadBE16(&image[position + 2])) {
      return "block " + std::to_string(i) + " fails its CRC";
    }
    const uint16_t type = static_cast<uint16_t>(ReadBE16(&image[position + 4]));
    if (type > 255) return "block " + std::to_string(i) + " has type " + std::to_string(type);
    const size_t expanded = ReadBE16(&image[position + 6]);
    const uint8_t* data = &image[position + 8];
    const size_t dataLength = length - 6;
    total += expanded;
    if (total > kSimMaxFirmwareSize * 2) return "the image expands to more than the receiver holds";
    std::vector<uint8_t>& block = blocks[type];
    const size_t at = block.size();
    block.resize(at + expanded);
    // A chunk whose data are as long as its expanded size is stored as is.
    if (dataLength == expanded) {
      std::copy(data, data + dataLength, block.begin() + static_cast<ptrdiff_t>(at));
    } else if (Block_Decompress(data, static_cast<int32_t>(dataLength), block.data() + at,
                                static_cast<int32_t>(expanded)) != 1) {
      return "a chunk of block type " + std::to_string(type) + " does not expand";
    }
    position += length + 2;
  }
  return {};
}

bool Unpacks(const std::vector<uint8_t>& packed, size_t scratchSize) {
  std::vector<uint8_t> scratch(scratchSize);
  return UnPackFlashData(packed.data(), packed.size(), scratch.data(), scratch.size());
}

// Why a block cannot become its component; empty when it can.
std::string CheckComponentBlock(uint16_t type, const std::vector<uint8_t>& block) {
  const std::string name = "block " + std::to_string(type);
  switch (type) {
    case kSimLoader: return block.size() == kSimLoaderSize ? "" : name + " (loader) is not 65536 bytes";
    case kSimFirmware:
      return !block.empty() && block.size() <= kSimMaxFirmwareSize ? ""
                                                                   : name + " (firmware) has no usable size";
    case kSimFlash:
      if (block.size() != kSimPackedSize) return name + " (settings) is not 131072 bytes";
      return Unpacks(block, kSimSettingsSize) ? "" : name + " (settings) does not unpack";
    case kSimEeprom: return block.size() == kSimEepromSize ? "" : name + " (EEPROM) is not 256 bytes";
    case kSimDefaults:
      if (block.size() != kSimPackedSize) return name + " (defaults) is not 131072 bytes";
      return Unpacks(block, kSimDefaultsImageSize) ? "" : name + " (defaults) does not unpack";
    case kSimBackground:
      return block.size() == kSimBackgroundSize ? "" : name + " (background) is not 262144 bytes";
    default: return "";
  }
}

}  // namespace

std::vector<uint8_t>& ReceiverMemory::Component(int type) {
  switch (type) {
    case kSimLoader: return loader;
    case kSimFirmware: return firmware;
    case kSimFlash: return packedFlash;
    case kSimEeprom: return eeprom;
    case kSimDefaults: return packedDefaults;
    default: return background;
  }
}

std::vector<uint8_t> Memory_PackSettings(uint16_t systemId, const std::vector<uint8_t>& settings) {
  std::vector<uint8_t> packed(kSimPackedSize);
  const std::optional<ModelHeader> ownHeader = OwnHeaderOf(systemId);
  if (settings.size() != kSimSettingsSize ||
      !PackFlashData(systemId, settings.data(), packed.data(), ownHeader ? &*ownHeader : nullptr)) {
    throw SeedError("The settings cannot be packed for SystemID " + std::to_string(systemId) +
                    " (they do not fit into 131072 bytes).");
  }
  return packed;
}

std::vector<uint8_t> Memory_PackDefaults(uint16_t systemId, const std::vector<uint8_t>& defaults) {
  std::vector<uint8_t> packed(kSimPackedSize);
  const std::optional<ModelHeader> ownHeader = OwnHeaderOf(systemId);
  if (defaults.size() != kSimDefaultsImageSize ||
      !PackDefaultsData(systemId, defaults.data(), defaults.data() + kSimDefaultsEepromOffset, packed.data(),
                        ownHeader ? &*ownHeader : nullptr)) {
    throw SeedError("The defaults cannot be packed for SystemID " + std::to_string(systemId) +
                    " (they do not fit into 131072 bytes).");
  }
  return packed;
}

void Memory_LoadComponent(ReceiverMemory& memory, SimBlockType type, const std::string& path) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  switch (type) {
    case kSimLoader:
      RequireSize(path, bytes, kSimLoaderSize);
      memory.loader = std::move(bytes);
      return;
    case kSimFirmware:
      if (bytes.empty() || bytes.size() > kSimMaxFirmwareSize) {
        throw SeedError(path + ": a firmware must have 1 to 8388608 bytes.");
      }
      memory.firmware = std::move(bytes);
      return;
    case kSimFlash:
      if (bytes.size() == kSimPackedSize) {
        memory.packedFlash = std::move(bytes);
      } else {
        RequireSize(path, bytes, kSimSettingsSize);
        memory.packedFlash = Memory_PackSettings(memory.systemId, bytes);
      }
      return;
    case kSimEeprom:
      RequireSize(path, bytes, kSimEepromSize);
      memory.eeprom = std::move(bytes);
      return;
    case kSimDefaults:
      if (bytes.size() == kSimPackedSize) {
        memory.packedDefaults = std::move(bytes);
      } else {
        RequireSize(path, bytes, kSimDefaultsImageSize);
        memory.packedDefaults = Memory_PackDefaults(memory.systemId, bytes);
      }
      return;
    case kSimBackground:
      RequireSize(path, bytes, kSimBackgroundSize);
      memory.background = std::move(bytes);
      return;
  }
}

void Memory_LoadDirectory(ReceiverMemory& memory, const std::string& dir) {
  const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  ReceiverMemory seeded = memory;  // all or nothing
  const auto load = [&](SimBlockType type, const char* name) {
    if (FileExists(base + name)) Memory_LoadComponent(seeded, type, base + name);
  };
  load(kSimLoader, "loader.bin");
  load(kSimFirmware, "firmware.bin");
  load(kSimFlash, "flash.bin");
  load(kSimFlash, "flash.dmp");
  load(kSimEeprom, "eeprom.bin");
  load(kSimDefaults, "defaults.bin");
  load(kSimDefaults, "defaults.dmp");
  load(kSimBackground, "background.bin");
  memory = std::move(seeded);
}

void Memory_Dump(const ReceiverMemory& memory, const std::string& dir) {
  const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  SaveFileAtomically(base + "loader.bin", memory.loader);
  SaveFileAtomically(base + "firmware.bin", memory.firmware);
  SaveFileAtomically(base + "flash.dmp", memory.packedFlash);
  SaveFileAtomically(base + "eeprom.bin", memory.eeprom);
  SaveFileAtomically(base + "defaults.dmp", memory.packedDefaults);
  SaveFileAtomically(base + "background.bin", memory.background);
  const std::string sysid = std::to_string(memory.systemId) + "\n";
  SaveFileAtomically(base + "sysid.txt",
                     ByteView(reinterpret_cast<const uint8_t*>(sysid.data()), sysid.size()));
}

std::vector<uint8_t> EncodeFirmwareSections(std::span<const uint8_t> firmware, size_t sectionSize) {
  sectionSize = std::clamp<size_t>(sectionSize, 1, 0xFFFF);
  std::vector<uint8_t> out;
  std::vector<uint8_t> stream(static_cast<size_t>(Block_CompressBound(static_cast<int32_t>(sectionSize))));
  const auto header = [&out](size_t expanded, size_t stored, uint16_t marker) {
    const uint16_t fields[3] = {static_cast<uint16_t>(expanded), static_cast<uint16_t>(stored), marker};
    for (uint16_t f : fields) {
      out.push_back(static_cast<uint8_t>(f >> 8));
      out.push_back(static_cast<uint8_t>(f));
    }
  };
  for (size_t at = 0; at < firmware.size(); at += sectionSize) {
    const auto section = firmware.subspan(at, std::min(sectionSize, firmware.size() - at));
    const int32_t streamSize =
        Block_Compress(section.data(), static_cast<int32_t>(section.size()), stream.data());
    // A section is sent compressed only when that makes it shorter.
    if (streamSize > 0 && static_cast<size_t>(streamSize) < section.size()) {
      header(section.size(), static_cast<size_t>(streamSize), 0);
      out.insert(out.end(), stream.begin(), stream.begin() + streamSize);
    } else {
      header(section.size(), section.size(), 0);
      out.insert(out.end(), section.begin(), section.end());
    }
  }
  header(0, 0, 0xFFFF);
  return out;
}

std::vector<uint8_t> Memory_BlockForDownload(const ReceiverMemory& memory, uint8_t blockType) {
  switch (blockType) {
    case kSimLoader: return memory.loader;
    case kSimFirmware: return EncodeFirmwareSections(memory.firmware, kSimFirmwareSectionSize);
    case kSimFlash: return memory.packedFlash;
    case kSimEeprom: return memory.eeprom;
    case kSimDefaults: return memory.packedDefaults;
    case kSimBackground: return memory.background;
    default: return {};
  }
}

TfdIntake Memory_TakeTfdImage(ReceiverMemory& memory, std::span<const uint8_t> image,
                              bool requireOwnSystemId) {
  TfdIntake intake;
  // Header: length 8, CRC over bytes 4 to 9, SystemID, fixed 1, block count.
  if (image.size() < 10 || ReadBE16(image.data()) != 8) {
    intake.verdict = "image refused: no TFD header";
    return intake;
  }
  if (CRC16_Calc(image.data() + 4, 6) != ReadBE16(image.data() + 2)) {
    intake.verdict = "image refused: header CRC mismatch";
    return intake;
  }
  const uint16_t imageSystemId = static_cast<uint16_t>(ReadBE16(image.data() + 4));
  if (requireOwnSystemId && imageSystemId != memory.systemId && imageSystemId != kWildcardSystemId) {
    intake.verdict = "image refused: it is for SystemID " + std::to_string(imageSystemId) +
                     ", this receiver is " + std::to_string(memory.systemId);
    return intake;
  }
  BlockMap blocks;
  if (std::string fault = ReadTfdBlocks(image, ReadBE16(image.data() + 8), blocks); !fault.empty()) {
    intake.verdict = "image refused: " + fault;
    return intake;
  }
  for (const auto& [type, block] : blocks) {
    if (std::string fault = CheckComponentBlock(type, block); !fault.empty()) {
      intake.verdict = "image refused: " + fault;
      return intake;
    }
  }
  std::string taken;
  for (auto& [type, block] : blocks) {
    if (type >= kSimBlockTypes) continue;
    memory.Component(type) = std::move(block);
    intake.blockTypesTaken.push_back(type);
    taken += " " + std::to_string(type);
  }
  intake.accepted = true;
  intake.verdict = "image accepted: blocks" + (taken.empty() ? std::string(" none") : taken);
  return intake;
}

}  // namespace tolv::sim
