// The sub-commands of the tolv program. Each lives in its own file and is
// listed once in the dispatch table of command_table.cpp.
#pragma once

#include <string>
#include <vector>

#include "workspace/outcome.h"

namespace tolv::cli {

// Exit statuses shared by every command: each tells what happened.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // failed: message, file error, bad checksum
inline constexpr int kExitUsage = 2;    // the command line itself is wrong
inline constexpr int kExitNotReached =
    3;  // the port could not be opened, the receiver did not answer or was lost
inline constexpr int kExitReadBackDiffers =
    4;  // what the receiver holds after a write differs from what was sent
inline constexpr int kExitInputRefused = 5;  // an input was refused: damaged, or made for another model
inline constexpr int kExitCancelled = 130;   // cancelled: Ctrl-C, or No to a question

// The exit status of a command's outcome, the one mapping every command
// uses: kExitOk when it was done or had nothing to do, kExitCancelled when
// cancelled, and for a failure the status of its cause.
int ExitStatus(const Outcome& outcome);

struct CliCommand {
  const char* name;     // "info", "convert", ...
  const char* summary;  // one line for "tolv --help"
  const char* help;     // the full text of "tolv NAME --help", with examples
  // Runs the command on the arguments after its name ("--help" is handled by
  // the dispatcher). Returns the exit status.
  int (*run)(const std::vector<std::string>& args);
};

// The FILE... arguments of info and verify ("--" ends the options) and,
// when json is given, the --json flag; throws UsageError for an unknown
// option or when no file is given.
std::vector<std::string> ParseFileArguments(const std::vector<std::string>& args, bool* json);

extern const CliCommand kInfoCommand;
extern const CliCommand kVerifyCommand;
extern const CliCommand kConvertCommand;
extern const CliCommand kPortsCommand;
extern const CliCommand kDownloadCommand;
extern const CliCommand kUploadCommand;
extern const CliCommand kBackupCommand;
extern const CliCommand kRestoreCommand;
extern const CliCommand kRebootCommand;
extern const CliCommand kDiffCommand;
extern const CliCommand kModelsCommand;

}  // namespace tolv::cli
