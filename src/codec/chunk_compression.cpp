#include "codec/chunk_compression.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "codec/block_codec.h"

namespace tolv {
namespace {

constexpr int kMaxThreads = 256;
// Results each thread may hold ahead of the consumer.
constexpr size_t kSlotsPerThread = 4;

std::atomic<int> configuredThreads{0};

int ThreadsFromEnvironment() {
  const char* text = std::getenv("TOLV_THREADS");
  if (text == nullptr) return 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return (end != text && *end == '\0' && value >= 1 && value <= kMaxThreads) ? static_cast<int>(value) : 0;
}

int32_t BoundOf(const BlockChunk& chunk) { return Block_CompressBound(std::max<int32_t>(chunk.size, 0)); }

// The chunks compressed one after another on the calling thread.
bool CompressInTurn(std::span<const BlockChunk> chunks, const BlockChunkConsumer& consume) {
  std::vector<uint8_t> stream;
  for (size_t index = 0; index < chunks.size(); ++index) {
    stream.resize(static_cast<size_t>(BoundOf(chunks[index])));
    const int32_t size = Block_Compress(chunks[index].data, chunks[index].size, stream.data());
    if (!consume(index, stream.data(), size)) return false;
  }
  return true;
}

// Work shared by the workers and the consumer: workers take the next chunk,
// compress it into the slot of its index (modulo the slot count) and mark it
// ready; the consumer takes the slots in order and frees them. A worker only
// takes a chunk whose slot the consumer has freed.
class OrderedCompression {
 public:
  OrderedCompression(std::span<const BlockChunk> chunks, size_t slotCount)
      : chunks_(chunks), slots_(slotCount) {}

  void Work();
  bool Consume(const BlockChunkConsumer& consume);
  // Lets every worker end after its current chunk.
  void Stop();
  // Throws what a worker met, if anything.
  void RethrowFailure();

 private:
  struct Slot {
    std::vector<uint8_t> bytes;
    int32_t size = 0;
    bool ready = false;
  };

  bool MayTake() const {
    return stopping_ || nextToTake_ >= chunks_.size() || nextToTake_ < nextToConsume_ + slots_.size();
  }

  std::span<const BlockChunk> chunks_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable workerWake_;
  std::condition_variable consumerWake_;
  size_t nextToTake_ = 0;
  size_t nextToConsume_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
};

void OrderedCompression::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    workerWake_.wait(lock, [this] { return MayTake(); });
    if (stopping_ || nextToTake_ >= chunks_.size()) return;
    const size_t index = nextToTake_++;
    Slot& slot = slots_[index % slots_.size()];
    lock.unlock();
    // The slot is this worker's alone until it is marked ready.
    try {
      const BlockChunk& chunk = chunks_[index];
      slot.bytes.resize(static_cast<size_t>(BoundOf(chunk)));
      slot.size = Block_Compress(chunk.data, chunk.size, slot.bytes.data());
    } catch (...) {
      lock.lock();
      if (!failure_) failure_ = std::current_exception();
      stopping_ = true;
      consumerWake_.notify_all();
      workerWake_.notify_all();
      return;
    }
    lock.lock();
    slot.ready = true;
    if (index == nextToConsume_) consumerWake_.notify_all();
  }
}

bool OrderedCompression::Consume(const BlockChunkConsumer& consume) {
  for (size_t index = 0; index < chunks_.size(); ++index) {
    Slot& slot = slots_[index % slots_.size()];
    {
      std::unique_lock lock(mutex_);
      consumerWake_.wait(lock, [&] { return slot.ready || failure_; });
      if (failure_) return false;
    }
    // A ready slot is not touched by the workers until it is freed below.
    const bool goOn = consume(index, slot.bytes.data(), slot.size);
    {
      std::lock_guard lock(mutex_);
      slot.ready = false;
      ++nextToConsume_;
      if (!goOn) stopping_ = true;
    }
    workerWake_.notify_all();
    if (!goOn) return false;
  }
  return true;
}

void OrderedCompression::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  workerWake_.notify_all();
}

void OrderedCompression::RethrowFailure() {
  if (failure_) std::rethrow_exception(failure_);
}

// Ends the workers on every way out of Block_CompressChunks: the shared work
// is told to stop and every thread joined before the work goes away.
class Workers {
 public:
  explicit Workers(OrderedCompression& work) : work_(work) {}
  ~Workers() {
    work_.Stop();
    threads_.clear();  // joins
  }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Starts up to count workers; returns how many started.
  size_t Start(int count) {
    try {
      for (int i = 0; i < count; ++i) threads_.emplace_back([this] { work_.Work(); });
    } catch (const std::system_error&) {
      // Fewer threads than asked for: the ones running do the work.
    }
    return threads_.size();
  }

 private:
  OrderedCompression& work_;
  std::vector<std::jthread> threads_;
};

}  // namespace

int Block_ThreadCount() {
  if (const int configured = configuredThreads.load(); configured > 0) return configured;
  if (const int fromEnvironment = ThreadsFromEnvironment(); fromEnvironment > 0) return fromEnvironment;
  const unsigned hardware = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int>(hardware), 1, kMaxThreads);
}

void Block_SetThreadCount(int threadCount) {
  configuredThreads.store(threadCount <= 0 ? 0 : std::min(threadCount, kMaxThreads));
}

bool Block_CompressChunks(std::span<const BlockChunk> chunks, const BlockChunkConsumer& consume) {
  const int threads =
      static_cast<int>(std::min<size_t>(static_cast<size_t>(Block_ThreadCount()), chunks.size()));
  if (threads <= 1) return CompressInTurn(chunks, consume);
  OrderedCompression work(chunks, kSlotsPerThread * static_cast<size_t>(threads));
  bool consumedAll = false;
  {
    Workers workers(work);
    if (workers.Start(threads) == 0) return CompressInTurn(chunks, consume);
    consumedAll = work.Consume(consume);
  }
  work.RethrowFailure();
  return consumedAll;
}

}  // namespace tolv
