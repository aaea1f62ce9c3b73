// The packed flash-format block: 131,072 bytes holding a model header, a
// directory and CRC-protected blocks of compressed chunks. Every container
// carries the flash settings and the factory defaults in this form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "flash/model_header.h"

namespace tolv {

inline constexpr size_t kPackedBlockSize = 0x20000;       // 131,072
inline constexpr size_t kFlashImageSize = 0x80000;        // 524,288
inline constexpr size_t kDefaultsSettingsSize = 0x60000;  // 393,216
inline constexpr size_t kEepromImageSize = 256;

// Writes the header template of systemId to the start of packed (which must
// have kPackedBlockSize bytes) and reports its length (32 or 36; 0 when the
// system ID has no template, nothing written) and whether the block takes the
// little-endian form (template 21031; left as it was when there is no
// template). For a system ID with a built-in model name, that name becomes the
// shared model-name text (see flash/model_list.h), template or not.
void Flash_WriteModelHeader(uint16_t systemId, uint8_t* packed, int32_t& headerLength, bool& littleEndian);

// True when systemId has a header template, i.e. can be packed without a
// model header of its own: 406, 1416, 10446 and the IDs sharing its template
// (10416, 12406), and 21031.
bool Flash_HasModelHeader(uint16_t systemId);

// True when the packed block (packedSize bytes) is in the little-endian form:
// it begins with 1D 1F. Any other start, or fewer than 2 bytes, is the
// big-endian form.
bool PackedBlock_IsLittleEndian(const uint8_t* packed, size_t packedSize);

// Packs the kFlashImageSize-byte settings image flash into packed
// (kPackedBlockSize bytes, fully rewritten on success): 64 blocks of one
// 8192-byte chunk, the first at offset 5120, each at a multiple of 1024.
// The block opens with the header template of systemId; a system ID without
// one takes ownHeader instead, when given and usable (ModelHeader_Usable):
// the header a block of that model carried, whose form it takes. The built-in
// templates always take precedence over ownHeader.
// Returns false with packed untouched (and the model-name text unchanged) when
// there is no header to write or the blocks do not fit into
// kPackedBlockSize bytes; nothing outside packed is ever written.
//
// The chunks are compressed on all cores (Block_CompressChunks); the block is
// the same bytes whatever the number of threads.
//
// Every chunk holds what Block_Compress gives for it: its stream, or a plain
// copy of its bytes when no stream fits into 32,762 bytes. A stream exactly as
// long as its chunk is written as the stream (a receiver expands every chunk);
// readers tell it from a plain copy by the block's data CRC (see
// flash/packed_chunks.h). Should that CRC not tell them apart, such streams
// are written with one zero byte after them, which the decoder ignores.
bool PackFlashData(uint16_t systemId, const uint8_t* flash, uint8_t* packed,
                   const ModelHeader* ownHeader = nullptr);

// Packs kDefaultsSettingsSize bytes of default settings and kEepromImageSize
// bytes of default EEPROM into packed (kPackedBlockSize bytes): block 0 at
// offset 1024 holds the settings in chunks of at most 32,762 bytes, block 1 the
// EEPROM as one chunk. Same header, failures and guarantees as PackFlashData.
bool PackDefaultsData(uint16_t systemId, const uint8_t* defaultsSettings, const uint8_t* defaultsEeprom,
                      uint8_t* packed, const ModelHeader* ownHeader = nullptr);

// Unpacks a packed block of packedSize bytes into dst (dstCapacity bytes). The
// byte order is told by the first two bytes (1D 1F = little-endian form); the
// low byte of the entry count is used, 0 meaning 64. Entries with block offset
// 0 or block CRC 0xFFFF are passed over. Stops with true after the last
// directory entry, at an entry whose offset is below the previous unpacked
// one, or once 0x60000 bytes have been written (so at most 0x60000 bytes plus
// one block's data are written). Returns false on a block CRC mismatch, a
// block header whose first word is not 8, a chunk the decoder rejects, and on
// any directory entry, block, chunk header or chunk data that lies outside
// packed, or output that would pass dstCapacity; never reads or writes outside
// them. A chunk whose stored size equals its uncompressed size is a plain copy
// or a stream of that length: the block's data CRC decides (a plain copy when
// its bytes give it, else the expansion must), and a block whose data CRC
// neither form gives is refused as damaged. Otherwise data CRCs, and header
// and chunk CRCs always, are not checked here (see
// flash/packed_block_check.h). On false, dst may hold the blocks unpacked
// before the fault; callers that must not lose an image unpack into a scratch
// buffer.
bool UnPackFlashData(const uint8_t* packed, size_t packedSize, uint8_t* dst, size_t dstCapacity);

// The same, also listing in unpackedEntries (cleared first) the directory
// entries whose blocks were unpacked, by index in the order unpacked; on
// false, those unpacked before the fault.
bool UnPackFlashData(const uint8_t* packed, size_t packedSize, uint8_t* dst, size_t dstCapacity,
                     std::vector<int>& unpackedEntries);

// The default EEPROM of a packed defaults block (packedSize bytes): the 256
// bytes of its second directory entry, which UnPackFlashData does not reach.
// Writes kEepromImageSize bytes to eeprom and returns true only when the entry
// is there, its block CRC holds, its header word is 8 and its chunks decode
// to exactly the 256 bytes it states with its data CRC
// (PackedEntryCheck::DataSound); otherwise writes nothing. Wrong chunk or
// block header CRCs do not stop it: the data CRC proves the data (callers
// that name such checksums check the entry themselves). Never reads outside
// packed.
bool UnPackDefaultsEeprom(const uint8_t* packed, size_t packedSize, uint8_t* eeprom);

// True when the directory of the packed block (packedSize bytes) names at
// least one block: an entry within the entry count (read as UnPackFlashData
// reads it) and inside packed whose block offset is not 0 and whose block CRC
// is not 0xFFFF. An erased or zeroed block names none, so UnPackFlashData
// would succeed on it without writing anything. Never reads outside packed.
bool PackedBlock_NamesABlock(const uint8_t* packed, size_t packedSize);

}  // namespace tolv
