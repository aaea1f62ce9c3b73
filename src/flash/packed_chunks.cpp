#include "flash/packed_chunks.h"

#include <algorithm>
#include <array>
#include <optional>

#include "codec/block_codec.h"
#include "codec/crc16.h"

namespace tolv::packed {
namespace {

constexpr size_t kLargestChunk = 0xFFFF;  // the uncompressed size is a 16-bit field

// A chunk of either form whose expansion differs in CRC from its bytes:
// taking the expansion instead of the copy changes the block's data CRC by
// change (its CRC difference carried through the data that follow it).
struct Alternative {
  size_t chunk;
  uint64_t end;  // where the chunk's data end within the block's data
  uint32_t crcDifference;
  uint32_t change = 0;
};

// Which alternatives to take so that their changes XOR to target, or nothing
// when no choice does. The changes are 16-bit vectors over GF(2); at most 16
// of them are independent, and the others are left as plain copies.
std::optional<std::vector<size_t>> ChooseAlternatives(const std::vector<Alternative>& alternatives,
                                                      uint32_t target) {
  // basis[b]: a combination with highest bit b; combo[b]: which pivots make it.
  std::array<uint32_t, 16> basis{};
  std::array<uint32_t, 16> combo{};
  std::vector<size_t> pivots;
  for (const Alternative& alternative : alternatives) {
    uint32_t value = alternative.change;
    uint32_t made = 0;
    for (int b = 15; b >= 0 && value != 0; --b) {
      if (!(value >> b & 1)) continue;
      if (basis[b] == 0) {
        pivots.push_back(alternative.chunk);
        basis[b] = value;
        combo[b] = made ^ (1u << (pivots.size() - 1));
        break;
      }
      value ^= basis[b];
      made ^= combo[b];
    }
  }
  uint32_t made = 0;
  for (int b = 15; b >= 0; --b) {
    if (!(target >> b & 1)) continue;
    if (basis[b] == 0) return std::nullopt;
    target ^= basis[b];
    made ^= combo[b];
  }
  std::vector<size_t> chosen;
  for (size_t p = 0; p < pivots.size(); ++p)
    if (made >> p & 1) chosen.push_back(pivots[p]);
  return chosen;
}

}  // namespace

bool AnyChunkOfEitherForm(const std::vector<ChunkView>& chunks) {
  return std::any_of(chunks.begin(), chunks.end(), [](const ChunkView& c) { return c.EitherForm(); });
}

bool ReadChunk(const ChunkView& chunk, bool expand, uint8_t* dst) {
  if (!expand) {
    std::copy_n(chunk.stored, chunk.size, dst);
    return true;
  }
  return Block_DecompressAs(chunk.stored, static_cast<int32_t>(chunk.storedSize), dst,
                            static_cast<int32_t>(chunk.size), StreamEnd::kWithinSource) != 0;
}

ChunkForms DecideChunkForms(const std::vector<ChunkView>& chunks, uint32_t blockDataCrc) {
  ChunkForms forms;
  forms.expand.assign(chunks.size(), true);
  // Room for the largest chunk the block holds (8 kB in a settings block),
  // rather than for the largest the field allows: this runs for every block.
  size_t largest = 0;
  for (const ChunkView& chunk : chunks) largest = std::max(largest, std::min(chunk.size, kLargestChunk));
  std::vector<uint8_t> scratch(largest);
  std::vector<Alternative> alternatives;
  // The data CRC with every chunk of either form taken as a plain copy.
  for (size_t i = 0; i < chunks.size(); ++i) {
    const ChunkView& chunk = chunks[i];
    const size_t size = chunk.size;
    if (size > kLargestChunk) {  // more than the 16-bit field can say
      forms.decodes = false;
      return forms;
    }
    const bool decodes = ReadChunk(chunk, true, scratch.data());
    if (chunk.EitherForm()) {
      forms.expand[i] = false;
      const uint32_t copyCrc = CRC16_Calc(chunk.stored, static_cast<int32_t>(size));
      const uint32_t expandedCrc = CRC16_Calc(scratch.data(), static_cast<int32_t>(size));
      if (decodes && expandedCrc != copyCrc)
        alternatives.push_back({i, forms.dataLength + size, copyCrc ^ expandedCrc});
    } else if (!decodes) {
      forms.decodes = false;
      return forms;
    }
    const uint8_t* data = forms.expand[i] ? scratch.data() : chunk.stored;
    forms.dataCrc = CRC16_Update(forms.dataCrc, data, static_cast<int32_t>(size));
    forms.dataLength += size;
  }
  if (!AnyChunkOfEitherForm(chunks)) return forms;
  // Each alternative's change reaches the end through the data after it.
  for (Alternative& alternative : alternatives)
    alternative.change = CRC16_Combine(alternative.crcDifference, 0, forms.dataLength - alternative.end);
  const std::optional<std::vector<size_t>> chosen =
      ChooseAlternatives(alternatives, forms.dataCrc ^ (blockDataCrc & 0xFFFF));
  if (!chosen) {
    forms.decided = false;
    return forms;
  }
  for (size_t i : *chosen) forms.expand[i] = true;
  forms.dataCrc = blockDataCrc & 0xFFFF;
  return forms;
}

}  // namespace tolv::packed
