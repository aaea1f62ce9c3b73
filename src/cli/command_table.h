// The command runner of the tolv program: the table of sub-commands and the
// dispatch of one command line to them. main.cpp hands it the program's
// arguments; tests run it in-process, against the emulated receiver too.
#pragma once

#include <string>
#include <vector>

namespace tolv::cli {

// Runs one command line, given without the program's name: "--help" (or
// "-h", "help") prints the overview, "COMMAND ARGS..." runs a command and
// "COMMAND ... --help" prints its help. Output and messages go to standard
// output and standard error. Every std::exception of a command is caught and
// reported there. Returns the exit status: kExitOk, kExitFailure, or
// kExitUsage for a command line that is wrong (cli/cli_command.h).
int Run(const std::vector<std::string>& args);

}  // namespace tolv::cli
