// Checking outputs before anything is there to write.
#include "cli/output_check.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/file_io.h"
#include "common/utf8_path.h"

namespace tolv::cli {
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

// The first fault of an output step, or an empty text.
std::string OutputFault(const Step& step, const Workspace& expected) {
  if (step.refusal) {
    if (std::optional<std::string> refusal = step.refusal(expected)) return *refusal;
  }
  // A stream (standard output, a pipe, a device) is written in place.
  if (!step.targetIsFolder && SavesAsStream(step.target)) return {};
  std::string fault =
      Folder_WriteFault(step.targetIsFolder ? step.target : DirectoryOf(step.target), step.targetIsFolder);
  if (!fault.empty() || !step.writes) return fault;
  for (const std::string& file : step.writes(expected)) {
    if (std::optional<std::string> targetFault = SaveTarget_Fault(file)) return *targetFault;
  }
  return {};
}

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

std::vector<std::string> Outputs_CheckBeforehand(const std::vector<Step>& outputs,
                                                 const Workspace& expected) {
  std::vector<std::string> faults;
  for (const Step& step : outputs) {
    if (step.role != StepRole::kOutput) continue;
    const std::string fault = OutputFault(step, expected);
    if (!fault.empty()) faults.push_back("\"" + step.text + "\": " + fault);
  }
  return faults;
}

void Outputs_CheckDistinct(const std::vector<Step>& steps) {
  Workspace everything;
  everything.present.fill(true);
  struct Written {
    std::string identity;
    std::string file;
    const Step* step;
  };
  std::vector<Written> seen;
  for (const Step& step : steps) {
    if (step.role != StepRole::kOutput || !step.writes) continue;
    const size_t before = seen.size();
    for (const std::string& file : step.writes(everything)) {
      const std::string identity = FileIdentity(file);
      for (size_t i = 0; i < before; ++i) {
        if (seen[i].identity != identity) continue;
        throw UsageError("\"" + seen[i].step->text + "\" and \"" + step.text + "\" both write \"" + file +
                         "\"; give each output a file of its own");
      }
      seen.push_back({identity, file, &step});
    }
  }
}

}  // namespace tolv::cli
