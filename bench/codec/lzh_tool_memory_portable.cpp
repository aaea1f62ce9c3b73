// Other platforms: the archive read into memory, the output from new[].
#include <cstring>
#include <vector>

#include "common/file_io.h"
#include "lzh_tool_memory.h"

namespace tolv::bench {

FileView::FileView(const char* path) {
  auto* bytes = new std::vector<uint8_t>(ReadFileBytes(path));
  owner_ = bytes;
  data_ = bytes->data();
  size_ = bytes->size();
}

FileView::~FileView() { delete static_cast<std::vector<uint8_t>*>(owner_); }

OutputBuffer::OutputBuffer(size_t size) : data_(new uint8_t[size == 0 ? 1 : size]), size_(size) {}

OutputBuffer::~OutputBuffer() { delete[] data_; }

}  // namespace tolv::bench
