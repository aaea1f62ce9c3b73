// Notes on a SystemID that does not suit its settings.
#include "cli/sysid_advice.h"

namespace tolv::cli {

void NoteSystemIdFit(const Workspace& workspace, ConsoleInteraction& ui) {
  for (const std::string& text : {SystemId_FamilyWarning(workspace), SystemId_PackingAdvice(workspace)})
    if (!text.empty()) ui.Note(text);
}

}  // namespace tolv::cli
