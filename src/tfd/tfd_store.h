// The TFD container: a receiver's data as numbered blocks, each block split
// into chunks of at most 32762 bytes that are stored or compressed and
// protected by a CRC-16 each.
//
// File form (every number a big-endian 16-bit word):
//   header  0 length 8 | 2 CRC-16 of bytes 4..9 | 4 system ID | 6 fixed 1 | 8 block count
//   block   0 length (data + 6) | 2 CRC-16 of bytes 4..end | 4 type | 6 uncompressed size | 8 data
// One file "block" is one chunk; the chunks of one type, concatenated in file
// order, give that type's content. A chunk is stored when its data length
// equals its uncompressed size, otherwise its data are a compressed stream
// (codec/block_codec.h) that expands to exactly the uncompressed size.
//
// The library keeps one store of 256 slots and one image buffer for the whole
// run. Every operation exists as a worker that is given the store explicitly
// (tests and tools use these) and as a wrapper of the same name without the
// store argument that works on the process-wide store. Nothing here shows a
// message; outcomes are result codes (results/result_codes.h). Not thread-safe:
// the process-wide store is used from one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolv {

inline constexpr int kTfdSlotCount = 256;
inline constexpr size_t kTfdHeaderSize = 10;
inline constexpr size_t kTfdBlockHeaderSize = 8;
// Largest chunk the builder writes; a block then fits 32770 bytes.
inline constexpr int32_t kTfdMaxChunkSize = 32762;
// Starting size of the library's image buffer (8 MiB); it grows when needed.
inline constexpr size_t kTfdImageBufferSize = 8388608;
// The most one block type may expand to: what a receiver holds of its largest
// component, the firmware (the link's firmware work area, 8 MiB).
inline constexpr uint64_t kTfdMaxBlockSize = 8388608;
// The most all block types of a file may expand to together (the firmware
// and every other component fit with room to spare), and the largest file
// read: those bytes stored, with a block header per chunk.
inline constexpr uint64_t kTfdMaxTotalSize = 16u << 20;
inline constexpr uint64_t kTfdMaxFileSize = kTfdMaxTotalSize + kTfdMaxTotalSize / 4096 + kTfdHeaderSize;

// One slot of the block store.
struct tTFDBlock {
  uint8_t present = 0;    // 0 or 1
  int32_t size = 0;       // bytes held; always data.size()
  int32_t loadTotal = 0;  // sum of the uncompressed sizes of the chunks loaded into the slot
  std::vector<uint8_t> data;
};

// The 256 slots, indexed by block type.
using TfdStore = std::array<tTFDBlock, kTfdSlotCount>;

// The 10-byte file header as read.
struct TfdHeader {
  uint16_t headerLength = 0;  // 8 in a valid file
  uint16_t headerCrc = 0;     // as stored
  uint16_t computedCrc = 0;   // CRC-16 of bytes 4..9
  uint16_t systemId = 0;
  uint16_t fixed = 0;  // written as 1, not checked
  uint16_t blockCount = 0;
};

// One block (chunk) of a file as found by TFD_Scan.
struct TfdFileBlock {
  size_t offset = 0;         // of its length field from the start of the file
  uint16_t blockLength = 0;  // bytes after the length field: data length + 6
  uint16_t storedCrc = 0;
  uint16_t computedCrc = 0;  // CRC-16 of the blockLength - 2 bytes from offset + 4
  uint16_t blockType = 0;
  uint16_t uncompressedSize = 0;
  size_t dataLength() const { return blockLength - 6u; }
  bool stored() const { return dataLength() == uncompressedSize; }
  bool crcOk() const { return storedCrc == computedCrc; }
};

struct TfdFileInfo {
  TfdHeader header;
  std::vector<TfdFileBlock> blocks;  // in file order, as far as the scan got
  size_t bytesAfterBlocks = 0;       // what the file holds after its last counted block
};

// ---------------------------------------------------------------------------
// Workers: given the store (and image) explicitly.

// Empties every slot: present 0, size 0, load total 0, data released.
void TFD_Clear(TfdStore& store);

// Reads the structure of the TFD image (imageSize bytes) into info without
// expanding anything: the header, then every block's place, length, type,
// uncompressed size and stored and computed CRC. Returns 0, or the first fault
// in file order:
//   kTfdTruncated (fewer than 10 bytes, or a block header or data running past
//     the end of the image, or fewer blocks than the header counts),
//   kTfdInvalidHeaderLength, kTfdInvalidHeaderCrc (checked in that order
//     before any block), kTfdInvalidBlockLength (below 6), kTfdInvalidBlockType
//     (256 or more), kTfdBeyondReceiver (one type's chunks add up to more
//     than kTfdMaxBlockSize bytes, or all to more than kTfdMaxTotalSize).
// Block CRCs are computed but not judged here. Bytes after the last counted
// block are counted in info.bytesAfterBlocks. Never reads outside the image.
int32_t TFD_Scan(const uint8_t* image, size_t imageSize, TfdFileInfo& info);

// Fills store from a TFD image held in memory: every block's CRC is checked
// and its chunk copied (stored) or expanded (compressed) and appended to the
// slot of its type, so a type whose chunks come in several runs keeps all of
// them in file order. Returns 0, a TFD_Scan code, kTfdInvalidDataCrc or
// kTfdDecompressFailed (also for a compressed chunk that ends before its
// uncompressed size is reached). On any failure the store is left empty; on
// success it holds exactly the file's block types. header (optional) receives
// the file header whenever the image had 10 bytes; bytesAfterBlocks
// (optional) what the image holds after its last counted block.
int32_t TFD_LoadImage(TfdStore& store, const uint8_t* image, size_t imageSize, TfdHeader* header = nullptr,
                      size_t* bytesAfterBlocks = nullptr);

// TFD_LoadImage of the file fileName. An empty name or a missing file gives
// kTfdFileMissing, a file larger than kTfdMaxFileSize kTfdBeyondReceiver
// before anything is read (store emptied). Throws FileError when the file
// exists but cannot be read (store emptied).
int32_t TFD_Load(TfdStore& store, const std::string& fileName, TfdHeader* header = nullptr,
                 size_t* bytesAfterBlocks = nullptr);

// Builds the TFD image of store for systemId into image (resized to exactly
// the image size; its capacity is reused). Present slots in increasing type,
// each as chunks of at most kTfdMaxChunkSize bytes (a slot of size 0 gives one
// empty chunk); a chunk that does not compress is stored. The chunks are
// compressed on all cores (Block_CompressChunks, codec/chunk_compression.h);
// the output depends only on the store and systemId, whatever the number of
// threads. Returns 0, or kTfdTooManyBlocks when the
// chunks do not fit the 16-bit block count or the image would exceed 2^31 - 1
// bytes (image then empty).
int32_t TFD_BuildImage(const TfdStore& store, uint16_t systemId, std::vector<uint8_t>& image);

// The same image into the caller's buffer dst of dstCapacity bytes; imageSize
// receives its length. Returns 0; kTfdImageTooLarge, with imageSize 0, when
// the image is longer than dstCapacity (nothing is written beyond
// dstCapacity); or kTfdTooManyBlocks.
int32_t TFD_BuildImage(const TfdStore& store, uint8_t* dst, size_t dstCapacity, int32_t& imageSize,
                       uint16_t systemId);

// Builds the image of store and saves it as fileName with SaveFileAtomically
// (an existing file survives any failure). Returns 0 or kTfdTooManyBlocks
// (nothing written). Throws FileError when the file cannot be written.
int32_t TFD_SaveToFile(const TfdStore& store, const std::string& fileName, uint16_t systemId);

// Replaces slot blockType by a copy of srcSize bytes from src (src may be null
// when srcSize is 0) and marks it present; the load total is not touched.
// Returns 0, or kTfdBlockTooLarge for more than 2^31 - 1 bytes (slot unchanged).
int32_t TFD_SetBlock(TfdStore& store, uint8_t blockType, const uint8_t* src, size_t srcSize);

// The size of slot blockType when present, else 0.
int32_t TFD_GetBlockSize(const TfdStore& store, uint8_t blockType);

// Copies slot blockType (TFD_GetBlockSize bytes) to dst of dstCapacity bytes.
// Returns 0; kTfdBlockNotPresent (2145) when the slot is not present (no
// caller shows its text, which the result table does not hold);
// kTfdDestinationTooSmall when dstCapacity is below its size. Nothing is
// copied on failure.
int32_t TFD_GetBlock(const TfdStore& store, uint8_t blockType, uint8_t* dst, size_t dstCapacity);

// ---------------------------------------------------------------------------
// Wrappers: the same operations on the library's one store.

// The process-wide store, empty at start.
TfdStore& TFD_Store();

void TFD_Clear();
int32_t TFD_Load(const std::string& fileName, TfdHeader* header = nullptr);
int32_t TFD_SaveToFile(const std::string& fileName, uint16_t systemId);
int32_t TFD_SetBlock(uint8_t blockType, const uint8_t* src, size_t srcSize);
int32_t TFD_GetBlockSize(uint8_t blockType);
int32_t TFD_GetBlock(uint8_t blockType, uint8_t* dst, size_t dstCapacity);
int32_t TFD_BuildImage(uint8_t* dst, size_t dstCapacity, int32_t& imageSize, uint16_t systemId);

// Builds the image of the process-wide store into the library's image buffer
// and returns it: an upload sends image.data() .. image.size(). The buffer
// starts at kTfdImageBufferSize (8 MiB) and grows to the size an image needs
// (a large firmware), so this never refuses for lack of room. The reference
// stays valid for the whole run; its contents change with the next
// TFD_BuildImage or TFD_SaveToFile of the process-wide store. Returns the
// empty buffer when the image has too many chunks for one file (see the worker),
// with result set to kTfdTooManyBlocks; result is 0 otherwise.
const std::vector<uint8_t>& TFD_BuildImage(uint16_t systemId, int32_t& result);

}  // namespace tolv
