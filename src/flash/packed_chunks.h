// Internal: how the chunks of one block of a packed flash-format block are
// read, shared by the unpacker, the checksum report and the packers' own
// check of what they wrote.
//
// A chunk whose stored size differs from its uncompressed size holds a
// compressed stream. One whose stored size equals it holds either a plain
// copy (what the compressor gives for data it cannot compress into 32,762
// bytes) or a stream that came out exactly as long as the data (a settings
// chunk whose stream is 8,192 bytes); the chunk header does not say which. The
// block's data CRC, over the uncompressed data of all its chunks, decides: a
// chunk is a plain copy when its bytes as they stand give the data CRC,
// otherwise it is expanded and the expansion must give it. In a block of
// several such chunks the choice is made for all of them together, so that
// the whole block gives its data CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolv::packed {

// One chunk as stored: the bytes after its 8-byte header.
struct ChunkView {
  const uint8_t* stored = nullptr;
  size_t storedSize = 0;
  size_t size = 0;  // uncompressed size, from the chunk header
  // Stored size equal to a non-zero uncompressed size: plain copy or stream.
  // (An empty chunk carries nothing either way.)
  bool EitherForm() const { return storedSize == size && size != 0; }
};

// How the chunks of a block are to be read.
struct ChunkForms {
  // Every chunk that can only be a stream decodes.
  bool decodes = true;
  // No chunk had two forms, or a choice of forms gives the block's data CRC.
  // False means the block is damaged.
  bool decided = true;
  // Per chunk: expand it (true) or take its bytes as they stand (false). When
  // decided is false, the chunks of either form are taken as plain copies.
  std::vector<bool> expand;
  // CRC-16 of the data read as expand says (when decodes), and its length.
  uint32_t dataCrc = 0;
  uint64_t dataLength = 0;
};

// Decides the form of each chunk of a block whose directory entry gives
// blockDataCrc. Decodes every chunk once (into a scratch buffer of its own,
// as large as the largest chunk); reads nothing outside the chunks' stored
// bytes.
ChunkForms DecideChunkForms(const std::vector<ChunkView>& chunks, uint32_t blockDataCrc);

// True when some chunk has either form, so that the block's data CRC decides.
bool AnyChunkOfEitherForm(const std::vector<ChunkView>& chunks);

// Writes the chunk's chunk.size bytes of data to dst: a copy of its stored
// bytes, or their expansion. False when the stream does not decode.
bool ReadChunk(const ChunkView& chunk, bool expand, uint8_t* dst);

}  // namespace tolv::packed
