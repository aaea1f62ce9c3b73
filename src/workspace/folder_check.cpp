// Trying a folder before anything is there to write.
#include "workspace/folder_check.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/file_io.h"
#include "common/utf8_path.h"

namespace tolv {
namespace {

namespace fs = std::filesystem;

// "got/" and "got" are the same folder; "" is the current one.
fs::path FolderPath(const std::string& folder) {
  std::string text = folder;
  while (text.size() > 1 && IsFolderSeparator(text.back())) text.pop_back();
  return text.empty() ? fs::path(".") : PathFromUtf8(text);
}

// Creates and removes a file in an existing folder: the one sure test of
// whether a save can put its file there.
bool TakesANewFile(const fs::path& folder) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path probe = folder / (".tolv-write-test-" + std::to_string(stamp));
  bool written = false;
  {
    std::ofstream file(probe, std::ios::binary | std::ios::trunc);
    written = file.good();
  }
  std::error_code ignored;
  fs::remove(probe, ignored);
  return written;
}

std::string Quoted(const fs::path& path) { return "\"" + Utf8FromPath(path) + "\""; }

}  // namespace

std::string Folder_WriteFault(const std::string& folder, bool mayCreate) {
  fs::path path = FolderPath(folder);
  std::error_code error;
  if (!fs::exists(path, error)) {
    if (!mayCreate) return "the folder " + Quoted(path) + " does not exist";
    // The nearest part of the path that exists must be a folder that can
    // take the new one.
    while (!fs::exists(path, error)) {
      path = path.has_relative_path() && path.has_parent_path() ? path.parent_path() : fs::path(".");
    }
  }
  if (!fs::is_directory(path, error)) return Quoted(path) + " is not a folder";
  if (!TakesANewFile(path)) return "the folder " + Quoted(path) + " cannot be written";
  return {};
}

}  // namespace tolv
