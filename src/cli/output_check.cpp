// Checking outputs before anything is there to write.
#include "cli/output_check.h"

#include <filesystem>

#include "common/file_io.h"
#include "common/utf8_path.h"

namespace tolv::cli {
namespace {

namespace fs = std::filesystem;

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
