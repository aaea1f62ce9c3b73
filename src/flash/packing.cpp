#include "flash/packing.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <utility>
#include <vector>

#include "codec/block_codec.h"
#include "codec/chunk_compression.h"
#include "codec/crc16.h"
#include "flash/model_header_internal.h"
#include "flash/packed_chunks.h"
#include "flash/packed_format.h"

namespace tolv {
namespace {

using packed::DirectoryEntry;

constexpr size_t kSettingsChunkSize = 8192;
constexpr size_t kSettingsBlockCount = kFlashImageSize / kSettingsChunkSize;  // 64
constexpr size_t kSettingsFirstBlock = 5120;
constexpr size_t kDefaultsChunkSize = static_cast<size_t>(kBlockMaxStreamSize);  // 32,762
constexpr size_t kDefaultsFirstBlock = 1024;

size_t AlignUp(size_t offset) {
  return (offset + packed::kBlockAlignment - 1) / packed::kBlockAlignment * packed::kBlockAlignment;
}

// Builds a packed block in a scratch buffer of its own, so that a failure
// leaves the caller's block as it was.
class PackedBlockWriter {
 public:
  PackedBlockWriter(const packed::HeaderTemplate& header, size_t firstBlockOffset)
      : block_(kPackedBlockSize, 0x00),
        form_(packed::FormOf(header.littleEndian)),
        next_(firstBlockOffset),
        chunkBuffer_(static_cast<size_t>(Block_CompressBound(kDefaultsChunkSize)) + 1) {
    // The model header template opens the block.
    std::copy(header.bytes.begin(), header.bytes.end(), block_.begin());
  }

  // The bytes of a block to come, in chunks of at most chunkSize bytes.
  struct Run {
    const uint8_t* source;
    size_t sourceSize;
    size_t chunkSize;
  };
  // Compresses the chunks of the blocks to come on all cores, before AddBlock
  // asks for them one by one (see codec/chunk_compression.h).
  void CompressAhead(std::initializer_list<Run> runs);

  // Adds a block carrying sourceSize bytes in chunks of at most chunkSize
  // bytes, at the next multiple of 1024. False when it does not fit.
  bool AddBlock(const uint8_t* source, size_t sourceSize, size_t chunkSize);

  // Writes the entry count and the directory, then the block to packed.
  void Finish(uint8_t* packed);

 private:
  // The chunks of the block being written: where they lie in block_, and
  // which of them are streams.
  struct WrittenChunks {
    std::vector<packed::ChunkView> views;
    std::vector<bool> streams;
  };

  enum class Outcome { kWritten, kNoRoom, kAmbiguous };
  Outcome WriteBlock(const uint8_t* source, size_t sourceSize, size_t chunkSize, bool padStreams,
                     DirectoryEntry& entry);
  bool AddChunk(const uint8_t* source, size_t size, bool padStream, size_t& position, WrittenChunks& written);
  // Puts what Block_Compress gives for the chunk into chunkBuffer_: the result
  // compressed ahead, else compressed now. Returns its length.
  int32_t CompressChunk(const uint8_t* source, size_t size);

  std::vector<uint8_t> block_;
  packed::Form form_;
  size_t next_;
  std::vector<DirectoryEntry> directory_;
  std::vector<uint8_t> chunkBuffer_;
  // Results of CompressAhead by the chunk's first byte and size.
  std::map<std::pair<const uint8_t*, size_t>, std::vector<uint8_t>> ahead_;
};

void PackedBlockWriter::CompressAhead(std::initializer_list<Run> runs) {
  std::vector<BlockChunk> chunks;
  for (const Run& run : runs) {
    for (size_t done = 0; done < run.sourceSize; done += run.chunkSize)
      chunks.push_back(
          {run.source + done, static_cast<int32_t>(std::min(run.chunkSize, run.sourceSize - done))});
  }
  Block_CompressChunks(chunks, [&](size_t index, const uint8_t* bytes, int32_t size) {
    const BlockChunk& chunk = chunks[index];
    ahead_[{chunk.data, static_cast<size_t>(chunk.size)}].assign(bytes, bytes + std::max<int32_t>(size, 0));
    return true;
  });
}

int32_t PackedBlockWriter::CompressChunk(const uint8_t* source, size_t size) {
  const auto found = ahead_.find({source, size});
  if (found == ahead_.end() || found->second.size() > chunkBuffer_.size()) {
    return Block_Compress(source, static_cast<int32_t>(size), chunkBuffer_.data());
  }
  std::copy(found->second.begin(), found->second.end(), chunkBuffer_.begin());
  return static_cast<int32_t>(found->second.size());
}

// True when a reader tells every chunk's form as it was written: the chunks
// whose stored size equals their uncompressed size are read as plain copies
// or expanded as the block's data CRC decides.
bool ReadsAsWritten(const std::vector<packed::ChunkView>& views, const std::vector<bool>& streams,
                    uint32_t dataCrc) {
  if (!packed::AnyChunkOfEitherForm(views)) return true;
  const packed::ChunkForms forms = packed::DecideChunkForms(views, dataCrc);
  return forms.decodes && forms.decided && forms.expand == streams;
}

bool PackedBlockWriter::AddBlock(const uint8_t* source, size_t sourceSize, size_t chunkSize) {
  // A stream that comes out exactly as long as its chunk is stored as it is,
  // as the receiver expands it. Only when the data CRC cannot tell it from a
  // plain copy (a CRC coincidence) is the block written again with one zero
  // byte after each such stream: the decoder ignores surplus bytes, and the
  // stored size then says "stream".
  DirectoryEntry entry;
  Outcome outcome = WriteBlock(source, sourceSize, chunkSize, false, entry);
  if (outcome == Outcome::kAmbiguous) outcome = WriteBlock(source, sourceSize, chunkSize, true, entry);
  if (outcome != Outcome::kWritten) return false;
  directory_.push_back(entry);
  next_ = AlignUp(entry.blockOffset + entry.blockLength);
  return true;
}

// Writes the block at next_. kAmbiguous (never with padStreams) when it would
// not read back as written.
PackedBlockWriter::Outcome PackedBlockWriter::WriteBlock(const uint8_t* source, size_t sourceSize,
                                                         size_t chunkSize, bool padStreams,
                                                         DirectoryEntry& entry) {
  const size_t blockOffset = next_;
  if (blockOffset > kPackedBlockSize || kPackedBlockSize - blockOffset < packed::kBlockHeaderSize)
    return Outcome::kNoRoom;
  std::fill(block_.begin() + static_cast<std::ptrdiff_t>(blockOffset), block_.end(), uint8_t{0});
  size_t position = blockOffset + packed::kBlockHeaderSize;
  WrittenChunks written;
  for (size_t done = 0; done < sourceSize; done += chunkSize) {
    if (!AddChunk(source + done, std::min(chunkSize, sourceSize - done), padStreams, position, written))
      return Outcome::kNoRoom;
  }
  // Block header: 8 header bytes follow; their CRC covers FFFF, 1 and the chunk count.
  uint8_t* header = block_.data() + blockOffset;
  WriteBE16(header, packed::kBlockHeaderWord);
  WriteBE16(header + 4, 0xFFFF);
  WriteBE16(header + 6, 1);
  WriteBE16(header + 8, static_cast<uint32_t>(written.views.size()));
  WriteBE16(header + 2, CRC16_Calc(header + 4, 6));

  const size_t blockLength = position - blockOffset;
  entry.blockCrc = CRC16_Calc(header, static_cast<int32_t>(blockLength));
  entry.dataCrc = CRC16_Calc(source, static_cast<int32_t>(sourceSize));
  entry.blockOffset = static_cast<uint32_t>(blockOffset);
  entry.blockLength = static_cast<uint32_t>(blockLength);
  entry.dataLength = static_cast<uint32_t>(sourceSize);
  if (padStreams || ReadsAsWritten(written.views, written.streams, entry.dataCrc)) return Outcome::kWritten;
  return Outcome::kAmbiguous;
}

bool PackedBlockWriter::AddChunk(const uint8_t* source, size_t size, bool padStream, size_t& position,
                                 WrittenChunks& written) {
  const int32_t storedSize = CompressChunk(source, size);
  if (storedSize <= 0) return false;
  size_t stored = static_cast<size_t>(storedSize);
  // A result as long as the chunk is either the compressor's plain copy or a
  // stream of exactly that length; only the copy has the source's bytes.
  const bool stream = stored != size || std::memcmp(chunkBuffer_.data(), source, size) != 0;
  if (padStream && stream && stored == size) chunkBuffer_[stored++] = 0x00;
  if (position > kPackedBlockSize || kPackedBlockSize - position < packed::kChunkHeaderSize + stored) {
    return false;
  }
  // Chunk header: length after this field, CRC, FFFF, uncompressed size; the
  // CRC covers the last two header words and the stored bytes.
  uint8_t* chunk = block_.data() + position;
  WriteBE16(chunk, static_cast<uint32_t>(stored + packed::kChunkLengthExtra));
  WriteBE16(chunk + 4, 0xFFFF);
  WriteBE16(chunk + 6, static_cast<uint32_t>(size));
  std::memcpy(chunk + packed::kChunkHeaderSize, chunkBuffer_.data(), stored);
  WriteBE16(chunk + 2, CRC16_Calc(chunk + 4, static_cast<int32_t>(stored + 4)));
  written.views.push_back({chunk + packed::kChunkHeaderSize, stored, size});
  written.streams.push_back(stream);
  position += packed::kChunkHeaderSize + stored;
  return true;
}

void PackedBlockWriter::Finish(uint8_t* packed) {
  // Entry count after the model header, then the directory 32 bytes later,
  // both in the form's byte order.
  packed::Write16(block_.data() + form_.countOffset, static_cast<uint32_t>(directory_.size()),
                  form_.littleEndian);
  for (size_t i = 0; i < directory_.size(); ++i) {
    packed::WriteEntry(block_.data() + form_.directoryOffset + i * packed::kEntrySize, directory_[i],
                       form_.littleEndian);
  }
  std::memcpy(packed, block_.data(), kPackedBlockSize);
}

}  // namespace

bool PackFlashData(uint16_t systemId, const uint8_t* flash, uint8_t* packed, const ModelHeader* ownHeader) {
  const std::optional<packed::HeaderTemplate> header = packed::HeaderForPacking(systemId, ownHeader);
  if (!header) return false;
  // Settings: 64 blocks of one 8192-byte chunk each, the first at 5120.
  PackedBlockWriter writer(*header, kSettingsFirstBlock);
  writer.CompressAhead({{flash, kFlashImageSize, kSettingsChunkSize}});
  for (size_t k = 0; k < kSettingsBlockCount; ++k) {
    if (!writer.AddBlock(flash + k * kSettingsChunkSize, kSettingsChunkSize, kSettingsChunkSize))
      return false;
  }
  writer.Finish(packed);
  packed::SetBuiltInModelName(systemId);
  return true;
}

bool PackDefaultsData(uint16_t systemId, const uint8_t* defaultsSettings, const uint8_t* defaultsEeprom,
                      uint8_t* packed, const ModelHeader* ownHeader) {
  const std::optional<packed::HeaderTemplate> header = packed::HeaderForPacking(systemId, ownHeader);
  if (!header) return false;
  // Defaults: block 0 at 1024 with the settings in chunks of up to 32,762
  // bytes, block 1 with the default EEPROM as one chunk.
  PackedBlockWriter writer(*header, kDefaultsFirstBlock);
  writer.CompressAhead({{defaultsSettings, kDefaultsSettingsSize, kDefaultsChunkSize},
                        {defaultsEeprom, kEepromImageSize, kEepromImageSize}});
  if (!writer.AddBlock(defaultsSettings, kDefaultsSettingsSize, kDefaultsChunkSize)) return false;
  if (!writer.AddBlock(defaultsEeprom, kEepromImageSize, kEepromImageSize)) return false;
  writer.Finish(packed);
  packed::SetBuiltInModelName(systemId);
  return true;
}

}  // namespace tolv
