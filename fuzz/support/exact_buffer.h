// A buffer that the fuzz targets allocate once and reuse for every input.
//
// Allocating and clearing a buffer of half a megabyte per input cost the
// targets most of their time: the address sanitizer maps every allocation
// above 128 kB afresh, and each new page faults. An ExactBuffer hands out a
// window of an exact size at the start of its storage and poisons the rest,
// so that the address sanitizer still reports any access past the window as
// it would for an allocation of that size (the storage's own redzone lies
// before the window).
#pragma once

#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tolv::fuzz {

class ExactBuffer {
 public:
  // Storage for windows of up to capacity bytes.
  explicit ExactBuffer(size_t capacity) : storage_(capacity) {}
  ExactBuffer(const ExactBuffer&) = delete;
  ExactBuffer& operator=(const ExactBuffer&) = delete;

  // A window of size bytes (aborts above the capacity) holding whatever the
  // previous use left there; the bytes after it are poisoned until the next
  // call.
  uint8_t* Window(size_t size) {
    if (size > storage_.size()) std::abort();
    ASAN_UNPOISON_MEMORY_REGION(storage_.data(), storage_.size());
    ASAN_POISON_MEMORY_REGION(storage_.data() + size, storage_.size() - size);
    return storage_.data();
  }

  // A window of size bytes, each set to fill.
  uint8_t* Filled(size_t size, uint8_t fill) {
    uint8_t* window = Window(size);
    std::memset(window, fill, size);
    return window;
  }

  // A window of size bytes that starts with the first count bytes of data
  // (count at most size); the rest is set to fill.
  uint8_t* Copy(const uint8_t* data, size_t count, size_t size, uint8_t fill = 0) {
    if (count > size) std::abort();
    uint8_t* window = Window(size);
    if (count > 0) std::memcpy(window, data, count);
    std::memset(window + count, fill, size - count);
    return window;
  }

 private:
  std::vector<uint8_t> storage_;
};

}  // namespace tolv::fuzz
