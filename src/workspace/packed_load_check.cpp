// The checks a load makes of the blocks it takes from a packed block.
#include "workspace/packed_load_check.h"

#include <cstdio>
#include <optional>

#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/model_header.h"
#include "flash/packed_block_check.h"
#include "flash/packed_format.h"
#include "flash/packing.h"

namespace tolv {
namespace {

std::string Hex4(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

std::string StoredComputed(uint32_t stored, uint32_t computed) {
  return "(stored " + Hex4(stored) + ", computed " + Hex4(computed) + ")";
}

// The entry and the chunk a fault of its data lies in: the only chunk, or
// the chunks whose own CRC is wrong too; the entry alone when neither tells.
std::string Where(const PackedEntryCheck& entry) {
  const std::string name = "entry " + std::to_string(entry.index);
  if (entry.chunks.size() == 1) return name + ", chunk 0";
  std::string bad;
  for (size_t c = 0; c < entry.chunks.size(); ++c)
    if (!entry.chunks[c].Ok()) bad += (bad.empty() ? "" : ", ") + std::to_string(c);
  if (bad.empty()) return name;
  return name + (bad.find(',') == std::string::npos ? ", chunk " : ", chunks ") + bad;
}

// Why the block of entry must not be taken; empty when it may. The unpacker
// has already refused most of these for the entries it took; the defaults'
// EEPROM entry meets them here first.
std::string Refusal(const PackedEntryCheck& entry) {
  const std::string name = "entry " + std::to_string(entry.index);
  if (entry.state == PackedEntryState::kOutside) return name + ": the block lies outside the packed block";
  if (!entry.BlockCrcOk())
    return name + ": block CRC wrong " + StoredComputed(entry.storedBlockCrc, entry.computedBlockCrc);
  if (entry.headerWord != 8) return name + ": the block header does not begin with 8";
  if (!entry.chunksInside)
    return name + ", chunk " + std::to_string(entry.chunks.size()) +
           ": the chunk reaches past the end of its block";
  if (!entry.decoded) return name + ": the chunks do not decode";
  if (entry.decodedLength != entry.dataLength)
    return Where(entry) + ": the data decode to " + std::to_string(entry.decodedLength) + " bytes, not the " +
           std::to_string(entry.dataLength) + " the directory entry states";
  if (entry.storedDataCrc != entry.computedDataCrc)
    return Where(entry) + ": the data fail their data CRC " +
           StoredComputed(entry.storedDataCrc, entry.computedDataCrc);
  return {};
}

// The wrong checksums of an entry whose data are sound, named as verify names them.
void AddWrongChecksums(const PackedEntryCheck& entry, std::vector<std::string>& wrong) {
  const std::string name = "entry " + std::to_string(entry.index);
  if (entry.storedHeaderCrc != entry.computedHeaderCrc)
    wrong.push_back(name + " header CRC " + StoredComputed(entry.storedHeaderCrc, entry.computedHeaderCrc));
  for (size_t c = 0; c < entry.chunks.size(); ++c) {
    const PackedChunkCheck& chunk = entry.chunks[c];
    if (!chunk.Ok())
      wrong.push_back(name + " chunk " + std::to_string(c) + " CRC " +
                      StoredComputed(chunk.storedCrc, chunk.computedCrc));
  }
}

}  // namespace

PackedLoadFindings PackedBlock_CheckForLoad(const uint8_t* packed, size_t packedSize,
                                            const std::vector<int>& entries) {
  PackedLoadFindings findings;
  for (int index : entries) {
    const std::optional<PackedEntryCheck> entry = PackedBlock_CheckEntry(packed, packedSize, index);
    if (!entry || entry->state == PackedEntryState::kSkipped) continue;
    findings.refusal = Refusal(*entry);
    if (findings.Refused()) return findings;
    AddWrongChecksums(*entry, findings.wrongChecksums);
  }
  return findings;
}

namespace {

constexpr size_t kSettingsBlock = 8192;

// Where the directory walk stands.
struct Walk {
  size_t written = 0;
  int previous = -1;  // the last entry taken
  uint32_t previousOffset = 0;
};

std::string Entry(int index) { return "entry " + std::to_string(index); }

std::string OfSettings(size_t written) {
  return std::to_string(written) + " of the " + std::to_string(packed::kUnpackLimit) +
         " bytes of the settings";
}

// One entry of the walk; false when the walk ends (refused or whole).
bool WalkEntry(const packed::DirectoryEntry& entry, int j, Walk& walk, PackedLoadFindings& findings) {
  if (packed::IsUnused(entry)) {
    if (walk.written < packed::kUnpackLimit)
      findings.named.push_back(Entry(j) +
                               " of the directory is unused and was passed over: the blocks after it "
                               "take its place in the image.");
    return true;
  }
  if (walk.written >= packed::kUnpackLimit) return false;
  if (walk.previous >= 0 && walk.previousOffset > entry.blockOffset) {
    findings.refusal = Entry(j) + ": its block lies below that of " + Entry(walk.previous) +
                       ", which ends the directory after " + OfSettings(walk.written);
    return false;
  }
  if (walk.previous >= 0 && walk.previousOffset == entry.blockOffset)
    findings.named.push_back(Entry(j) + " names the block of " + Entry(walk.previous) +
                             " again: its data were taken twice.");
  // Settings travel in whole blocks of 8 kB: data that end elsewhere shift
  // every byte after them.
  if (walk.written + entry.dataLength < packed::kUnpackLimit &&
      (walk.written + entry.dataLength) % kSettingsBlock)
    findings.named.push_back(
        Entry(j) + " gives " + std::to_string(entry.dataLength) +
        " bytes, which end inside an 8192-byte settings block: the data after it are shifted.");
  walk.written += entry.dataLength;
  walk.previous = j;
  walk.previousOffset = entry.blockOffset;
  return true;
}

// The entries after the settings are whole are never read, but blocks come
// in the order of their entries: one below its predecessor there means the
// directory was reordered (a block swapped into the settings, say).
void NameEntriesOutOfOrder(const uint8_t* packed, size_t packedSize, const packed::Form& form, int count,
                           const Walk& walk, PackedLoadFindings& findings) {
  uint32_t previousOffset = walk.previousOffset;
  int previous = walk.previous;
  for (int j = previous + 1; j < count; ++j) {
    const std::optional<size_t> at = packed::EntryOffset(packedSize, form, j);
    if (!at) return;
    const packed::DirectoryEntry entry = packed::ReadEntry(packed + *at, form.littleEndian);
    if (packed::IsUnused(entry)) continue;
    if (entry.blockOffset < previousOffset) {
      findings.named.push_back(Entry(j) + " names a block below that of " + Entry(previous) +
                               ": the directory is out of order, and the settings may hold a block of "
                               "another place.");
      return;
    }
    previous = j;
    previousOffset = entry.blockOffset;
  }
}

}  // namespace

void PackedBlock_CheckCoverage(const uint8_t* packed, size_t packedSize, PackedLoadFindings& findings) {
  if (findings.Refused()) return;
  const packed::Form form = packed::FormOf(PackedBlock_IsLittleEndian(packed, packedSize));
  const int count = packed::EntryCount(packed, packedSize, form).value_or(0);
  Walk walk;
  for (int j = 0; j < count; ++j) {
    const std::optional<size_t> at = packed::EntryOffset(packedSize, form, j);
    if (!at || !WalkEntry(packed::ReadEntry(packed + *at, form.littleEndian), j, walk, findings)) break;
  }
  if (findings.Refused()) return;
  if (walk.written >= packed::kUnpackLimit) {
    NameEntriesOutOfOrder(packed, packedSize, form, count, walk, findings);
    return;
  }
  findings.refusal = walk.previous < 0 ? "the directory names no block"
                                       : "the directory ends after " + Entry(walk.previous) +
                                             ", which gives only " + OfSettings(walk.written);
}

std::vector<int> PackedBlock_EntriesRead(const uint8_t* packed, size_t packedSize) {
  const packed::Form form = packed::FormOf(PackedBlock_IsLittleEndian(packed, packedSize));
  const int count = packed::EntryCount(packed, packedSize, form).value_or(0);
  std::vector<int> read;
  size_t written = 0;
  uint32_t previousOffset = 0;
  for (int j = 0; j < count; ++j) {
    const std::optional<size_t> at = packed::EntryOffset(packedSize, form, j);
    if (!at) break;
    const packed::DirectoryEntry entry = packed::ReadEntry(packed + *at, form.littleEndian);
    if (packed::IsUnused(entry)) continue;
    if (written >= packed::kUnpackLimit || previousOffset > entry.blockOffset) break;
    read.push_back(j);
    written += entry.dataLength;
    previousOffset = entry.blockOffset;
  }
  return read;
}

void PackedBlock_CheckModelHeader(const uint8_t* packed, size_t packedSize, uint16_t systemId,
                                  PackedLoadFindings& findings) {
  if (systemId == 0) return;
  const std::optional<ModelHeader> header = PackedBlock_ModelHeader(packed, packedSize);
  if (!header) {
    findings.named.push_back(
        "The packed block carries no model header, so it cannot be told whether it is "
        "of SystemID " +
        std::to_string(systemId) + ".");
  } else if (!ModelHeader_FitsSystemId(*header, systemId)) {
    findings.named.push_back("The packed block's model header is that of SystemID " +
                             std::to_string(ModelHeader_SystemId(*header)) + ", not of " +
                             std::to_string(systemId) + ".");
  }
}

void Settings_CheckSections(const uint8_t* settings, size_t size, const std::string& what,
                            PackedLoadFindings& findings) {
  const uint8_t variant = Flash_RecogniseLayout(settings, size);
  if (variant == kLayoutNone) return;
  std::string sections;
  for (const ChecksumCheck& check : Flash_CheckSectionChecksums(settings, size, Layout_Sections(variant))) {
    if (check.Ok()) continue;
    sections += (sections.empty() ? "" : ", ") + std::to_string(check.number) + " " +
                StoredComputed(check.stored, check.computed);
  }
  if (!sections.empty())
    findings.named.push_back("The " + what + " section checksums " + sections +
                             " do not match; a save recomputes them.");
}

std::string PackedLoad_NoticeText(const std::string& blockName, const PackedLoadFindings& findings) {
  std::string text = PackedLoad_WrongChecksumsText(blockName, findings);
  for (const std::string& sentence : findings.named) text += (text.empty() ? "" : " ") + sentence;
  if (!findings.named.empty() && findings.wrongChecksums.empty())
    text = "The " + blockName + " was loaded. " + text;
  return text;
}

std::string PackedLoad_FailureText(const std::string& unpackFailed, const PackedLoadFindings& findings) {
  return findings.Refused() ? unpackFailed + ": " + findings.refusal : unpackFailed;
}

std::string PackedLoad_WrongChecksumsText(const std::string& blockName, const PackedLoadFindings& findings) {
  if (findings.wrongChecksums.empty()) return {};
  std::string list;
  for (const std::string& wrong : findings.wrongChecksums) list += (list.empty() ? "" : ", ") + wrong;
  return "The " + blockName +
         " was loaded: its data pass their data CRCs, but these checksums of it are wrong: " + list + ".";
}

}  // namespace tolv
