// The table of the tolv sub-commands and the dispatch to them.
#include "cli/command_table.h"

#include <cstdio>

#include "cli/cli_command.h"
#include "cli/console_platform.h"
#include "cli/steps.h"
#include "common/version.h"

namespace tolv::cli {
namespace {

// Every sub-command, in the order "tolv --help" lists them.
const CliCommand* const kCommands[] = {
    &kInfoCommand,     &kVerifyCommand, &kDiffCommand,   &kConvertCommand, &kModelsCommand, &kPortsCommand,
    &kDownloadCommand, &kUploadCommand, &kBackupCommand, &kRestoreCommand, &kRebootCommand,
};

void PrintOverview(std::FILE* out) {
  std::fprintf(out,
               "usage: tolv COMMAND [ARGS...]\n"
               "\n"
               "Takes a Topfield receiver's memory images apart and puts them together\n"
               "again: loader, firmware, settings (flash), EEPROM, defaults, background,\n"
               "as component BIN files, flash dumps (.dmp), flash block files, STD files\n"
               "and TFD files. It also talks to the receiver itself, over USB or a serial\n"
               "port: \"ports\" lists where one can be reached, \"download\" fetches its\n"
               "components into files, \"upload\" sends components to it, \"backup\"\n"
               "saves all of it into a checked folder, \"restore\" puts a backup back and\n"
               "\"reboot\" restarts it.\n"
               "\n"
               "Commands:\n");
  for (const CliCommand* command : kCommands)
    std::fprintf(out, "  %-9s %s\n", command->name, command->summary);
  std::fprintf(out,
               "\n"
               "\"tolv COMMAND --help\" explains a command, with examples; \"tolv --version\"\n"
               "prints the version. Model names come from the first Firmware.dat found in\n"
               "%s; \"tolv models\" tells which.\n"
               "\n"
               "Exit status, the same for every command: 0 done; 1 failed; 2 wrong command\n"
               "line; 3 receiver or port not reached (or lost); 4 read back different\n"
               "from what was written; 5 input refused (damaged, or for another model);\n"
               "130 cancelled.\n",
               ModelListPlacesText());
}

const CliCommand* FindCommand(const std::string& name) {
  for (const CliCommand* command : kCommands)
    if (name == command->name) return command;
  return nullptr;
}

bool AsksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

}  // namespace

int Run(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fprintf(stderr, "tolv: no command given (try 'tolv --help')\n");
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintOverview(stdout);
    return kExitOk;
  }
  if (args[0] == "--version") {
    std::printf("tolv %s\n", kVersion);
    return kExitOk;
  }
  const CliCommand* command = FindCommand(args[0]);
  if (!command) {
    std::fprintf(stderr, "tolv: unknown command \"%s\" (try 'tolv --help')\n", args[0].c_str());
    return kExitUsage;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (AsksForHelp(rest)) {
    std::fputs(LocalHelpText(command->help).c_str(), stdout);
    return kExitOk;
  }
  try {
    return command->run(rest);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "tolv %s: %s (try 'tolv %s --help')\n", command->name, error.what(), command->name);
    return kExitUsage;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tolv %s: %s\n", command->name, error.what());
    return kExitFailure;
  }
}

}  // namespace tolv::cli
