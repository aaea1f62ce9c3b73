// File access shared by both layers.
//
// Every failure to open, read, create or write a file, and every read past the
// end of a truncated file, is raised as FileError. Its text is a complete
// sentence for the user; the command that met it ends, and the caller (window
// or command line) shows the text. Nothing here returns an error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A save that stopped because it was cancelled (Saves_Cancel): nothing of it
// was written, and its temporary files are gone.
class SaveCanceled : public FileError {
 public:
  using FileError::FileError;
};

// True when path names an existing file (or device) that can be stat'ed.
bool FileExists(const std::string& path);

// True when path names an existing regular file (through links on POSIX
// systems): no folder, device, FIFO or socket.
bool IsRegularFile(const std::string& path);

// The readers below take regular files only. They open without waiting, so a
// FIFO or a device given as an input is refused at once ("Cannot read file
// "NAME": it is not a regular file") instead of blocking the program.

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
// existing file's permission bits, owner and group (as far as the process may
// set them; on Windows its read-only, hidden, system and not-indexed
// attributes) are kept; a new file gets the usual permissions (0666 less the
// umask). What is refused before anything is written is listed at
// SaveTarget_Fault. On failure the temporary file is removed, path is
// untouched and FileError is thrown.
void SaveFileAtomically(const std::string& path, std::initializer_list<ByteView> parts);
void SaveFileAtomically(const std::string& path, ByteView bytes);

// One file of SaveFilesAtomically: its name and the parts of its contents.
struct FileToSave {
  std::string path;
  std::vector<ByteView> parts;
};

// Saves several files as SaveFileAtomically does, all or none: the folder of
// every target is locked against other saves and tidied (Saves_TidyFolder),
// every target is checked (SaveTarget_Fault; two names of one file are
// refused too), then every file is written completely to its temporary file,
// and only when all are written are they put in place, one at a time by the
// system's atomic replace, so that every name exists at every moment. Before
// that, each old file is kept under a hidden name beside it (a second link,
// or a copy where links are refused), and a journal in the folder names the
// set, so that the next save into the folder (or Saves_TidyFolder) finishes
// a set that a kill cut off. When putting any file in place fails, or a name
// was changed by someone else meanwhile, every file already replaced gets its
// old contents back and every new one is removed. Throws FileError, every
// temporary and kept file removed, with every existing file as it was.
// Throws SaveCanceled when a cancel (Saves_Cancel) came before the first file
// was replaced.
void SaveFilesAtomically(const std::vector<FileToSave>& files);

// Whether a save to path writes in place, as a stream, instead of replacing
// a file: "-" (standard output), and on POSIX systems /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N (or a link leading to one:
// written through the descriptor itself, so that a shell's ">>" appends and
// the file behind it is never replaced), a FIFO (opened without waiting: one
// that nothing reads is refused) or a character device (a terminal,
// /dev/null). SaveFileAtomically writes such a target as it comes, with no
// temporary file; SaveFilesAtomically refuses one among several files.
bool SavesAsStream(const std::string& path);

// Whether a save to path writes to the process's standard output ("-",
// /dev/stdout, /dev/fd/1).
bool SavesToStandardOutput(const std::string& path);

// Where the saves tell what they found and tidied (an interrupted set
// finished, hidden files of saves that did not end removed): one sentence
// each. An empty function (the default) drops them.
void Saves_OnNotice(std::function<void(const std::string&)> notice);

// What a save into folder does first, for a reader of the folder: takes its
// save lock, finishes a set of files whose replacing a kill cut off (the
// journal in the folder names them; all their new contents were complete),
// and removes the hidden files of saves that are not running any more; each
// is named through Saves_OnNotice. Nothing for a name that is no folder.
// Throws FileError when another save holds the folder's lock.
void Saves_TidyFolder(const std::string& folder);

// Why a save cannot replace the file at path, as the sentence FileError
// carries, or nothing when it can (also when no such file exists yet):
//   "Cannot replace "NAME": it is a folder."
//   "Cannot replace "NAME": it is not a regular file." (a block device or
//     socket; on POSIX systems a link is judged by the file it leads to;
//     streams, SavesAsStream, pass)
//   "Cannot replace "NAME": it belongs to another user, and the new file
//     would be yours." (POSIX systems, a process other than the
//     superuser's, which alone can keep the owner; --force too)
//   "Cannot replace "NAME": the file is write-protected." (no write
//     permission for anybody, or none for this process; on Windows the
//     read-only attribute), unless ForceReplaceScope is active.
// Reads the file system only.
std::optional<std::string> SaveTarget_Fault(const std::string& path);

// While one lives, saves on this thread replace write-protected files instead
// of refusing them (the command line's --force); the new file keeps the
// protection. Scopes nest; each restores what was before.
class ForceReplaceScope {
 public:
  explicit ForceReplaceScope(bool force = true);
  ~ForceReplaceScope();
  ForceReplaceScope(const ForceReplaceScope&) = delete;
  ForceReplaceScope& operator=(const ForceReplaceScope&) = delete;
  static bool Active();

 private:
  bool previous_;
};

// --- Cancelling saves -------------------------------------------------------
// For the handlers of Ctrl-C and termination signals. All three are safe to
// call from a POSIX signal handler and from any thread.

// Cancels the saves in progress and every later one until
// Saves_ResetCancel: a save that has not begun replacing files removes its
// temporaries and throws SaveCanceled; one that has begun finishes (it takes
// a few renames). The temporary files of saves that have not begun replacing
// are removed at once, so that a process ending now leaves none. Returns
// true when no save is replacing files at this moment, that is, when the
// process may end now without leaving part of a save in place.
bool Saves_Cancel() noexcept;

// Whether Saves_Cancel was called since the last Saves_ResetCancel.
bool Saves_CancelRequested() noexcept;

// Lets saves run again.
void Saves_ResetCancel() noexcept;

// A text that is the same for two names of one file and differs for names
// of different files: for a descriptor of the process ("-", /dev/stdout,
// /dev/fd/N) its number; for a file reached through links (a dangling one
// too) that of the file the links lead to; for an existing file its device
// and number; for a name not there yet, that of its nearest
// existing folder followed by the rest of the name (on Windows in one case,
// as the system compares names). Reads the file system only; throws nothing.
std::string FileIdentity(const std::string& path);

// Directory part of path including its last separator ("/", "\" or ":"),
// empty when there is none.
std::string DirectoryOf(const std::string& path);

// Whether c separates folders in a path typed on this system: "/", and on
// Windows also "\".
bool IsFolderSeparator(char c);

// Directory of the running executable, with a trailing "/", or empty when the
// platform cannot tell.
std::string ExecutableDirectory();

namespace testing {
// Test hook: after this many more bytes have been written by
// SaveFileAtomically, the next write fails as a full disk would (ENOSPC).
// std::nullopt turns the fault off. Not for production use.
void FailWritesAfter(std::optional<uint64_t> byteCount);

// Test hook: after this many more files have been put in place by a save,
// putting the next one in place fails (as an I/O error would).
// std::nullopt turns the fault off. Not for production use.
void FailReplacingAfter(std::optional<int> fileCount);

// Test hook (POSIX systems): old files are kept as copies, as on a file
// system without hard links. Not for production use.
void RefuseHardLinks(bool refuse);

// Test hook: called after each temporary file of a save is complete
// ("written"), after the journal of a set is in place ("journal"), after
// each old file is kept ("kept") and after each file is put in place
// ("replaced"), with the name saved. An empty function turns it off. Not
// for production use.
void OnSaveProgress(std::function<void(const char* stage, const std::string& path)> hook);
}  // namespace testing

}  // namespace tolv
