// Saves of one or several files, all or none: the order of the steps, which
// is the same on every platform. The platform's part is in save_platform.h.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

#include "common/save_platform.h"
#include "common/utf8_path.h"

namespace tolv {
namespace {

using save_detail::KeptOld;
using save_detail::Temporary;

thread_local bool t_forceReplace = false;
std::optional<int> g_replaceBudget;  // test hook, see testing::FailReplacingAfter
std::function<void(const char*, const std::string&)> g_progressHook;  // testing::OnSaveProgress
std::function<void(const std::string&)> g_notice;                     // Saves_OnNotice

// The journal of a set being replaced, in the set's folder: one line per
// file, the file's name and its temporary's name, each in hexadecimal so
// that any byte of a name survives. In place only while the files are
// being replaced; a run that finds it finishes the set.
constexpr const char* kJournalName = ".tolv-journal";
constexpr const char* kJournalHead = "tolv set 1";
// The names of a save's own hidden files (save_detail: temporaries, kept
// old files), which a save that is not running any more leaves behind.
constexpr const char* kLeftoverPrefixes[] = {".tolv-save-", ".tolv-old-"};

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

void Progress(const char* stage, const std::string& path) {
  if (g_progressHook) g_progressHook(stage, path);
}

void Notice(const std::string& text) {
  if (g_notice) g_notice(text);
}

// The folder part of path with its last separator, empty when none (a ":"
// or "\\" within a POSIX name is part of the name).
std::string FolderPart(const std::string& path) {
  const auto last = std::find_if(path.rbegin(), path.rend(), IsFolderSeparator);
  return path.substr(0, static_cast<size_t>(path.rend() - last));
}

std::string FolderOf(const std::string& path) {
  const std::string dir = FolderPart(path);
  return dir.empty() ? "./" : dir;
}

std::string Hex(const std::string& text) {
  std::string out;
  char digits[3];
  for (unsigned char c : text) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    out += digits;
  }
  return out;
}

std::optional<std::string> Unhex(const std::string& hex) {
  if (hex.size() % 2) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1) return std::nullopt;
    out += static_cast<char>(value);
  }
  return out;
}

// A name of a file within a folder: no separator, not "." or "..".
bool PlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) { return c == '\0' || IsFolderSeparator(c); });
}

// The folder's journal as pairs of file and temporary names (names within
// the folder); nothing when there is none or it cannot be read.
std::vector<std::pair<std::string, std::string>> ReadJournal(const std::vector<uint8_t>& bytes) {
  std::vector<std::pair<std::string, std::string>> entries;
  const std::string text(bytes.begin(), bytes.end());
  size_t at = text.find('\n');
  if (at == std::string::npos || text.substr(0, at) != kJournalHead) return entries;
  for (size_t next; (next = text.find('\n', ++at)) != std::string::npos; at = next) {
    const std::string line = text.substr(at, next - at);
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::optional<std::string> file = Unhex(line.substr(0, tab)), temp = Unhex(line.substr(tab + 1));
    // Only names within the folder, and only this program's temporaries:
    // a journal someone else wrote cannot move files anywhere else.
    if (file && temp && PlainName(*file) && PlainName(*temp) && temp->starts_with(kLeftoverPrefixes[0]))
      entries.emplace_back(*file, *temp);
  }
  return entries;
}

std::string Quoted(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + Quote(name);
  return list;
}

// Under the folder's lock: a set whose replacing a kill cut off is finished
// (its new files were all complete before the journal was written), and the
// hidden files of saves that are not running any more are removed. Each is
// named through Saves_OnNotice.
void TidyLockedFolder(const std::string& folder) {
  const std::string journal = folder + kJournalName;
  if (const std::optional<std::vector<uint8_t>> bytes = save_detail::ReadInFolder(journal)) {
    std::vector<std::string> finished;
    for (const auto& [file, temp] : ReadJournal(*bytes)) {
      if (!save_detail::NameIdentity(folder + temp)) continue;
      save_detail::PutInPlace(folder + temp, folder + file, folder + file);
      finished.push_back(folder + file);
    }
    save_detail::RemoveQuietly(journal);
    Notice(finished.empty() ? "Found the journal of an interrupted save in " + Quote(folder) +
                                  " whose files were all in place already; removed it."
                            : "Finished an interrupted save in " + Quote(folder) + ": " + Quoted(finished) +
                                  " now hold the contents it was writing.");
  }
  std::vector<std::string> removed;
  std::error_code error;
  for (std::filesystem::directory_iterator it(PathFromUtf8(folder), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = Utf8FromPath(it->path().filename());
    for (const char* prefix : kLeftoverPrefixes) {
      if (!name.starts_with(prefix)) continue;
      save_detail::RemoveQuietly(folder + name);
      removed.push_back(folder + name);
    }
  }
  if (!removed.empty()) Notice("Removed what saves that did not end left behind: " + Quoted(removed) + ".");
}

// The save locks of the folders of targets (each folder once), held while
// it lives, each folder tidied once locked.
class FolderLocks {
 public:
  FolderLocks(const std::vector<std::string>& targets, const std::vector<FileToSave>& files) {
    std::vector<std::string> seen;
    for (size_t i = 0; i < targets.size(); ++i) {
      const std::string folder = FolderOf(targets[i]);
      const std::string identity = save_detail::ExistingFileIdentity(folder).value_or(folder);
      const auto same = std::find(seen.begin(), seen.end(), identity);
      if (same != seen.end()) {
        locks_[static_cast<size_t>(same - seen.begin())]->AddName(folder);
        continue;
      }
      seen.push_back(identity);
      locks_.push_back(std::make_unique<save_detail::FolderLock>(folder, files[i].path));
      TidyLockedFolder(folder);
    }
  }

 private:
  std::vector<std::unique_ptr<save_detail::FolderLock>> locks_;
};

class Temporaries;

// The journal of a set in one folder, in place while it lives (removed at
// its end); nothing for a set across folders.
class Journal {
 public:
  Journal(const std::vector<std::string>& targets, Temporaries& temps);
  ~Journal() { Remove(); }
  // Done with: the set is in place, or given back.
  void Remove() {
    if (!path_.empty()) save_detail::RemoveQuietly(path_);
    path_.clear();
  }
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

 private:
  std::string path_;
};

// The temporary files of one save: whatever is still listed at the end of
// the save (a failure, a cancel) is removed.
class Temporaries {
 public:
  Temporaries() = default;
  Temporaries(const Temporaries&) = delete;
  Temporaries& operator=(const Temporaries&) = delete;
  ~Temporaries() {
    for (Temporary& temp : items_) Done(temp, true);
  }
  void Add(Temporary temp) { items_.push_back(std::move(temp)); }
  const std::string& Name(size_t i) const { return items_[i].name; }
  // The temporary is now the file itself.
  void PutInPlace(size_t i) { Done(items_[i], false); }

 private:
  static void Done(Temporary& temp, bool remove) {
    if (temp.name.empty()) return;
    if (remove) save_detail::RemoveQuietly(temp.name);
    save_detail::Temporaries_Unregister(temp.slot);
    temp.name.clear();
  }
  std::vector<Temporary> items_;
};

Journal::Journal(const std::vector<std::string>& targets, Temporaries& temps) {
  const std::string folder = FolderOf(targets.front());
  for (const std::string& target : targets)
    if (FolderOf(target) != folder) return;
  std::string text = std::string(kJournalHead) + "\n";
  for (size_t i = 0; i < targets.size(); ++i)
    text += Hex(targets[i].substr(FolderPart(targets[i]).size())) + "\t" +
            Hex(temps.Name(i).substr(FolderPart(temps.Name(i)).size())) + "\n";
  const std::string journal = folder + kJournalName;
  save_detail::Temporary temp = save_detail::WriteTemporary(
      journal, journal, {ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size())});
  try {
    save_detail::PutInPlace(temp.name, journal, journal);
  } catch (...) {
    save_detail::RemoveQuietly(temp.name);
    save_detail::Temporaries_Unregister(temp.slot);
    throw;
  }
  save_detail::Temporaries_Unregister(temp.slot);
  path_ = journal;
  Progress("journal", journal);
}

// The replacing part of a save, which a cancel lets finish.
class ReplacingScope {
 public:
  explicit ReplacingScope(const std::string& shown) {
    if (!save_detail::Replacing_Begin()) save_detail::ThrowIfCanceled(shown);
  }
  ~ReplacingScope() { save_detail::Replacing_End(); }
  ReplacingScope(const ReplacingScope&) = delete;
  ReplacingScope& operator=(const ReplacingScope&) = delete;
};

// Every target can be replaced, and no file is named twice.
void CheckTargets(const std::vector<FileToSave>& files, const std::vector<std::string>& targets) {
  std::vector<std::string> identities;
  for (size_t i = 0; i < files.size(); ++i) {
    if (std::optional<std::string> fault = SaveTarget_Fault(files[i].path)) throw FileError(*fault);
    identities.push_back(FileIdentity(targets[i]));
    for (size_t j = 0; j < i; ++j) {
      if (identities[j] == identities[i])
        throw FileError("Cannot save " + Quote(files[j].path) + " and " + Quote(files[i].path) +
                        " together: they name one file.");
    }
  }
}

void PutInPlace(const std::string& temp, const std::string& target, const std::string& shown) {
  if (g_replaceBudget) {
    if (*g_replaceBudget == 0) throw FileError("Cannot create file " + Quote(shown) + ": Input/output error");
    --*g_replaceBudget;
  }
  save_detail::PutInPlace(temp, target, shown);
}

// After a failure while replacing: the files replaced so far get their old
// contents back (a new one is removed), and the old files kept but not yet
// replaced return to their names. Returns a sentence for each old file that
// could not be given back, naming where it is.
std::string RollBack(const std::vector<FileToSave>& files, const std::vector<std::string>& targets,
                     const std::vector<std::optional<KeptOld>>& kept, size_t placed) {
  std::string lost;
  for (size_t i = 0; i < kept.size(); ++i) {
    if (!kept[i]) {
      if (i < placed) save_detail::RemoveQuietly(targets[i]);
      continue;
    }
    if (i >= placed && !kept[i]->moved) {
      save_detail::RemoveQuietly(kept[i]->name);
    } else if (!save_detail::RestoreOld(*kept[i], targets[i])) {
      lost += " The old " + Quote(files[i].path) + " is kept as " + Quote(kept[i]->name) + ".";
    }
  }
  return lost;
}

// Puts every temporary in place. With several files, the old ones are kept
// first, so that a failure part-way can give every file back.
// Each name is still what it was when the save began: a name swapped for a
// link (or another file) meanwhile is refused, not written through.
void RequireUnchanged(const std::string& target, const std::optional<std::string>& before,
                      const std::string& shown) {
  if (save_detail::NameIdentity(target) != before)
    throw FileError("Cannot replace " + Quote(shown) +
                    ": it was changed by someone else while it was saved.");
}

void ReplaceAll(const std::vector<FileToSave>& files, const std::vector<std::string>& targets,
                const std::vector<std::optional<std::string>>& identities, Temporaries& temps,
                std::optional<Journal>& journal) {
  ReplacingScope replacing(files.front().path);
  std::vector<std::optional<KeptOld>> kept(files.size());
  size_t placed = 0;
  try {
    if (files.size() > 1) {
      for (size_t i = 0; i < files.size(); ++i) {
        kept[i] = save_detail::KeepOld(targets[i], files[i].path);
        Progress("kept", files[i].path);
      }
    }
    // One file at a time, each by the system's atomic replace: every name
    // exists at every moment.
    for (; placed < files.size(); ++placed) {
      RequireUnchanged(targets[placed], identities[placed], files[placed].path);
      PutInPlace(temps.Name(placed), targets[placed], files[placed].path);
      temps.PutInPlace(placed);
      Progress("replaced", files[placed].path);
    }
  } catch (const std::exception& error) {
    const std::string lost = RollBack(files, targets, kept, placed);
    if (journal) journal->Remove();
    throw FileError(std::string(error.what()) + (files.size() > 1 ? " Nothing was replaced." : "") + lost);
  }
  for (const std::optional<KeptOld>& old : kept)
    if (old) save_detail::RemoveQuietly(old->name);
  // Still within the replacing part, which a request to end waits for.
  if (journal) journal->Remove();
}

// What a cancel left of a save: nothing, which the message says for every
// file of it.
[[noreturn]] void Canceled(const std::vector<FileToSave>& files) {
  const std::string first = "Cancelled: " + Quote(files[0].path);
  if (files.size() == 1) throw SaveCanceled(first + " was not written.");
  if (files.size() == 2) throw SaveCanceled(first + " and " + Quote(files[1].path) + " were not written.");
  throw SaveCanceled(first + " and the " + std::to_string(files.size() - 1) +
                     " other files saved with it were not written.");
}

void SaveAll(const std::vector<FileToSave>& files) {
  save_detail::ThrowIfCanceled(files.front().path);
  std::vector<std::string> targets;
  for (const FileToSave& file : files) targets.push_back(save_detail::ReplacedFile(file.path));
  const FolderLocks locks(targets, files);
  CheckTargets(files, targets);
  std::vector<std::optional<std::string>> identities;
  for (const std::string& target : targets) identities.push_back(save_detail::NameIdentity(target));
  // Every file is complete on the disk before the first one replaces anything.
  Temporaries temps;
  for (size_t i = 0; i < files.size(); ++i) {
    temps.Add(save_detail::WriteTemporary(targets[i], files[i].path, files[i].parts));
    Progress("written", files[i].path);
  }
  std::optional<Journal> journal;
  if (files.size() > 1) journal.emplace(targets, temps);
  ReplaceAll(files, targets, identities, temps, journal);
}

}  // namespace

void SaveFileAtomically(const std::string& path, std::initializer_list<ByteView> parts) {
  SaveFilesAtomically({FileToSave{path, std::vector<ByteView>(parts)}});
}

void SaveFileAtomically(const std::string& path, ByteView bytes) { SaveFileAtomically(path, {bytes}); }

void SaveFilesAtomically(const std::vector<FileToSave>& files) {
  if (files.empty()) return;
  for (const FileToSave& file : files) {
    if (file.path.empty()) throw FileError("Cannot create a file without a name");
    if (files.size() > 1 && save_detail::IsStream(file.path))
      throw FileError("Cannot save " + Quote(file.path) +
                      " together with other files: it is not a regular file.");
  }
  if (save_detail::IsStream(files.front().path)) {
    save_detail::WriteStream(files.front().path, files.front().parts);
    return;
  }
  try {
    SaveAll(files);
  } catch (const SaveCanceled&) {
    Canceled(files);
  }
}

void Saves_OnNotice(std::function<void(const std::string&)> notice) { g_notice = std::move(notice); }

void Saves_TidyFolder(const std::string& folder) {
  std::string dir = folder.empty() ? "./" : folder;
  if (!IsFolderSeparator(dir.back())) dir += "/";
  std::error_code error;
  if (!std::filesystem::is_directory(PathFromUtf8(dir), error)) return;  // the reader says why
  const save_detail::FolderLock lock(dir, dir);
  TidyLockedFolder(dir);
}

bool SavesAsStream(const std::string& path) { return !path.empty() && save_detail::IsStream(path); }

bool SavesToStandardOutput(const std::string& path) {
  return !path.empty() && save_detail::IsStandardOutput(path);
}

std::optional<std::string> SaveTarget_Fault(const std::string& path) {
  if (SavesAsStream(path)) return std::nullopt;
  std::string target;
  try {
    target = save_detail::ReplacedFile(path);
  } catch (const FileError& error) {
    return error.what();
  }
  const save_detail::TargetInfo info = save_detail::InspectTarget(target);
  if (!info.exists) return std::nullopt;
  if (info.folder) return "Cannot replace " + Quote(path) + ": it is a folder.";
  if (!info.regular) return "Cannot replace " + Quote(path) + ": it is not a regular file.";
  if (info.foreignOwner)
    return "Cannot replace " + Quote(path) + ": it belongs to another user, and the new file would be yours.";
  if (info.writeProtected && !ForceReplaceScope::Active())
    return "Cannot replace " + Quote(path) + ": the file is write-protected.";
  return std::nullopt;
}

ForceReplaceScope::ForceReplaceScope(bool force) : previous_(t_forceReplace) { t_forceReplace = force; }
ForceReplaceScope::~ForceReplaceScope() { t_forceReplace = previous_; }
bool ForceReplaceScope::Active() { return t_forceReplace; }

std::string FileIdentity(const std::string& path) {
  if (std::optional<std::string> descriptor = save_detail::DescriptorIdentity(path)) return *descriptor;
  // The file a save would replace (a link, even one to a file not there
  // yet, is the file it leads to), then the nearest existing folder, and the
  // names below it.
  std::string rest;
  std::string at = path;
  try {
    at = save_detail::ReplacedFile(path);
  } catch (const FileError&) {
    // A loop of links: judged by its own name.
  }
  for (int depth = 0; depth < 256; ++depth) {
    while (at.size() > 1 && IsFolderSeparator(at.back())) at.pop_back();
    if (std::optional<std::string> identity = save_detail::ExistingFileIdentity(at.empty() ? "." : at))
      return *identity + rest;
    const std::string parent = DirectoryOf(at);
    if (parent == at || at.empty()) break;
    rest = "/" + save_detail::ComparableName(at.substr(parent.size())) + rest;
    at = parent;
  }
  return "?" + save_detail::ComparableName(path);
}

namespace testing {
void FailReplacingAfter(std::optional<int> fileCount) { g_replaceBudget = fileCount; }
void OnSaveProgress(std::function<void(const char*, const std::string&)> hook) {
  g_progressHook = std::move(hook);
}
}  // namespace testing

}  // namespace tolv
