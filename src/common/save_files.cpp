// Saves of one or several files, all or none: the order of the steps, which
// is the same on every platform. The platform's part is in save_platform.h.
#include <algorithm>
#include <utility>

#include "common/save_platform.h"

namespace tolv {
namespace {

using save_detail::KeptOld;
using save_detail::Temporary;

thread_local bool t_forceReplace = false;
std::optional<int> g_replaceBudget;  // test hook, see testing::FailReplacingAfter
std::function<void(const char*, const std::string&)> g_progressHook;  // testing::OnSaveProgress

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

void Progress(const char* stage, const std::string& path) {
  if (g_progressHook) g_progressHook(stage, path);
}

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
void ReplaceAll(const std::vector<FileToSave>& files, const std::vector<std::string>& targets,
                Temporaries& temps) {
  ReplacingScope replacing(files.front().path);
  std::vector<std::optional<KeptOld>> kept(files.size());
  size_t placed = 0;
  try {
    if (files.size() > 1) {
      for (size_t i = 0; i < files.size(); ++i) kept[i] = save_detail::KeepOld(targets[i], files[i].path);
    }
    for (; placed < files.size(); ++placed) {
      PutInPlace(temps.Name(placed), targets[placed], files[placed].path);
      temps.PutInPlace(placed);
      Progress("replaced", files[placed].path);
    }
  } catch (const std::exception& error) {
    const std::string lost = RollBack(files, targets, kept, placed);
    throw FileError(std::string(error.what()) + (files.size() > 1 ? " Nothing was replaced." : "") + lost);
  }
  for (const std::optional<KeptOld>& old : kept)
    if (old) save_detail::RemoveQuietly(old->name);
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
  CheckTargets(files, targets);
  // Every file is complete on the disk before the first one replaces anything.
  Temporaries temps;
  for (size_t i = 0; i < files.size(); ++i) {
    temps.Add(save_detail::WriteTemporary(targets[i], files[i].path, files[i].parts));
    Progress("written", files[i].path);
  }
  ReplaceAll(files, targets, temps);
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
