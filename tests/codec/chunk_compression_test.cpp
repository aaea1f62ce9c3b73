#include "codec/chunk_compression.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "codec/block_codec.h"
#include "test_support.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

// Chunks of every kind and size, empty ones and plain copies among them.
std::vector<Bytes> MixedChunks() {
  std::vector<Bytes> chunks;
  for (uint32_t i = 0; i < 24; ++i) {
    const size_t size = (i * 7919u) % 32763u;
    switch (i % 4) {
      case 0: chunks.push_back(test::MachineCode(size)); break;
      case 1: chunks.push_back(test::Text(size)); break;
      case 2: chunks.push_back(Bytes(size, static_cast<uint8_t>(i))); break;
      default: chunks.push_back(test::RandomBytes(i, size)); break;
    }
  }
  chunks.push_back({});
  return chunks;
}

std::vector<BlockChunk> Views(const std::vector<Bytes>& chunks) {
  std::vector<BlockChunk> views;
  for (const Bytes& chunk : chunks) views.push_back({chunk.data(), static_cast<int32_t>(chunk.size())});
  return views;
}

// Every chunk's result is what Block_Compress gives for it alone, handed on in
// chunk order, on one thread and on more threads than chunks or cores.
TEST(ChunkCompression, SameStreamsInChunkOrderOnAnyNumberOfThreads) {
  const std::vector<Bytes> chunks = MixedChunks();
  std::vector<Bytes> expected;
  for (const Bytes& chunk : chunks) {
    Bytes stream(static_cast<size_t>(Block_CompressBound(static_cast<int32_t>(chunk.size()))));
    stream.resize(
        static_cast<size_t>(Block_Compress(chunk.data(), static_cast<int32_t>(chunk.size()), stream.data())));
    expected.push_back(stream);
  }
  for (int threads : {1, 2, 5, 40}) {
    Block_SetThreadCount(threads);
    EXPECT_EQ(Block_ThreadCount(), threads);
    std::vector<Bytes> got;
    const bool all =
        Block_CompressChunks(Views(chunks), [&](size_t index, const uint8_t* bytes, int32_t size) {
          EXPECT_EQ(index, got.size());
          got.emplace_back(bytes, bytes + size);
          return true;
        });
    EXPECT_TRUE(all);
    EXPECT_EQ(got, expected) << threads << " threads";
  }
  Block_SetThreadCount(0);
}

// A consumer that stops gets no later chunk; one that throws has its
// exception come out of the call, after the workers have stopped.
TEST(ChunkCompression, StoppingAndThrowingConsumers) {
  const std::vector<Bytes> chunks = MixedChunks();
  Block_SetThreadCount(3);
  size_t calls = 0;
  EXPECT_FALSE(Block_CompressChunks(Views(chunks), [&](size_t index, const uint8_t*, int32_t) {
    ++calls;
    return index < 4;
  }));
  EXPECT_EQ(calls, 5u);
  EXPECT_THROW(Block_CompressChunks(Views(chunks),
                                    [](size_t index, const uint8_t*, int32_t) -> bool {
                                      if (index == 2) throw std::runtime_error("consumer failed");
                                      return true;
                                    }),
               std::runtime_error);
  Block_SetThreadCount(0);
}

// The thread count: set by the program, else TOLV_THREADS when it is a
// number from 1 to 256, else the machine's.
TEST(ChunkCompression, ThreadCountFromTheProgramTheEnvironmentOrTheMachine) {
  Block_SetThreadCount(0);
  {
    const test::ScopedEnvironment threads("TOLV_THREADS", "3");
    EXPECT_EQ(Block_ThreadCount(), 3);
    Block_SetThreadCount(1);
    EXPECT_EQ(Block_ThreadCount(), 1);
    Block_SetThreadCount(1000);
    EXPECT_EQ(Block_ThreadCount(), 256);
    Block_SetThreadCount(0);
  }
  const int machine = Block_ThreadCount();
  EXPECT_GE(machine, 1);
  for (const char* unusable : {"0", "-2", "257", "two", "4x", ""}) {
    const test::ScopedEnvironment threads("TOLV_THREADS", unusable);
    EXPECT_EQ(Block_ThreadCount(), machine) << unusable;
  }
}

}  // namespace
}  // namespace tolv
