// The steps of "tolv convert" (and of every command that reads or writes the
// workspace): inputs, operations and outputs, parsed from the command line and
// applied to one workspace in the order given, as a user presses the window's
// buttons.
//
//   input      NAME.std  NAME.dmp  NAME.<ext of a file form>  KIND=FILE  block=FILE  DIR/
//   operation  --sysid N  --flash-to-defaults  --defaults-to-flash  --null-defaults  --remove KIND
//   output     -o NAME.std  -o NAME.dmp  -o NAME.<ext>  -o KIND=FILE  -o blocks=FILE  -o DIR/
//
// KIND is loader, firmware, flash (or settings), eeprom, defaults or
// background. Extensions are matched in any case. New file forms are added to
// the table in file_forms.cpp, not here.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/console_interaction.h"
#include "workspace/outcome.h"
#include "workspace/workspace.h"

namespace tolv::cli {

// A command line that cannot be understood; what() is the one-line hint.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class StepRole { kInput, kOperation, kOutput };

struct Step {
  StepRole role;
  std::string text;  // the step as given on the command line, for messages
  // Applies the step and returns its outcome: failed when it failed (the
  // failure has then been reported through ui: a message the window would
  // show, or a line of the tool's own), cancelled when a question was
  // answered No. May throw FileError or another std::exception.
  std::function<Outcome(Workspace&, ConsoleInteraction&)> apply;
  // Outputs only, for checking them before there is anything to write: the
  // file the step writes (the folder for -o DIR/, which targetIsFolder
  // marks; the name the block files are made from for -o blocks=NAME), and
  // why the step would refuse a workspace (a component it needs is absent).
  std::string target = {};
  bool targetIsFolder = false;
  std::function<std::optional<std::string>(const Workspace&)> refusal = {};
  // Outputs only: every file the step writes for a workspace in which the
  // components that will be there are present (for -o blocks=NAME all
  // thirteen block names, the layout being unknown beforehand).
  std::function<std::vector<std::string>(const Workspace&)> writes = {};
};

// Which step kinds a command accepts.
struct StepSyntax {
  bool inputs = true;
  bool operations = true;
  bool outputs = true;
};

// "loader", "firmware", "flash"/"settings", "eeprom", "defaults",
// "background" (any case) to a component; nothing for another word.
std::optional<ComponentKind> ParseComponentKind(const std::string& word);

// The lower-case name used in file names and on the command line: the
// component's name in lower case ("loader", ..., "flash", ..., "background").
std::string ComponentWord(ComponentKind kind);

// The input step of one argument: a file form by extension, KIND=FILE,
// block=FILE, or a folder (NamesFolder, cli/folder_input.h), whose KIND.bin
// files are loaded in component order as KIND=FILE steps would be (a folder
// without one fails the step). With noteBadChecksums, every bad section or
// EEPROM checksum the load brings in is named (a note: the next save would
// rewrite it). Throws UsageError when arg is none of these.
Step ParseInputStep(const std::string& arg, bool noteBadChecksums = true);

// Parses one step starting at args[index]. Returns the step and advances
// index past it (options with a value take two arguments). Returns nothing,
// leaving index, when args[index] is not a step this syntax knows (for
// example an option of the calling command). Throws UsageError when it is a
// step that is malformed or not allowed by syntax (e.g. "-o" without a
// name, an input of an unknown form).
std::optional<Step> ParseStep(const std::vector<std::string>& args, size_t& index, StepSyntax syntax);

// An argument after "--" (the end of the options): an input, whatever it
// begins with. Throws UsageError when the syntax takes no inputs or it is
// no input.
Step ParsePlainInput(const std::string& arg, StepSyntax syntax);

// Parses every argument as a step; throws UsageError at the first that is
// not one. Every argument after "--" is an input (ParsePlainInput).
std::vector<Step> ParseSteps(const std::vector<std::string>& args, StepSyntax syntax);

// When an output of steps writes to standard output (-o KIND=-,
// /dev/stdout), the lines naming the files written go to standard error from
// now on, so that standard output carries that output's bytes alone.
// RunSteps calls it; a command that runs its outputs one by one calls it
// first with all of them.
void ReserveStandardOutput(const std::vector<Step>& steps);

// Prints text as a line of the tool's own (ConsoleInteraction::Failure) and
// returns it as the failed outcome.
Outcome ReportFailure(ConsoleInteraction& ui, const std::string& text);

// Applies steps in order. A step whose outcome is failed or cancelled (an
// answer No), or that throws (the exception's text is printed), ends the run:
// no later step runs, so nothing is written after a failure; a line says
// which steps were not run. Outputs run under a SaveInterruptGuard
// (common/save_interrupt.h): Ctrl-C or a request to end the program during a
// save cancels it (or lets it finish when it is already replacing files), and
// the run ends there with a line naming the output. Returns done when every
// step was done or had nothing to do; else the outcome of the step that ended
// the run (cancelled, with the line, after a Ctrl-C).
Outcome RunSteps(const std::vector<Step>& steps, Workspace& workspace, ConsoleInteraction& ui);

}  // namespace tolv::cli
