// The compressed block format: the bit stream of the lh5 method of the LHA
// archive format (LZ77 over an 8192-byte window, matches of 3 to 256 bytes,
// static Huffman codes sent at the head of every block of codes). TFD files,
// packed flash blocks and receiver transfers all carry data in it.
//
// Both functions may run on several threads at once: each keeps its state to
// the calling thread (the decoder on the stack, the encoder in working memory
// of the thread's own).
#pragma once

#include <cstdint>

namespace tolv {

// Largest stream Block_Compress emits; longer output becomes a plain copy.
inline constexpr int32_t kBlockMaxStreamSize = 32762;

// Room the destination of Block_Compress needs for a source of srcSize bytes.
constexpr int32_t Block_CompressBound(int32_t srcSize) {
  return srcSize > kBlockMaxStreamSize ? srcSize : kBlockMaxStreamSize;
}

// Expands the compressed stream src (srcSize bytes) into exactly dstSize bytes
// at dst. Past the end of src the stream reads as zero bits, so a short source
// is not an error by itself; surplus source bytes are ignored.
//
// Returns 1 when all dstSize bytes were produced, 0 when a code table in the
// stream is bad (lengths that do not fill the code space exactly, a symbol
// count above its alphabet, a run of zero lengths past the alphabet, a length
// above 16, a code sent as a single symbol outside its alphabet). On 0, the
// 8192-byte pieces decoded before the fault are already in dst and the rest of
// dst is untouched. A match that reaches back before the first output byte
// yields zero bytes. dstSize 0 or less returns 1 without reading; srcSize 0 or
// less reads as an empty source (src may then be null). Never reads more than
// srcSize bytes from src nor writes more than dstSize bytes to dst, whatever
// the input. Works on the stack (about 40 KB) without allocating.
int32_t Block_Decompress(const uint8_t* src, int32_t srcSize, uint8_t* dst, int32_t dstSize);

// Whether a stream may end before the output is whole: the receiver's
// decoder reads zero bits past the end (kZeroBitsAfter, as Block_Decompress);
// a stream read from a file must hold every bit it needs (kWithinSource).
enum class StreamEnd : uint8_t { kZeroBitsAfter, kWithinSource };

// Block_Decompress, but with kWithinSource also returns 0 when the output
// needed bits past the end of src (a cut stream, whose last bytes would
// otherwise come out of zero bits); dst then holds the whole output as
// decoded.
int32_t Block_DecompressAs(const uint8_t* src, int32_t srcSize, uint8_t* dst, int32_t dstSize,
                           StreamEnd streamEnd);

// Compresses srcSize bytes from src into dst, which must have room for
// Block_CompressBound(srcSize) bytes.
//
// Returns the number of bytes written: the stream's length when the stream is
// at most kBlockMaxStreamSize bytes; otherwise dst receives a plain copy of src
// and the result is srcSize (callers tell the two apart by comparing the result
// with srcSize). Bytes of dst beyond the returned count are unspecified. The
// output depends only on the input: the same bytes always give the same
// stream. An empty source (srcSize 0 or less; src may then be null) gives a
// 7-byte stream. Works in about 350 KB of memory per thread, allocated at
// the thread's first call and kept until the thread ends (std::bad_alloc when
// that allocation fails); otherwise never fails.
int32_t Block_Compress(const uint8_t* src, int32_t srcSize, uint8_t* dst);

}  // namespace tolv
