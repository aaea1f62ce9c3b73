// Folders of component BIN files: what "-o DIR/" writes, one KIND.bin per
// present component, and what a folder given as an input is read for
// (convert, upload, diff, info, verify).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "workspace/workspace.h"

namespace tolv::cli {

// Whether a command-line argument stands for a folder: it ends with a folder
// separator ("/", on Windows also "\") or names an existing directory.
bool NamesFolder(const std::string& arg);

// DIR/KIND.bin: dir, a separator when it does not end with one (the one dir
// already uses, so that a name never mixes "/" and "\"; "/" when it has
// none), the component's word in lower case ("loader", "firmware", "flash",
// "eeprom", "defaults", "background") and ".bin".
std::string FolderFileName(const std::string& dir, ComponentKind kind);

struct FolderFile {
  ComponentKind kind;
  std::string path;  // FolderFileName(dir, kind)
};

// The KIND.bin files present in dir, in component order. A name that exists
// but is no file (a folder, say) is listed too, so that reading it fails with
// the reason instead of being passed over. Throws FileError when dir is not
// a folder that can be read.
std::vector<FolderFile> FolderComponentFiles(const std::string& dir);

// Why dir gives nothing: it holds no KIND.bin, and which names are read.
std::string NoComponentFilesText(const std::string& dir);

// The KIND.bin names in dir that exist although workspace, saved there with
// "-o DIR/", does not write them (its component is absent): files from an
// earlier save that a later folder load would mix in. Reads the file system
// only; an unreadable folder gives none.
std::vector<std::string> FolderLeftovers(const std::string& dir, const Workspace& workspace);

// The note that names a file left from before: "NAME is from before and was
// not replaced".
std::string LeftoverText(const std::string& path);

}  // namespace tolv::cli
