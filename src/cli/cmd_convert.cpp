// tolv convert: the window's load, edit and save commands on one workspace.
#include <algorithm>
#include <memory>

#include "cli/cli_command.h"
#include "cli/output_check.h"
#include "cli/steps.h"
#include "cli/sysid_advice.h"
#include "common/file_io.h"

namespace tolv::cli {
namespace {

int RunConvert(const std::vector<std::string>& args) {
  bool yes = false;
  bool force = false;
  std::vector<std::string> stepArgs;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    optionsEnded = optionsEnded || arg == "--";
    if (optionsEnded) {
      stepArgs.push_back(arg);
    } else if (arg == "--yes" || arg == "-y") {
      yes = true;
    } else if (arg == "--force") {
      force = true;
    } else {
      stepArgs.push_back(arg);
    }
  }
  std::vector<Step> steps = ParseSteps(stepArgs, StepSyntax{});
  if (steps.empty()) throw UsageError("no step given");
  // Without an output, whatever the steps did would be lost unseen.
  if (std::none_of(steps.begin(), steps.end(),
                   [](const Step& step) { return step.role == StepRole::kOutput; }))
    throw UsageError(
        "no output given: nothing would be written (\"-o NAME.std\", \"-o DIR/\", ...; \"tolv info\" "
        "shows what a file holds)");
  Outputs_CheckDistinct(steps);
  ForceReplaceScope replaceProtected(force);
  auto workspace = std::make_unique<Workspace>();
  ConsoleInteraction ui(yes);
  const Outcome outcome = RunSteps(steps, *workspace, ui);
  // A SystemID given here that does not suit the settings is worth a word;
  // after a failure, why the settings could not be packed.
  const bool sysidGiven = std::any_of(steps.begin(), steps.end(),
                                      [](const Step& step) { return step.text.starts_with("--sysid "); });
  if (sysidGiven) {
    if (std::string warning = SystemId_FamilyWarning(*workspace); !warning.empty()) ui.Note(warning);
  }
  if (outcome.Stops()) {
    if (std::string advice = SystemId_PackingAdvice(*workspace); !advice.empty()) ui.Note(advice);
  }
  return ExitStatus(outcome);
}

}  // namespace

const CliCommand kConvertCommand = {
    "convert", "load, change and save receiver images, step by step",
    "usage: tolv convert [--yes] [--force] STEP...\n"
    "\n"
    "Runs the steps on one workspace from left to right, as the window's buttons\n"
    "would be pressed. Messages the window would show go to standard error, one\n"
    "line each; every file written is named on standard output.\n"
    "\n"
    "Inputs:\n"
    "  NAME.std              load an STD file (settings, EEPROM and SystemID)\n"
    "  NAME.dmp              load a flash dump (the settings only)\n"
    "  NAME.tfd              load a TFD file (every component it holds, SystemID)\n"
    "  KIND=FILE             load a component BIN file\n"
    "  block=FILE            load one flash block file (\"NAME [05].bin\") into its\n"
    "                        section of the settings\n"
    "  DIR/                  load every KIND.bin the folder holds (the files\n"
    "                        \"-o DIR/\" writes), each as KIND=FILE would\n"
    "Operations:\n"
    "  --sysid N             set the SystemID, 1 to 65535 (0 leaves it as it is)\n"
    "  --flash-to-defaults   copy the settings and EEPROM into the Defaults\n"
    "  --defaults-to-flash   copy the Defaults into the settings and EEPROM\n"
    "  --null-defaults       make the Defaults all zero\n"
    "  --remove KIND         remove one component\n"
    "Outputs:\n"
    "  -o NAME.std           save settings and EEPROM as an STD file (needs a SystemID)\n"
    "  -o NAME.dmp           save the settings as a flash dump\n"
    "  -o NAME.tfd           save every present component as a TFD file (needs a\n"
    "                        SystemID)\n"
    "  -o KIND=FILE          save one component as a BIN file\n"
    "  -o blocks=FILE        save each settings section as \"FILE [01].bin\" ...\n"
    "  -o DIR/               save every present component as DIR/KIND.bin\n"
    "\n"
    "KIND is loader, firmware, flash (or settings), eeprom, defaults or background.\n"
    "Extensions are matched in any case. A question (\"Overwrite the existing\n"
    "defaults?\", \"Unload flash?\") is answered Yes by --yes; without it, it is\n"
    "asked (y/N) when standard input is a terminal, and otherwise fails the step.\n"
    "An answer No also ends the run: nothing more is written.\n"
    "Checksums of the settings and EEPROM are brought up to date before an STD\n"
    "file, TFD file or flash dump is written; a load names every one that is bad\n"
    "in the file it read, since the save will no longer show it. Every file is\n"
    "replaced only once the new one is complete; when any part of an output\n"
    "fails, nothing of it is written: the files of -o DIR/ and -o blocks=FILE\n"
    "are replaced all together or not at all. An output that names a folder, a\n"
    "block device or socket, or a write-protected file is refused; --force\n"
    "replaces a write-protected file (it stays write-protected). A replaced file\n"
    "keeps its permissions, owner and group; a file of another user is refused\n"
    "unless the superuser saves it. Standard output (-o KIND=-, /dev/stdout,\n"
    "/dev/fd/N), a pipe or a terminal is written as it comes, with nothing else\n"
    "printed to standard output (the lines naming the files written go to\n"
    "standard error); one output at most may go there. Two outputs\n"
    "that name one file are refused before anything is done. Files of an earlier\n"
    "save that -o DIR/ or -o blocks=FILE leaves in place are named: a later\n"
    "load would mix them in. Ctrl-C (or a request to end) during a save\n"
    "discards it, or lets it finish when it is already replacing files, and\n"
    "ends the run; no temporary file is left.\n"
    "\n"
    "After \"--\", every argument is an input, even one that begins with \"-\".\n"
    "Once a step fails, no later step runs and nothing more is written. When\n"
    "settings cannot be packed for the SystemID, the last line says why and\n"
    "what helps; a --sysid of a model of another family than the settings\n"
    "(satellite, terrestrial, cable) is warned about.\n"
    "Exit status: 0 when every step succeeded, 1 after a failure, 2 when the\n"
    "command line is wrong (also when it gives no output).\n"
    "\n"
    "Examples:\n"
    "  tolv convert settings.std -o settings.dmp\n"
    "  tolv convert backup.dmp eeprom=eeprom.bin --sysid 406 -o restored.std\n"
    "  tolv convert settings.std -o blocks=channels.bin\n"
    "  tolv convert settings.std \"block=other [01].bin\" -o merged.std\n"
    "  tolv convert --yes settings.std --flash-to-defaults -o defaults=defaults.bin\n"
    "  tolv convert loader=loader.bin firmware=fw.bin settings.std -o parts/\n"
    "  tolv convert receiver.tfd -o parts/\n"
    "  tolv convert settings.std -o eeprom=- | xxd\n"
    "  tolv convert parts/ --sysid 406 -o receiver.tfd\n"
    "  tolv convert loader=loader.bin firmware=fw.bin --sysid 406 -o receiver.tfd\n",
    &RunConvert};

}  // namespace tolv::cli
