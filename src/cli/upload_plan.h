// What the commands that send components to a receiver (upload, restore)
// share before and after the transfer: the --sysid they take, the check that
// there is something to send for a model, and the words of the outcome.
#pragma once

#include <cstdint>
#include <string>

#include "cli/console_interaction.h"
#include "workspace/transfers.h"

namespace tolv::cli {

// The value of --sysid as the SystemID box reads it, but only a model number
// from 1 up: 0 would send an image made for no model. Throws UsageError.
int32_t ParseSendSystemId(const std::string& text);

// Whether the inputs loaded into workspace give something to send: the
// SystemID (systemId when not 0, else the one the inputs carried) and at
// least one selected present component. With only (--only was given), a
// selected component that no input holds is refused; otherwise the selection
// is narrowed to the present components. Done when there is; otherwise
// failed, having said why through ui, each line beginning with "tolv
// COMMAND: ".
Outcome Upload_ReadyToSend(const std::string& command, int32_t systemId, bool only, Workspace& workspace,
                           UploadRequest& request, ConsoleInteraction& ui);

// Writing the loader is asked on its own ("Write the loader too? ..."),
// since one that arrives wrong can leave the receiver unable to start; --yes
// answers it. No (or no answer) cancels, nothing sent. Done when the loader
// is not selected.
Outcome Upload_AskForLoader(const UploadRequest& request, ConsoleInteraction& ui);

// Transfer_Summary of an upload for the terminal: a cancel is told as what
// it was ("stopped by Ctrl-C (code 2114)"), not by the code's text, which
// speaks of the USB wait whatever the phase and the port.
std::string Upload_SummaryText(const UploadReport& report);

}  // namespace tolv::cli
