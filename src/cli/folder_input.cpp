// Folders of component BIN files.
#include "cli/folder_input.h"

#include <filesystem>

#include "cli/steps.h"
#include "common/file_io.h"
#include "common/utf8_path.h"

namespace tolv::cli {
namespace {

bool IsFolder(const std::string& path, std::error_code& error) {
  return std::filesystem::is_directory(PathFromUtf8(path), error);
}

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(PathFromUtf8(path), error);
}

}  // namespace

bool NamesFolder(const std::string& arg) {
  std::error_code error;
  return (!arg.empty() && IsFolderSeparator(arg.back())) || IsFolder(arg, error);
}

std::string FolderFileName(const std::string& dir, ComponentKind kind) {
  const std::string name = ComponentWord(kind) + ".bin";
  if (dir.empty() || IsFolderSeparator(dir.back())) return dir + name;
  char separator = '/';
  for (char c : dir)
    if (IsFolderSeparator(c)) separator = c;
  return dir + separator + name;
}

std::vector<FolderFile> FolderComponentFiles(const std::string& dir) {
  std::error_code error;
  if (!IsFolder(dir, error)) {
    const std::string reason = error         ? error.message()
                               : Exists(dir) ? "it is not a folder"
                                             : "No such file or directory";
    throw FileError("Cannot read the folder \"" + dir + "\": " + reason);
  }
  std::vector<FolderFile> files;
  for (ComponentKind kind : kAllComponents) {
    const std::string path = FolderFileName(dir, kind);
    if (Exists(path)) files.push_back({kind, path});
  }
  return files;
}

std::string NoComponentFilesText(const std::string& dir) {
  std::string names;
  for (ComponentKind kind : kAllComponents)
    names += (names.empty() ? "" : ", ") + ComponentWord(kind) + ".bin";
  return "The folder \"" + dir + "\" holds no component BIN file: a folder is read for " + names +
         " (the files \"-o DIR/\" writes).";
}

std::vector<std::string> FolderLeftovers(const std::string& dir, const Workspace& workspace) {
  std::vector<std::string> leftovers;
  for (ComponentKind kind : kAllComponents) {
    const std::string path = FolderFileName(dir, kind);
    if (!workspace.Present(kind) && Exists(path)) leftovers.push_back(path);
  }
  return leftovers;
}

std::string LeftoverText(const std::string& path) { return path + " is from before and was not replaced"; }

}  // namespace tolv::cli
