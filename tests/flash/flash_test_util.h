// Shared helpers of the flash tests: test images and hand edits of packed blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolv::test {

// CRC-16/ARC computed bit by bit, independent of the table-driven routine
// under test.
uint16_t BitwiseCrc16(const uint8_t* data, size_t count);

// A 524,288-byte image that looks like receiver settings: service and
// transponder records with names and numbers, erased (0xFF) and zeroed areas,
// a little noise. It packs comfortably into one packed block.
std::vector<uint8_t> SettingsLikeImage(uint32_t seed, size_t size = 0x80000);

// size bytes (noise, then zeros) whose compressed stream is exactly
// streamLength bytes long and is a stream, not the compressor's plain copy;
// searched for over the length of the noise and a seed.
std::optional<std::vector<uint8_t>> DataWithStreamLength(size_t size, size_t streamLength);

// Fields of directory entry j of a packed block in the big-endian form.
uint32_t EntryBlockOffset(const std::vector<uint8_t>& packed, int j);
uint32_t EntryBlockLength(const std::vector<uint8_t>& packed, int j);
void SetEntryField32(std::vector<uint8_t>& packed, int j, size_t fieldOffset, uint32_t value);
void SetEntryBlockCrc(std::vector<uint8_t>& packed, int j, uint16_t crc);
void SetEntryDataCrc(std::vector<uint8_t>& packed, int j, uint16_t crc);

// Recomputes the block CRC of entry j after its block was edited.
void RefreshBlockCrc(std::vector<uint8_t>& packed, int j);

}  // namespace tolv::test
