// The checks a load makes of the blocks it takes from a packed block.
#include "workspace/packed_load_check.h"

#include <cstdio>
#include <optional>

#include "flash/packed_block_check.h"

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
