// What the saves of file_io.h need from the platform, and the registry of
// temporary files that a cancel removes. Internal to src/common: the
// portable logic of a save is in save_files.cpp, the registry in
// save_cancel.cpp, the platform's part in file_io_posix.cpp and
// file_io_windows.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/file_io.h"

namespace tolv::save_detail {

// A temporary file being written, and its place in the registry (-1 when it
// could not be registered: a cancel then cannot remove it at once).
struct Temporary {
  std::string name;
  int slot = -1;
};

// What a save needs to know of the file it replaces.
struct TargetInfo {
  bool exists = false;
  bool folder = false;
  bool regular = false;
  bool writeProtected = false;
  // Owned by another user, whose file a replacement cannot stay (POSIX
  // systems, a process other than the superuser's).
  bool foreignOwner = false;
};

// Whether a save to path writes in place, as a stream, instead of replacing
// a file: "-" (standard output), and on POSIX systems a descriptor of the
// process (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N, or a link
// leading to one), a FIFO or a character device (a terminal, /dev/null).
bool IsStream(const std::string& path);

// Whether the stream path is the process's standard output.
bool IsStandardOutput(const std::string& path);

// The identity of a stream that is a descriptor of the process ("fd:1"),
// the same for every name of it; nothing for another name.
std::optional<std::string> DescriptorIdentity(const std::string& path);

// Writes parts to the stream path in place: to the descriptor itself (so
// that a redirection's appending and position hold), or to the FIFO or
// device opened without waiting for a reader. Throws FileError naming path.
void WriteStream(const std::string& path, const std::vector<ByteView>& parts);

// The file that a save to path replaces: on POSIX systems the end of a chain
// of symbolic links (FileError when it loops), on Windows path itself.
std::string ReplacedFile(const std::string& path);

// Facts about target; all false when it does not exist or cannot be looked
// at (the save then meets the reason itself).
TargetInfo InspectTarget(const std::string& target);

// Writes parts to a new temporary file beside target, flushed to the disk,
// with what the file it replaces keeps (permissions, owner, attributes), and
// registers it. Throws FileError naming shown, or SaveCanceled when a cancel
// comes while it writes; the temporary is then removed and unregistered.
Temporary WriteTemporary(const std::string& target, const std::string& shown,
                         const std::vector<ByteView>& parts);

// An old file kept under a hidden name beside its target while a save of
// several files replaces them: a second link to it (moved == false), or the
// file itself moved aside (moved == true: the target name is free).
struct KeptOld {
  std::string name;
  bool moved = false;
};

// Keeps the existing target as KeptOld, the target itself staying in place
// (a second link, or where links are refused a copy); nothing when there is
// no file. Throws FileError naming shown when it cannot.
std::optional<KeptOld> KeepOld(const std::string& target, const std::string& shown);

// Renames temp over target. Throws FileError naming shown.
void PutInPlace(const std::string& temp, const std::string& target, const std::string& shown);

// Renames a kept old file back over target; false when that fails.
bool RestoreOld(const KeptOld& kept, const std::string& target) noexcept;

// Removes the file path, if it can (on Windows also a read-only one).
void RemoveQuietly(const std::string& path) noexcept;

// Removes the file path for a cancel: on POSIX systems safe in a signal
// handler (unlink only).
void RemoveForCancel(const char* path) noexcept;

// The identity of FileIdentity for an existing file, or nothing when path
// names none.
std::optional<std::string> ExistingFileIdentity(const std::string& path);

// A name as the file system compares it: itself on POSIX systems, in upper
// case on Windows.
std::string ComparableName(const std::string& name);

// The save lock of a folder, held while the object lives: a second save into
// the folder (from this or another process) is refused while it is held. On
// POSIX systems an flock of the folder itself, on Windows LockFileEx on a
// hidden ".tolv-lock" deleted when closed (nothing is left either way);
// where the file system has no locks, the save goes on unlocked.
class FolderLock {
 public:
  // Throws FileError naming shown when the folder cannot be opened or
  // another save holds its lock.
  FolderLock(const std::string& folder, const std::string& shown);
  ~FolderLock();
  // Another name of the same folder, which the save's files may use.
  void AddName(const std::string& folder);
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  long long handle_ = -1;
};

// The bytes of the regular file at path, read without following a link
// (on POSIX systems relative to the folder a FolderLock holds); nothing when
// there is none or it cannot be read.
std::optional<std::vector<uint8_t>> ReadInFolder(const std::string& path);

// While a FolderLock holds a folder, the functions above that take a name in
// it work on POSIX systems relative to the folder as it was opened, never
// through a link swapped in for the folder or the name since.

// What is at path itself, a link not followed: its identity, or nothing
// when no such name exists. Compared just before a file is replaced, so that
// a name swapped for a link or another file meanwhile is not written.
std::optional<std::string> NameIdentity(const std::string& path);

// --- registry (save_cancel.cpp) ---------------------------------------------

// Registers a temporary file for Saves_Cancel; the slot, or -1 when the
// registry is full or the name too long.
int Temporaries_Register(const std::string& name) noexcept;

// Forgets a registered temporary (slot -1 does nothing).
void Temporaries_Unregister(int slot) noexcept;

// Throws SaveCanceled for the save of shown when a cancel was requested.
void ThrowIfCanceled(const std::string& shown);

// Marks the start of the replacing part of a save, which a cancel lets
// finish. Returns false, having marked nothing, when a cancel was requested.
bool Replacing_Begin() noexcept;
void Replacing_End() noexcept;

// Raises signalNumber again as soon as no save is replacing files any more
// (at the end of the last Replacing_End); safe in a signal handler.
void RaiseAfterReplacing(int signalNumber) noexcept;

}  // namespace tolv::save_detail
