// Linux: the archive mapped read-only and populated at once; the output in
// anonymous memory that asks for transparent huge pages.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>

#include "common/file_io.h"
#include "lzh_tool_memory.h"

namespace tolv::bench {

FileView::FileView(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    throw FileError(std::string("Cannot read file ") + path);
  }
  size_ = static_cast<size_t>(st.st_size);
  void* mapped =
      size_ == 0 ? MAP_FAILED : ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  ::close(fd);
  if (size_ != 0 && mapped == MAP_FAILED) throw FileError(std::string("Cannot map file ") + path);
  if (mapped != MAP_FAILED) {
    owner_ = mapped;
    data_ = static_cast<const uint8_t*>(mapped);
  }
}

FileView::~FileView() {
  if (owner_ != nullptr) ::munmap(owner_, size_);
}

OutputBuffer::OutputBuffer(size_t size) : size_(size == 0 ? 1 : size) {
  void* memory = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  // Only a hint: without huge pages the buffer works the same.
  ::madvise(memory, size_, MADV_HUGEPAGE);
  data_ = static_cast<uint8_t*>(memory);
}

OutputBuffer::~OutputBuffer() { ::munmap(data_, size_); }

}  // namespace tolv::bench
