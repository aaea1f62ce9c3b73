// Checking outputs before anything is there to write.
#include "cli/output_check.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/file_io.h"

namespace tolv::cli {
namespace {

namespace fs = std::filesystem;

// "got/" and "got" are the same folder; "" is the current one.
fs::path FolderPath(const std::string& folder) {
  std::string text = folder;
  while (text.size() > 1 && (text.back() == '/' || text.back() == '\\')) text.pop_back();
  return text.empty() ? fs::path(".") : fs::path(text);
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

}  // namespace

std::string Folder_WriteFault(const std::string& folder, bool mayCreate) {
  fs::path path = FolderPath(folder);
  std::error_code error;
  if (!fs::exists(path, error)) {
    if (!mayCreate) return "the folder \"" + path.string() + "\" does not exist";
    // The nearest part of the path that exists must be a folder that can
    // take the new one.
    while (!fs::exists(path, error)) {
      path = path.has_relative_path() && path.has_parent_path() ? path.parent_path() : fs::path(".");
    }
  }
  if (!fs::is_directory(path, error)) return "\"" + path.string() + "\" is not a folder";
  if (!TakesANewFile(path)) return "the folder \"" + path.string() + "\" cannot be written";
  return {};
}

std::vector<std::string> Outputs_CheckBeforehand(const std::vector<Step>& outputs, const Workspace& expected) {
  std::vector<std::string> faults;
  for (const Step& step : outputs) {
    if (step.role != StepRole::kOutput) continue;
    std::string fault;
    if (step.refusal) fault = step.refusal(expected).value_or("");
    if (fault.empty())
      fault = Folder_WriteFault(step.targetIsFolder ? step.target : DirectoryOf(step.target), step.targetIsFolder);
    std::error_code error;
    if (fault.empty() && !step.targetIsFolder && fs::is_directory(step.target, error))
      fault = "\"" + step.target + "\" is a folder";
    if (!fault.empty()) faults.push_back("\"" + step.text + "\": " + fault);
  }
  return faults;
}

}  // namespace tolv::cli
