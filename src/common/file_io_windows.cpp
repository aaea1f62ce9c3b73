// File access on Windows.
//
// Names arrive in UTF-8 and go to the system as UTF-16 (CreateFileW and
// friends), so every name the user can type works whatever the code page.
// Files are read and written as raw bytes; nothing is translated.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "common/save_platform.h"
#include "common/windows_text.h"

namespace tolv {
namespace {

std::optional<uint64_t> g_writeBudget;  // test hook, see testing::FailWritesAfter

// ReadFile and WriteFile move at most this much in one call (a DWORD count);
// a save writes at most kWritePiece at once, so that a cancel is seen soon.
constexpr DWORD kMaxChunk = 1u << 30;
constexpr size_t kWritePiece = size_t{1} << 20;

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

// The name opened for no access at all: enough to ask what it is, without
// reading, writing or waiting for anything. Folders open too; links are not
// followed.
Handle OpenToLookAt(const std::string& path) {
  return Handle(CreateFileW(Utf8ToWide(path).c_str(), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// What a name is: nothing, a folder, a file on a disk, or a device (a
// console, NUL, a port, a pipe).
struct Kind {
  bool exists = false;
  bool folder = false;
  bool disk = false;
  DWORD attributes = 0;
};

Kind LookAt(const std::string& path) {
  Handle handle = OpenToLookAt(path);
  if (!handle.valid()) {
    // Not even this much access: the attributes still tell a folder.
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {};
    return {true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, true, attributes};
  }
  Kind kind{true, false, GetFileType(handle.get()) == FILE_TYPE_DISK, 0};
  BY_HANDLE_FILE_INFORMATION info{};
  if (kind.disk && GetFileInformationByHandle(handle.get(), &info)) kind.attributes = info.dwFileAttributes;
  kind.folder = (kind.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return kind;
}

void RequireRegular(bool folder, bool disk, const std::string& path) {
  if (folder) throw FileError("Cannot read file " + Quote(path) + ": it is a folder");
  if (!disk) throw FileError("Cannot read file " + Quote(path) + ": it is not a regular file");
}

// Opens a file on a disk for reading. A device (a console, a port, a pipe)
// is refused before it is opened for reading, which could wait or act on it.
Handle OpenForReading(const std::string& path) {
  const Kind kind = LookAt(path);
  if (kind.exists) RequireRegular(kind.folder, kind.disk, path);
  Handle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) Fail("Cannot open file", path, GetLastError());
  RequireRegular(false, GetFileType(file.get()) == FILE_TYPE_DISK, path);
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
    save_detail::ThrowIfCanceled(path);
    uint64_t want = std::min(bytes.size() - done, kWritePiece);
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

// A hidden name beside path that no other save uses: the process id, a
// counter and the clock.
std::string NameBeside(const std::string& path, const char* prefix) {
  static std::atomic<unsigned> counter{0};
  return DirectoryOf(path) + prefix + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter++) + "-" + std::to_string(GetTickCount64() % 1000000);
}

// A new, empty temporary file beside path, registered for a cancel before it
// exists (removing a name not there yet does no harm). Others may delete it
// while it is open: a cancel marks it so, and it goes when closed.
Handle CreateTemporaryBeside(const std::string& path, const std::string& shown,
                             save_detail::Temporary& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp.name = NameBeside(path, ".tolv-save-");
    temp.slot = save_detail::Temporaries_Register(temp.name);
    Handle file(CreateFileW(Utf8ToWide(temp.name).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) return file;
    const DWORD error = GetLastError();
    save_detail::Temporaries_Unregister(temp.slot);
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) Fail("Cannot create file", shown, error);
  }
  Fail("Cannot create file", shown, ERROR_FILE_EXISTS);
}

// Attributes of the file being replaced that the new one keeps: read-only,
// hidden, system and not-indexed (Windows' counterpart of permission bits).
void KeepAttributes(const std::wstring& from, const std::wstring& to) {
  const DWORD old = GetFileAttributesW(from.c_str());
  if (old == INVALID_FILE_ATTRIBUTES || (old & FILE_ATTRIBUTE_DIRECTORY)) return;
  const DWORD kept = old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (kept) SetFileAttributesW(to.c_str(), kept);
}

// Lifts the read-only attribute of an existing file, which forbids replacing
// or deleting it; returns the attributes it had (INVALID_FILE_ATTRIBUTES
// when there is no such file).
DWORD LiftReadOnly(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  return attributes;
}

// Renames from over to; a read-only file at to is replaced as well. Returns
// false, with to as it was, on failure (GetLastError tells why).
bool MoveReplacing(const std::wstring& from, const std::wstring& to) {
  const DWORD attributes = LiftReadOnly(to);
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = GetLastError();
  if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(to.c_str(), attributes);
  SetLastError(error);
  return false;
}

}  // namespace

namespace save_detail {

std::string ReplacedFile(const std::string& path) { return path; }

bool IsStream(const std::string& path) { return path == "-"; }

bool IsStandardOutput(const std::string& path) { return path == "-"; }

std::optional<std::string> DescriptorIdentity(const std::string& path) {
  return path == "-" ? std::optional<std::string>("fd:1") : std::nullopt;
}

// Standard output, written through its own handle (a console, a pipe or a
// redirected file), which is not closed.
void WriteStream(const std::string& path, const std::vector<ByteView>& parts) {
  ThrowIfCanceled(path);
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE || out == nullptr) Fail("Cannot write file", path, ERROR_INVALID_HANDLE);
  for (ByteView part : parts) {
    for (size_t done = 0; done < part.size();) {
      const DWORD want = static_cast<DWORD>(std::min<size_t>(part.size() - done, kWritePiece));
      DWORD written = 0;
      if (!WriteFile(out, part.data() + done, want, &written, nullptr))
        Fail("Cannot write file", path, GetLastError());
      done += written;
    }
  }
}

TargetInfo InspectTarget(const std::string& target) {
  const Kind kind = LookAt(target);
  if (!kind.exists) return {};
  TargetInfo info;
  info.exists = true;
  info.folder = kind.folder;
  info.regular = kind.disk && !kind.folder;
  info.writeProtected = info.regular && (kind.attributes & FILE_ATTRIBUTE_READONLY) != 0;
  return info;
}

Temporary WriteTemporary(const std::string& target, const std::string& shown,
                         const std::vector<ByteView>& parts) {
  ThrowIfCanceled(shown);
  Temporary temp;
  Handle file = CreateTemporaryBeside(target, shown, temp);
  try {
    for (ByteView part : parts) WriteAll(file, shown, part);
    if (!FlushFileBuffers(file.get())) Fail("Cannot write file", shown, GetLastError());
    if (!file.Close()) Fail("Cannot write file", shown, GetLastError());
    KeepAttributes(Utf8ToWide(target), Utf8ToWide(temp.name));
  } catch (...) {
    if (file.valid()) file.Close();
    RemoveQuietly(temp.name);
    Temporaries_Unregister(temp.slot);
    throw;
  }
  return temp;
}

// The old file is copied: its name stays in place the whole time, so that a
// save cut off at any point leaves every file there (a file that another
// program holds open then fails at its replacement, and every file already
// replaced gets its copy back).
std::optional<KeptOld> KeepOld(const std::string& target, const std::string& shown) {
  const std::wstring from = Utf8ToWide(target);
  if (GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = NameBeside(target, ".tolv-old-");
    if (CopyFileW(from.c_str(), Utf8ToWide(name).c_str(), TRUE)) return KeptOld{name, false};
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      Fail("Cannot replace file", shown, error);
  }
  Fail("Cannot replace file", shown, ERROR_FILE_EXISTS);
}

void PutInPlace(const std::string& temp, const std::string& target, const std::string& shown) {
  if (!MoveReplacing(Utf8ToWide(temp), Utf8ToWide(target))) Fail("Cannot create file", shown, GetLastError());
}

bool RestoreOld(const KeptOld& kept, const std::string& target) noexcept {
  return MoveReplacing(Utf8ToWide(kept.name), Utf8ToWide(target));
}

void RemoveQuietly(const std::string& path) noexcept {
  const std::wstring name = Utf8ToWide(path);
  LiftReadOnly(name);
  DeleteFileW(name.c_str());
}

// Called on the thread of a console event, where allocating is allowed.
void RemoveForCancel(const char* path) noexcept { RemoveQuietly(path); }

std::optional<std::string> ExistingFileIdentity(const std::string& path) {
  Handle handle = OpenToLookAt(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
  const uint64_t index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index);
}

// A hidden lock file in the folder, locked with LockFileEx and deleted when
// the last save holding it open closes it (so nothing stays behind).
FolderLock::FolderLock(const std::string& folder, const std::string& shown) {
  const std::wstring name = Utf8ToWide((folder.empty() ? std::string(".\\") : folder) + ".tolv-lock");
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // a folder that takes no such file: the save meets why
  OVERLAPPED at{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION)
      throw FileError("Cannot save " + Quote(shown) +
                      ": another save into its folder is under way. Nothing was written.");
    return;
  }
  handle_ = reinterpret_cast<long long>(file);
}

void FolderLock::AddName(const std::string&) {}

std::optional<std::vector<uint8_t>> ReadInFolder(const std::string& path) {
  if (!IsRegularFile(path)) return std::nullopt;
  try {
    return ReadFileBytes(path);
  } catch (const FileError&) {
    return std::nullopt;
  }
}

FolderLock::~FolderLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::optional<std::string> NameIdentity(const std::string& path) { return ExistingFileIdentity(path); }

std::string ComparableName(const std::string& name) {
  std::wstring wide = Utf8ToWide(name);
  if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return WideToUtf8(wide);
}

}  // namespace save_detail

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::string& path) {
  if (path.empty()) return false;
  const Kind kind = LookAt(path);
  return kind.exists && kind.disk && !kind.folder;
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

std::string DirectoryOf(const std::string& path) {
  size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool IsFolderSeparator(char c) { return c == '/' || c == '\\'; }

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
