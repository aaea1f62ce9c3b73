// Folders of component BIN files.
#include "cli/folder_input.h"

#include <filesystem>

#include "cli/steps.h"
#include "common/file_io.h"

namespace tolv::cli {

bool NamesFolder(const std::string& arg) {
  std::error_code error;
  return arg.ends_with('/') || std::filesystem::is_directory(arg, error);
}

std::string FolderFileName(const std::string& dir, ComponentKind kind) {
  const std::string separator = dir.empty() || dir.ends_with('/') ? "" : "/";
  return dir + separator + ComponentWord(kind) + ".bin";
}

std::vector<FolderFile> FolderComponentFiles(const std::string& dir) {
  std::error_code error;
  if (!std::filesystem::is_directory(dir, error)) {
    const std::string reason = error                                 ? error.message()
                               : std::filesystem::exists(dir, error) ? "it is not a folder"
                                                                     : "No such file or directory";
    throw FileError("Cannot read the folder \"" + dir + "\": " + reason);
  }
  std::vector<FolderFile> files;
  for (ComponentKind kind : kAllComponents) {
    const std::string path = FolderFileName(dir, kind);
    if (std::filesystem::exists(path, error)) files.push_back({kind, path});
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

}  // namespace tolv::cli
