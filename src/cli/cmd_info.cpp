// tolv info: what a file holds.
#include <cstdio>

#include "cli/cli_command.h"
#include "cli/inspect.h"
#include "cli/steps.h"

namespace tolv::cli {

std::vector<std::string> ParseFileArguments(const std::vector<std::string>& args, bool* json) {
  std::vector<std::string> files;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && json && arg == "--json") {
      *json = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option \"" + arg + "\"");
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) throw UsageError("no file given");
  return files;
}

namespace {

int RunInfo(const std::vector<std::string>& args) {
  bool json = false;
  const std::vector<std::string> files = ParseFileArguments(args, &json);
  Outcome outcome = Outcome::Done();
  const bool allRead = InspectArguments(files, [&](const FileReport& report) {
    if (json) {
      PrintReportJson(report, stdout);
    } else {
      PrintReportText(report, stdout);
    }
    if (!report.Readable()) outcome.Merge(Outcome::Failed(report.path + " cannot be read as " + report.form));
  });
  if (!allRead) outcome.Merge(Outcome::Failed("a file or folder cannot be read"));
  return ExitStatus(outcome);
}

}  // namespace

const CliCommand kInfoCommand = {
    "info", "what a file holds: form, SystemID and model, layout, components, checksums",
    "usage: tolv info [--json] FILE...\n"
    "\n"
    "Shows what each file holds: its form (TFD file, STD file, flash dump, flash\n"
    "block file, or a component BIN told by its size), its size, the SystemID with\n"
    "the model name from Firmware.dat (where it is looked for: \"tolv --help\"),\n"
    "the settings layout (DVB-s, DVB-t, DVB-c), each component it gives with its\n"
    "size (for a TFD file also its block type and chunks), the model header each\n"
    "packed block carries (a built-in template, or the block's own for a model\n"
    "without one), and every checksum it carries (TFD header and block CRCs,\n"
    "packed-block CRCs, section CRCs, EEPROM record CRCs) as OK or BAD. Good\n"
    "checksums are counted per group; bad ones are named. A folder (DIR/) stands\n"
    "for every KIND.bin in it, the files \"tolv convert -o DIR/\" writes, each\n"
    "shown as the component its name says; a backup folder (\"tolv backup\") is\n"
    "also shown whole: the SystemID, model and date its backup.json records, and\n"
    "whether every file matches SHA256SUMS.\n"
    "\n"
    "  --json   one JSON object per file, on one line, listing every checksum\n"
    "\n"
    "Exit status: 0, or 1 when a file cannot be read, or cannot be read as what\n"
    "it is taken for (truncated, a packed block that does not unpack, a TFD file\n"
    "whose CRCs fail), or is of no known form, or a folder holds no KIND.bin.\n"
    "Bad settings or EEPROM checksums alone do not: \"tolv verify\" checks them.\n"
    "\n"
    "Examples:\n"
    "  tolv info settings.std receiver.tfd\n"
    "  tolv info backup/\n"
    "  tolv info --json backup.dmp \"mysettings [05].bin\" loader.bin\n",
    &RunInfo};

}  // namespace tolv::cli
