// Notes on a SystemID that does not suit its settings, for the commands that
// pack or send them.
#pragma once

#include "cli/console_interaction.h"
#include "workspace/system_id_advice.h"
#include "workspace/workspace.h"

namespace tolv::cli {

// SystemId_FamilyWarning and SystemId_PackingAdvice, each as a note on ui
// when it says something.
void NoteSystemIdFit(const Workspace& workspace, ConsoleInteraction& ui);

}  // namespace tolv::cli
