// The packed flash-format block: 131,072 bytes holding a model header, a
// directory and CRC-protected blocks of compressed chunks. Every container
// carries the flash settings and the factory defaults in this form.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tolv {

inline constexpr size_t kPackedBlockSize = 0x20000;         // 131,072
inline constexpr size_t kFlashImageSize = 0x80000;          // 524,288
inline constexpr size_t kDefaultsSettingsSize = 0x60000;    // 393,216
inline constexpr size_t kEepromImageSize = 256;

// Writes the header template of systemId to the start of packed (which must
// have kPackedBlockSize bytes) and reports its length (32 or 36; 0 when the
// system ID has no template, nothing written) and whether the block takes the
// little-endian form (template 21031). For a system ID with a built-in model
// name, that name becomes the shared model-name text (see flash/model_list.h).
void Flash_WriteModelHeader(uint16_t systemId, uint8_t* packed, int32_t& headerLength, bool& littleEndian);

// True when systemId has a header template, i.e. can be packed.
bool Flash_HasModelHeader(uint16_t systemId);

// Packs the kFlashImageSize-byte settings image flash into packed
// (kPackedBlockSize bytes, fully rewritten): 64 blocks of one 8192-byte chunk.
// Returns false, with packed partly written but nothing outside it, when the
// system ID has no header template or the blocks do not fit.
bool PackFlashData(uint16_t systemId, const uint8_t* flash, uint8_t* packed);

// Packs kDefaultsSettingsSize bytes of default settings and kEepromImageSize
// bytes of default EEPROM into packed (kPackedBlockSize bytes). Same failures
// as PackFlashData.
bool PackDefaultsData(uint16_t systemId, const uint8_t* defaultsSettings, const uint8_t* defaultsEeprom,
                      uint8_t* packed);

// Unpacks a packed block of packedSize bytes into dst (dstCapacity bytes). The
// byte order is told by the first two bytes (1D 1F = little-endian form).
// Stops with true after the last directory entry, at an entry whose offset is
// below the previous one, or once 0x60000 bytes have been written. Returns
// false on a block CRC mismatch, a block header whose first word is not 8, a
// chunk the decoder rejects, and on any offset, length, chunk size or output
// that lies outside packed or dst; never reads or writes outside them. On
// false, dst may hold the blocks unpacked before the fault.
bool UnPackFlashData(const uint8_t* packed, size_t packedSize, uint8_t* dst, size_t dstCapacity);

}  // namespace tolv
