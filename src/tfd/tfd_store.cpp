#include "tfd/tfd_store.h"

#include <algorithm>
#include <cstring>

#include "codec/block_codec.h"
#include "codec/chunk_compression.h"
#include "codec/crc16.h"
#include "common/file_io.h"
#include "results/result_codes.h"

namespace tolv {

namespace {

constexpr uint64_t kInt32Max = 0x7FFFFFFF;
// The slots' buffers are reserved up front only while the file's blocks add
// up to at most this size; beyond it they grow with the data actually
// expanded, so a small file that merely claims huge blocks cannot make the
// loader allocate them.
constexpr uint64_t kReserveLimit = 64u << 20;
// The 16-bit block count of the file header.
constexpr uint64_t kMaxFileBlocks = 0xFFFF;

void ReadHeader(const uint8_t* image, TfdHeader& header) {
  header.headerLength = static_cast<uint16_t>(ReadBE16(image));
  header.headerCrc = static_cast<uint16_t>(ReadBE16(image + 2));
  header.computedCrc = static_cast<uint16_t>(CRC16_Calc(image + 4, 6));
  header.systemId = static_cast<uint16_t>(ReadBE16(image + 4));
  header.fixed = static_cast<uint16_t>(ReadBE16(image + 6));
  header.blockCount = static_cast<uint16_t>(ReadBE16(image + 8));
}

// Reads the block at offset (which lies inside the image) into block, or
// returns the fault that stops the scan there.
int32_t ScanBlock(const uint8_t* image, size_t imageSize, size_t offset, TfdFileBlock& block) {
  // Block header: length, CRC, type, uncompressed size; then the data.
  if (imageSize - offset < kTfdBlockHeaderSize) return result::kTfdTruncated;
  const uint8_t* p = image + offset;
  block.offset = offset;
  block.blockLength = static_cast<uint16_t>(ReadBE16(p));
  block.storedCrc = static_cast<uint16_t>(ReadBE16(p + 2));
  block.blockType = static_cast<uint16_t>(ReadBE16(p + 4));
  block.uncompressedSize = static_cast<uint16_t>(ReadBE16(p + 6));
  if (block.blockLength < 6) return result::kTfdInvalidBlockLength;
  if (block.blockType >= kTfdSlotCount) return result::kTfdInvalidBlockType;
  if (imageSize - offset - 2 < block.blockLength) return result::kTfdTruncated;
  // The CRC covers type, uncompressed size and data.
  block.computedCrc = static_cast<uint16_t>(CRC16_Calc(p + 4, block.blockLength - 2));
  return result::kOk;
}

// Appends the chunk of block to slot: a copy when stored, else its expansion.
int32_t AppendChunk(const uint8_t* image, const TfdFileBlock& block, tTFDBlock& slot) {
  const uint8_t* data = image + block.offset + kTfdBlockHeaderSize;
  const size_t oldSize = slot.data.size();
  slot.data.resize(oldSize + block.uncompressedSize);
  uint8_t* dst = slot.data.data() + oldSize;
  if (block.uncompressedSize == 0) {
    // Nothing to add (an empty slot's buffer may not even exist).
  } else if (block.stored()) {
    std::memcpy(dst, data, block.uncompressedSize);
  } else if (Block_DecompressAs(data, static_cast<int32_t>(block.dataLength()), dst, block.uncompressedSize,
                                StreamEnd::kWithinSource) == 0) {
    return result::kTfdDecompressFailed;
  }
  slot.size = static_cast<int32_t>(slot.data.size());
  return result::kOk;
}

// Chunks the builder writes for a slot of size bytes (at least one).
uint64_t ChunkCount(const tTFDBlock& slot) {
  const uint64_t size = slot.data.size();
  return size == 0 ? 1 : (size + kTfdMaxChunkSize - 1) / kTfdMaxChunkSize;
}

// One chunk of the image to build: its bytes and its block type.
struct ImageChunk {
  BlockChunk bytes;
  uint16_t blockType = 0;
};

// The chunks of every present slot in increasing type, each slot as one run
// of chunks of at most kTfdMaxChunkSize bytes (a slot of size 0 gives one
// empty chunk).
std::vector<ImageChunk> ChunksOf(const TfdStore& store) {
  std::vector<ImageChunk> chunks;
  for (int type = 0; type < kTfdSlotCount; ++type) {
    const tTFDBlock& slot = store[type];
    if (!slot.present) continue;
    size_t done = 0;
    do {
      const size_t chunkSize = std::min<size_t>(slot.data.size() - done, kTfdMaxChunkSize);
      chunks.push_back(
          {{slot.data.data() + done, static_cast<int32_t>(chunkSize)}, static_cast<uint16_t>(type)});
      done += chunkSize;
    } while (done < slot.data.size());
  }
  return chunks;
}

// Appends one chunk as a block, given what Block_Compress gave for it.
void AppendBlock(const ImageChunk& chunk, const uint8_t* compressed, int32_t dataLength,
                 std::vector<uint8_t>& image) {
  const int32_t chunkSize = chunk.bytes.size;
  // A data length equal to the chunk length always means stored: the chunk's
  // own bytes, whatever the compressor produced.
  const uint8_t* data = dataLength == chunkSize ? chunk.bytes.data : compressed;
  uint8_t header[kTfdBlockHeaderSize];
  WriteBE16(header, static_cast<uint32_t>(dataLength + 6));
  WriteBE16(header + 4, chunk.blockType);
  WriteBE16(header + 6, static_cast<uint32_t>(chunkSize));
  // The CRC covers type, uncompressed size and data.
  WriteBE16(header + 2, CRC16_Update(CRC16_Calc(header + 4, 4), data, dataLength));
  image.insert(image.end(), header, header + kTfdBlockHeaderSize);
  if (dataLength > 0) image.insert(image.end(), data, data + dataLength);
}

void WriteHeader(uint8_t* dst, uint16_t systemId, uint16_t blockCount) {
  // Length 8, CRC of bytes 4..9, system ID, the fixed 1, block count.
  WriteBE16(dst, 8);
  WriteBE16(dst + 4, systemId);
  WriteBE16(dst + 6, 1);
  WriteBE16(dst + 8, blockCount);
  WriteBE16(dst + 2, CRC16_Calc(dst + 4, 6));
}

std::vector<uint8_t>& LibraryImageBuffer() {
  static std::vector<uint8_t> buffer = [] {
    std::vector<uint8_t> b;
    b.reserve(kTfdImageBufferSize);
    return b;
  }();
  return buffer;
}

}  // namespace

void TFD_Clear(TfdStore& store) {
  for (tTFDBlock& slot : store) {
    slot.present = 0;
    slot.size = 0;
    slot.loadTotal = 0;
    std::vector<uint8_t>().swap(slot.data);
  }
}

int32_t TFD_Scan(const uint8_t* image, size_t imageSize, TfdFileInfo& info) {
  info = TfdFileInfo{};
  if (image == nullptr || imageSize < kTfdHeaderSize) return result::kTfdTruncated;
  ReadHeader(image, info.header);
  if (info.header.headerLength != 8) return result::kTfdInvalidHeaderLength;
  if (info.header.headerCrc != info.header.computedCrc) return result::kTfdInvalidHeaderCrc;
  // The blocks follow the header one after another without gaps.
  info.blocks.reserve(std::min<size_t>(info.header.blockCount, (imageSize - kTfdHeaderSize) / 8));
  uint64_t total = 0;
  std::array<uint64_t, kTfdSlotCount> totals{};
  size_t offset = kTfdHeaderSize;
  for (uint32_t i = 0; i < info.header.blockCount; ++i) {
    TfdFileBlock block;
    const int32_t r = ScanBlock(image, imageSize, offset, block);
    if (r != result::kOk) return r;
    // What a block may expand to is capped at what a receiver holds.
    total += block.uncompressedSize;
    totals[block.blockType] += block.uncompressedSize;
    if (totals[block.blockType] > kTfdMaxBlockSize || total > kTfdMaxTotalSize)
      return result::kTfdBeyondReceiver;
    info.blocks.push_back(block);
    offset += 2u + block.blockLength;
  }
  info.bytesAfterBlocks = imageSize - offset;
  return result::kOk;
}

int32_t TFD_LoadImage(TfdStore& store, const uint8_t* image, size_t imageSize, TfdHeader* header,
                      size_t* bytesAfterBlocks) {
  TFD_Clear(store);
  TfdFileInfo info;
  int32_t r = TFD_Scan(image, imageSize, info);
  if (header != nullptr && imageSize >= kTfdHeaderSize) *header = info.header;
  if (bytesAfterBlocks != nullptr) *bytesAfterBlocks = info.bytesAfterBlocks;
  if (r != result::kOk) return r;
  std::array<uint64_t, kTfdSlotCount> totals{};
  uint64_t fileTotal = 0;
  for (const TfdFileBlock& block : info.blocks) {
    totals[block.blockType] += block.uncompressedSize;
    fileTotal += block.uncompressedSize;
  }
  if (fileTotal <= kReserveLimit) {
    for (int type = 0; type < kTfdSlotCount; ++type) store[type].data.reserve(totals[type]);
  }
  // Every chunk is checked and appended after what its type holds so far.
  for (const TfdFileBlock& block : info.blocks) {
    tTFDBlock& slot = store[block.blockType];
    if (!block.crcOk()) r = result::kTfdInvalidDataCrc;
    if (r == result::kOk) r = AppendChunk(image, block, slot);
    if (r != result::kOk) {
      TFD_Clear(store);
      return r;
    }
    slot.present = 1;
    slot.loadTotal = static_cast<int32_t>(totals[block.blockType]);
  }
  return result::kOk;
}

int32_t TFD_Load(TfdStore& store, const std::string& fileName, TfdHeader* header, size_t* bytesAfterBlocks) {
  TFD_Clear(store);
  if (fileName.empty() || !FileExists(fileName)) return result::kTfdFileMissing;
  // The size first: a file larger than any a receiver's blocks make is not read.
  if (FileSizeOf(fileName) > kTfdMaxFileSize) return result::kTfdBeyondReceiver;
  const std::vector<uint8_t> file = ReadFileBytes(fileName);
  return TFD_LoadImage(store, file.data(), file.size(), header, bytesAfterBlocks);
}

int32_t TFD_BuildImage(const TfdStore& store, uint16_t systemId, std::vector<uint8_t>& image) {
  image.clear();
  uint64_t blockCount = 0;
  // Room for the image as if every chunk were stored: a close guess.
  uint64_t estimatedSize = kTfdHeaderSize;
  for (const tTFDBlock& slot : store) {
    if (!slot.present) continue;
    blockCount += ChunkCount(slot);
    estimatedSize += ChunkCount(slot) * kTfdBlockHeaderSize + std::max<uint64_t>(slot.data.size(), 7);
  }
  if (blockCount > kMaxFileBlocks) return result::kTfdTooManyBlocks;
  image.reserve(std::min(estimatedSize, kInt32Max));
  image.resize(kTfdHeaderSize);
  // The chunks are compressed on all cores and appended in order.
  const std::vector<ImageChunk> chunks = ChunksOf(store);
  std::vector<BlockChunk> sources(chunks.size());
  std::transform(chunks.begin(), chunks.end(), sources.begin(), [](const ImageChunk& c) { return c.bytes; });
  const bool fits = Block_CompressChunks(sources, [&](size_t index, const uint8_t* bytes, int32_t size) {
    AppendBlock(chunks[index], bytes, size, image);
    return image.size() <= kInt32Max;
  });
  if (!fits) {
    image.clear();
    return result::kTfdTooManyBlocks;
  }
  WriteHeader(image.data(), systemId, static_cast<uint16_t>(blockCount));
  return result::kOk;
}

int32_t TFD_BuildImage(const TfdStore& store, uint8_t* dst, size_t dstCapacity, int32_t& imageSize,
                       uint16_t systemId) {
  imageSize = 0;
  std::vector<uint8_t> image;
  const int32_t r = TFD_BuildImage(store, systemId, image);
  if (r != result::kOk) return r;
  if (image.size() > dstCapacity || dst == nullptr) return result::kTfdImageTooLarge;
  std::memcpy(dst, image.data(), image.size());
  imageSize = static_cast<int32_t>(image.size());
  return result::kOk;
}

int32_t TFD_SaveToFile(const TfdStore& store, const std::string& fileName, uint16_t systemId) {
  std::vector<uint8_t> image;
  const int32_t r = TFD_BuildImage(store, systemId, image);
  if (r != result::kOk) return r;
  SaveFileAtomically(fileName, image);
  return result::kOk;
}

int32_t TFD_SetBlock(TfdStore& store, uint8_t blockType, const uint8_t* src, size_t srcSize) {
  if (srcSize > kInt32Max) return result::kTfdBlockTooLarge;
  tTFDBlock& slot = store[blockType];
  if (srcSize == 0) {
    slot.data.clear();
  } else {
    slot.data.assign(src, src + srcSize);
  }
  slot.size = static_cast<int32_t>(srcSize);
  slot.present = 1;
  return result::kOk;
}

int32_t TFD_GetBlockSize(const TfdStore& store, uint8_t blockType) {
  const tTFDBlock& slot = store[blockType];
  return slot.present ? slot.size : 0;
}

int32_t TFD_GetBlock(const TfdStore& store, uint8_t blockType, uint8_t* dst, size_t dstCapacity) {
  const tTFDBlock& slot = store[blockType];
  if (!slot.present) return result::kTfdBlockNotPresent;
  if (slot.data.size() > dstCapacity) return result::kTfdDestinationTooSmall;
  if (!slot.data.empty()) std::memcpy(dst, slot.data.data(), slot.data.size());
  return result::kOk;
}

TfdStore& TFD_Store() {
  static TfdStore store;
  return store;
}

void TFD_Clear() { TFD_Clear(TFD_Store()); }

int32_t TFD_Load(const std::string& fileName, TfdHeader* header) {
  return TFD_Load(TFD_Store(), fileName, header);
}

int32_t TFD_SaveToFile(const std::string& fileName, uint16_t systemId) {
  std::vector<uint8_t>& image = LibraryImageBuffer();
  const int32_t r = TFD_BuildImage(TFD_Store(), systemId, image);
  if (r != result::kOk) return r;
  SaveFileAtomically(fileName, image);
  return result::kOk;
}

int32_t TFD_SetBlock(uint8_t blockType, const uint8_t* src, size_t srcSize) {
  return TFD_SetBlock(TFD_Store(), blockType, src, srcSize);
}

int32_t TFD_GetBlockSize(uint8_t blockType) { return TFD_GetBlockSize(TFD_Store(), blockType); }

int32_t TFD_GetBlock(uint8_t blockType, uint8_t* dst, size_t dstCapacity) {
  return TFD_GetBlock(TFD_Store(), blockType, dst, dstCapacity);
}

int32_t TFD_BuildImage(uint8_t* dst, size_t dstCapacity, int32_t& imageSize, uint16_t systemId) {
  return TFD_BuildImage(TFD_Store(), dst, dstCapacity, imageSize, systemId);
}

const std::vector<uint8_t>& TFD_BuildImage(uint16_t systemId, int32_t& result) {
  std::vector<uint8_t>& image = LibraryImageBuffer();
  result = TFD_BuildImage(TFD_Store(), systemId, image);
  return image;
}

}  // namespace tolv
