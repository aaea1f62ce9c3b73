// The sub-commands of the tolv program. Each lives in its own file and is
// listed once in the dispatch table of commands.cpp.
#pragma once

#include <string>
#include <vector>

#include "workspace/outcome.h"

namespace tolv::cli {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a reported failure: message, file error, bad checksum
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

// The exit status of a command's outcome: kExitOk when it was done or had
// nothing to do, kExitFailure when it failed or was cancelled (an answer
// No, Ctrl-C): what the command line asked for did not happen.
inline int ExitStatus(const Outcome& outcome) { return outcome.Stops() ? kExitFailure : kExitOk; }

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
