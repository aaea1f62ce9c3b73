// The command line's side of inspecting files: which files an argument
// stands for (a folder's KIND.bin files, a backup folder as a whole) and the
// report printed as text or JSON.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workspace/file_inspection.h"
#include "workspace/workspace.h"

namespace tolv::cli {

// One file to inspect: a file named on the command line (kind unset: told by
// its name and size) or one KIND.bin of a folder.
struct InspectTarget {
  std::string path;
  std::optional<ComponentKind> kind;
};

// The files a command-line argument stands for: the argument itself, or, for
// a folder (NamesFolder, cli/folder_input.h), every KIND.bin in it (and the
// backup.tfd of a backup folder). Throws
// FileError for a folder that cannot be read or holds no KIND.bin.
std::vector<InspectTarget> InspectTargets(const std::string& arg);

// A backup folder as a whole ("tolv backup" makes them): its form "backup
// folder", the SystemID, model and date backup.json records, and as problems
// every fault that keeps "tolv restore" from sending it (Backup_Faults).
FileReport InspectBackupFolder(const std::string& dir);

// InspectFile or InspectComponentBin, as the target says.
FileReport Inspect(const InspectTarget& target);

// Inspects every file the arguments stand for (InspectTargets) in order and
// hands each report to use; a backup folder's own report
// (InspectBackupFolder) comes before those of its files. A file or folder that cannot be read is named on
// standard error and the others are still inspected. Returns whether every
// one could be read.
bool InspectArguments(const std::vector<std::string>& args,
                      const std::function<void(const FileReport&)>& use);

// Human-readable report: a header line, then indented lines; BAD checksums are
// listed one by one, good ones summarised per group.
void PrintReportText(const FileReport& report, std::FILE* out);
// One JSON object on one line, every checksum listed.
void PrintReportJson(const FileReport& report, std::FILE* out);

}  // namespace tolv::cli
