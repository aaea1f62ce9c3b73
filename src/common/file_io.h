// File access shared by both layers.
//
// Every failure to open, read, create or write a file, and every read past the
// end of a truncated file, is raised as FileError. Its text is a complete
// sentence for the user; the command that met it ends, and the caller (window
// or command line) shows the text. Nothing here returns an error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolv {

using ByteView = std::span<const uint8_t>;

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True when path names an existing file (or device) that can be stat'ed.
bool FileExists(const std::string& path);

// Size in bytes of the file at path. Throws FileError when it cannot be opened.
uint64_t FileSizeOf(const std::string& path);

// The whole file. Throws FileError when it cannot be opened or read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Exactly byteCount bytes from byteOffset. Throws FileError when the file cannot
// be opened or read, or holds fewer bytes ("truncated").
std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t byteOffset, size_t byteCount);

// Writes the concatenation of parts as the file path, such that an existing
// file of that name survives every failure: the bytes go to a temporary file in
// the same directory, are flushed to the disk, and only then is the temporary
// file renamed over path. On POSIX systems, when path is a symbolic link (or a
// chain of them), the file it points to is the one replaced, from a temporary
// file beside it, and the link stays; on Windows links are not followed. An
// existing file's permission bits (on Windows its hidden, system and
// not-indexed attributes) are kept. On failure the temporary file is removed,
// path is untouched and FileError is thrown.
void SaveFileAtomically(const std::string& path, std::initializer_list<ByteView> parts);
void SaveFileAtomically(const std::string& path, ByteView bytes);

// One file of SaveFilesAtomically: its name and the parts of its contents.
struct FileToSave {
  std::string path;
  std::vector<ByteView> parts;
};

// Saves several files as SaveFileAtomically does, all or none as far as the
// file system allows: every file is written completely to its temporary file
// first, and only when all are written are they renamed over their names, in
// order. A failure while writing removes every temporary file and leaves every
// existing file untouched (FileError). Only a failing rename, after the files
// before it were renamed, can leave a part saved.
void SaveFilesAtomically(const std::vector<FileToSave>& files);

// Directory part of path including its last separator ("/", "\" or ":"),
// empty when there is none.
std::string DirectoryOf(const std::string& path);

// Directory of the running executable, with a trailing "/", or empty when the
// platform cannot tell.
std::string ExecutableDirectory();

namespace testing {
// Test hook: after this many more bytes have been written by
// SaveFileAtomically, the next write fails as a full disk would (ENOSPC).
// std::nullopt turns the fault off. Not for production use.
void FailWritesAfter(std::optional<uint64_t> byteCount);
}  // namespace testing

}  // namespace tolv
