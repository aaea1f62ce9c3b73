// Compression of many independent chunks on all cores (the TFD writer's
// chunks, the packed flash block's chunks). Each chunk is compressed from its
// own bytes into its own stream by Block_Compress, which keeps its state per
// call, so the chunks can be compressed at the same time; the results are
// handed on in chunk order and are the same bytes whatever the number of
// threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace tolv {

// Number of threads Block_CompressChunks uses: the count given to
// Block_SetThreadCount; without one, the environment variable TOLV_THREADS
// when it holds a number from 1 to 256; otherwise the machine's hardware
// concurrency (at least 1).
int Block_ThreadCount();

// Sets the number of threads for every later Block_CompressChunks of the
// process (1 = on the calling thread alone); 0 or less returns to the default
// above. Counts above 256 are taken as 256. Safe to call from any thread.
void Block_SetThreadCount(int threadCount);

// One chunk: size bytes from data (data may be null when size is 0; a size
// of 0 or less is an empty chunk).
struct BlockChunk {
  const uint8_t* data = nullptr;
  int32_t size = 0;
};

// Receives the result of chunk index: the stream (or plain copy) that
// Block_Compress gives for it, size bytes at bytes, valid only during the
// call. Returns false to stop.
using BlockChunkConsumer = std::function<bool(size_t index, const uint8_t* bytes, int32_t size)>;

// Compresses every chunk as Block_Compress does, on up to Block_ThreadCount()
// worker threads that live only for this call, and hands the results to
// consume on the calling thread in chunk order (index 0, 1, ...). Returns true
// when every chunk was consumed, false as soon as consume returned false
// (no later chunk is handed on). At most a few chunks per thread are held
// ahead of consume. The caller keeps the chunks' bytes alive and unchanged for
// the call. An exception thrown by Block_Compress (std::bad_alloc) or by
// consume is thrown again on the calling thread once every worker has
// stopped. When no thread can be started, the chunks are compressed on the
// calling thread.
bool Block_CompressChunks(std::span<const BlockChunk> chunks, const BlockChunkConsumer& consume);

}  // namespace tolv
