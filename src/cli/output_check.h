// Checking the outputs of a command before it does its long part: a download
// should not learn after minutes of transfer that its folder cannot be
// written, or that an output needs a component it does not fetch.
#pragma once

#include <string>
#include <vector>

#include "cli/steps.h"
#include "workspace/folder_check.h"
#include "workspace/workspace.h"

namespace tolv::cli {

// Checks every output step (StepRole::kOutput; others are skipped) against
// expected, a workspace in which exactly the components that will be there
// are present (their contents do not matter), and against the file system:
// its refusal of expected, the folder it writes into, and every file it
// would replace (SaveTarget_Fault: a folder, a device, FIFO or socket, a
// write-protected file unless ForceReplaceScope is active). Returns one line
// per output that cannot succeed, naming it and why; empty when all can.
std::vector<std::string> Outputs_CheckBeforehand(const std::vector<Step>& outputs, const Workspace& expected);

// Throws UsageError when two output steps would write one file (the same
// name, or two names of one file, FileIdentity): the later save would
// replace the earlier one. Every file an output may write counts, whichever
// components will be there. Reads the file system only.
void Outputs_CheckDistinct(const std::vector<Step>& steps);

}  // namespace tolv::cli
