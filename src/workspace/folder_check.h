// Whether a folder can take the files of a save, asked before a long job
// (a download, a backup) rather than learnt after it.
#pragma once

#include <string>

namespace tolv {

// Why a file cannot be written into folder ("" is the current folder), or an
// empty text when it can: the folder must exist, be a folder and take a new
// file (tried by creating and removing one). With mayCreate a folder that
// does not exist yet passes when its nearest existing parent does. Reads the
// file system only; leaves nothing behind.
std::string Folder_WriteFault(const std::string& folder, bool mayCreate);

}  // namespace tolv
