// File access on Windows.
//
// Names arrive in UTF-8 and go to the system as UTF-16 (CreateFileW and
// friends), so every name the user can type works whatever the code page.
// Files are read and written as raw bytes; nothing is translated.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "common/file_io.h"
#include "common/windows_text.h"

namespace tolv {
namespace {

std::optional<uint64_t> g_writeBudget;  // test hook, see testing::FailWritesAfter

// ReadFile and WriteFile move at most this much in one call (a DWORD count).
constexpr DWORD kMaxChunk = 1u << 30;

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD error) {
  throw FileError(what + " " + Quote(path) + ": " + WindowsErrorText(error));
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Closes now; false (with GetLastError) when the system reports a failure.
  bool Close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

Handle OpenForReading(const std::string& path) {
  Handle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) Fail("Cannot open file", path, GetLastError());
  return file;
}

uint64_t SizeOfOpen(const Handle& file, const std::string& path) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) Fail("Cannot read file", path, GetLastError());
  return static_cast<uint64_t>(size.QuadPart);
}

// Reads up to byteCount bytes at byteOffset; returns how many there were.
size_t ReadAt(const Handle& file, const std::string& path, uint64_t byteOffset, uint8_t* dst,
              size_t byteCount) {
  size_t done = 0;
  while (done < byteCount) {
    OVERLAPPED at{};
    const uint64_t offset = byteOffset + done;
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(byteCount - done, kMaxChunk));
    DWORD got = 0;
    if (!ReadFile(file.get(), dst + done, want, &got, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      Fail("Cannot read file", path, error);
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

void WriteAll(const Handle& file, const std::string& path, ByteView bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    uint64_t want = std::min<size_t>(bytes.size() - done, kMaxChunk);
    if (g_writeBudget) {
      if (*g_writeBudget == 0) Fail("Cannot write file", path, ERROR_DISK_FULL);
      want = std::min(want, *g_writeBudget);
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, static_cast<DWORD>(want), &written, nullptr))
      Fail("Cannot write file", path, GetLastError());
    if (g_writeBudget) *g_writeBudget -= written;
    done += written;
  }
}

// A new, empty file beside path that no other save uses: the name holds the
// process id and a counter, and CREATE_NEW refuses a name that exists.
Handle CreateTemporaryBeside(const std::string& path, std::string* temp) {
  static std::atomic<unsigned> counter{0};
  const std::string dir = DirectoryOf(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = dir + ".tolv-save-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) +
            "-" + std::to_string(GetTickCount64() % 1000000);
    Handle file(CreateFileW(Utf8ToWide(*temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) Fail("Cannot create file", path, error);
  }
  Fail("Cannot create file", path, ERROR_FILE_EXISTS);
}

// Attributes of the file being replaced that the new one keeps: hidden,
// system and not-indexed (Windows' counterpart of permission bits).
void KeepAttributes(const std::wstring& from, const std::wstring& to) {
  const DWORD old = GetFileAttributesW(from.c_str());
  if (old == INVALID_FILE_ATTRIBUTES || (old & FILE_ATTRIBUTE_DIRECTORY)) return;
  const DWORD kept =
      old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (kept) SetFileAttributesW(to.c_str(), kept);
}

// Writes parts to a new temporary file beside path, flushed to the disk, and
// returns its name. On failure removes it and throws FileError naming path.
std::string WriteTemporary(const std::string& path, const std::vector<ByteView>& parts) {
  std::string temp;
  Handle file = CreateTemporaryBeside(path, &temp);
  try {
    for (ByteView part : parts) WriteAll(file, path, part);
    if (!FlushFileBuffers(file.get())) Fail("Cannot write file", path, GetLastError());
    if (!file.Close()) Fail("Cannot write file", path, GetLastError());
  } catch (...) {
    if (file.valid()) file.Close();
    DeleteFileW(Utf8ToWide(temp).c_str());
    throw;
  }
  return temp;
}

}  // namespace

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint64_t FileSizeOf(const std::string& path) {
  Handle file = OpenForReading(path);
  return SizeOfOpen(file, path);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  Handle file = OpenForReading(path);
  std::vector<uint8_t> bytes(static_cast<size_t>(SizeOfOpen(file, path)));
  bytes.resize(ReadAt(file, path, 0, bytes.data(), bytes.size()));
  return bytes;
}

std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t byteOffset, size_t byteCount) {
  Handle file = OpenForReading(path);
  std::vector<uint8_t> bytes(byteCount);
  if (ReadAt(file, path, byteOffset, bytes.data(), byteCount) != byteCount)
    throw FileError("Cannot read file " + Quote(path) + ": the file is truncated");
  return bytes;
}

void SaveFilesAtomically(const std::vector<FileToSave>& files) {
  for (const FileToSave& file : files)
    if (file.path.empty()) throw FileError("Cannot create a file without a name");
  // Every file is complete on the disk before the first one replaces anything.
  std::vector<std::wstring> temporaries;
  try {
    for (const FileToSave& file : files)
      temporaries.push_back(Utf8ToWide(WriteTemporary(file.path, file.parts)));
    for (size_t i = 0; i < files.size(); ++i) {
      const std::wstring target = Utf8ToWide(files[i].path);
      KeepAttributes(target, temporaries[i]);
      if (!MoveFileExW(temporaries[i].c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Fail("Cannot create file", files[i].path, GetLastError());
      temporaries[i].clear();
    }
  } catch (...) {
    for (const std::wstring& temp : temporaries)
      if (!temp.empty()) DeleteFileW(temp.c_str());
    throw;
  }
}

std::string DirectoryOf(const std::string& path) {
  size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ExecutableDirectory() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return DirectoryOf(WideToUtf8(name));
    }
    if (name.size() >= 32768) return {};
    name.resize(name.size() * 2);  // cut short: try a larger buffer
  }
}

namespace testing {
void FailWritesAfter(std::optional<uint64_t> byteCount) { g_writeBudget = byteCount; }
}  // namespace testing

}  // namespace tolv
