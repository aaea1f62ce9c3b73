// Bytes a serial port has read from the system but not yet handed out: one
// system call brings whatever has arrived, the link takes it a few bytes at
// a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tolv {

template <size_t kCapacity>
class ReadAhead {
 public:
  bool Empty() const { return start_ == end_; }

  // Where the next system read goes: Capacity() bytes at Space().
  uint8_t* Space() { return bytes_; }
  static constexpr size_t Capacity() { return kCapacity; }

  // After a system read into Space(): byteCount bytes (0 to Capacity())
  // are there to take, anything left from before is gone.
  void Filled(size_t byteCount) {
    start_ = 0;
    end_ = std::min(byteCount, kCapacity);
  }

  // Moves up to dstCapacity of the waiting bytes to dst; returns how many.
  int32_t Take(uint8_t* dst, int32_t dstCapacity) {
    const size_t n = std::min(static_cast<size_t>(std::max(dstCapacity, 0)), end_ - start_);
    std::memcpy(dst, bytes_ + start_, n);
    start_ += n;
    return static_cast<int32_t>(n);
  }

  void Clear() { start_ = end_ = 0; }

 private:
  uint8_t bytes_[kCapacity];
  size_t start_ = 0;
  size_t end_ = 0;
};

}  // namespace tolv
