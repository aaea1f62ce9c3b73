// Memory of bench_lzh_decode: the archive's bytes and the decoded output.
// The decode tool is timed as a whole process against archivers that stream
// their output through small buffers, while Block_Decompress needs the whole
// destination at once; where the platform allows, the archive is mapped
// rather than copied and the output buffer comes from huge pages, so that the
// timing is not mostly page faults.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tolv::bench {

// A read-only view of a whole file. Throws FileError when it cannot be read.
class FileView {
 public:
  explicit FileView(const char* path);
  ~FileView();
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  void* owner_ = nullptr;
};

// An uninitialised buffer of size bytes. Throws std::bad_alloc.
class OutputBuffer {
 public:
  explicit OutputBuffer(size_t size);
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  uint8_t* data() const { return data_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace tolv::bench
