// tolv diff: how two backups differ.
#include <cctype>
#include <cstdio>
#include <memory>

#include "cli/backup_diff.h"
#include "cli/cli_command.h"
#include "cli/folder_input.h"
#include "cli/steps.h"
#include "common/file_io.h"
#include "flash/model_list.h"
#include "workspace/backup_folder.h"

namespace tolv::cli {
namespace {

struct DiffArgs {
  bool json = false;
  std::vector<std::string> backups;
};

DiffArgs ParseDiffArgs(const std::vector<std::string>& args) {
  DiffArgs parsed;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "--json") {
      parsed.json = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option \"" + arg + "\"");
    } else {
      parsed.backups.push_back(arg);
    }
  }
  if (parsed.backups.size() != 2)
    throw UsageError("give two backups to compare, not " + std::to_string(parsed.backups.size()));
  return parsed;
}

// A backup is what one input step of "tolv convert" loads; a flash block
// file is only part of the settings and is no backup.
Step BackupStep(const std::string& arg) {
  std::string word = arg.substr(0, arg.find('='));
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (word == "block") throw UsageError("\"" + arg + "\" is one settings section, not a backup");
  // Checksums are part of the bytes compared; "tolv verify" checks them.
  return ParseInputStep(arg, false);
}

// Loads one backup into workspace; its messages (a refusal, bad checksums)
// go to standard error. A backup folder must match its SHA256SUMS, as for
// "tolv restore", and gives the SystemID its backup.json records. Returns
// whether it loaded.
bool LoadBackup(const std::string& arg, const Step& step, Workspace& workspace) {
  const bool backupFolder = NamesFolder(arg) && Backup_IsFolder(arg);
  if (backupFolder) {
    const std::vector<std::string> faults = Backup_Faults(arg);
    for (const std::string& fault : faults) std::fprintf(stderr, "%s: %s\n", arg.c_str(), fault.c_str());
    if (!faults.empty()) {
      std::fprintf(stderr, "tolv diff: \"%s\" does not match its %s.\n", arg.c_str(), kBackupSumsName);
      return false;
    }
  }
  ConsoleInteraction ui(false);
  if (RunSteps({step}, workspace, ui).Stops()) {
    std::fprintf(stderr, "tolv diff: \"%s\" could not be loaded.\n", step.text.c_str());
    return false;
  }
  if (backupFolder && workspace.systemId == 0)
    workspace.systemId = Backup_ReadRecord(arg).systemId.value_or(0);
  return true;
}

int RunDiff(const std::vector<std::string>& args) {
  const DiffArgs parsed = ParseDiffArgs(args);
  const Step stepA = BackupStep(parsed.backups[0]);
  const Step stepB = BackupStep(parsed.backups[1]);
  try {
    auto a = std::make_unique<Workspace>();
    auto b = std::make_unique<Workspace>();
    const bool loadedA = LoadBackup(parsed.backups[0], stepA, *a);
    const bool loadedB = LoadBackup(parsed.backups[1], stepB, *b);
    if (!loadedA || !loadedB)
      return ExitStatus(Outcome::Failed("a backup cannot be loaded", FailureCause::kBadArgument));
    const BackupDiff diff = Backups_Compare(*a, *b);
    try {
      ModelList_Load();
    } catch (const FileError& error) {
      std::fprintf(stderr, "%s\n", error.what());
    }
    if (parsed.json) {
      PrintBackupDiffJson(diff, parsed.backups[0], parsed.backups[1], stdout);
    } else {
      PrintBackupDiffText(diff, parsed.backups[0], parsed.backups[1], stdout);
    }
    return ExitStatus(diff.Same() ? Outcome::Done() : Outcome::Failed("the backups differ"));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tolv diff: %s\n", error.what());
    return ExitStatus(Outcome::Failed(error.what(), FailureCause::kBadArgument));
  }
}

}  // namespace

const CliCommand kDiffCommand = {
    "diff", "compare two backups: SystemID, components, settings sections, EEPROM records",
    "usage: tolv diff [--json] A B\n"
    "\n"
    "Compares two backups. Each is any one input \"tolv convert\" takes: an STD\n"
    "file, a flash dump, a TFD file, a component BIN as KIND=FILE, or a folder\n"
    "DIR/ with the KIND.bin files \"tolv convert -o DIR/\" writes. Each is loaded\n"
    "into a workspace of its own, as \"tolv convert\" would load it.\n"
    "\n"
    "Prints the SystemID of both (\"unknown\" for a backup that carries none: a\n"
    "flash dump, BIN files, a folder; unknown is no difference) and for each\n"
    "component whether it is in both, only in A, only in B or in neither, and\n"
    "whether it is the same. For a component that differs: how many bytes\n"
    "differ and the offset of the first. Below the settings (Flash), the\n"
    "sections of their layout that differ, by number and offsets, with the runs\n"
    "of differing bytes (and the bytes past the sections); below the EEPROM,\n"
    "the checksum records that differ (and the bytes past them); below the\n"
    "Defaults, both. Offsets are those of the component's image. Checksums are\n"
    "compared as bytes, not checked (\"tolv verify\" checks them). Why a backup\n"
    "cannot be loaded goes to standard error.\n"
    "\n"
    "  --json   one JSON object on one line instead\n"
    "\n"
    "Exit status: 0 when the backups are the same, 1 when they differ, 2 when one\n"
    "cannot be loaded or the command line is wrong.\n"
    "\n"
    "Examples:\n"
    "  tolv diff before.std after.std\n"
    "  tolv diff backup.tfd backup/\n"
    "  tolv diff --json flash=old.bin new.dmp\n",
    &RunDiff};

}  // namespace tolv::cli
