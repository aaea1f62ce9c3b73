// Whether the SystemID suits the settings it goes with, said before it
// matters: settings can be packed (for an STD or TFD file, a flash dump or a
// receiver) only for a model with a built-in model header or one whose
// header a loaded block brought, and settings of one family of receivers
// (satellite, terrestrial, cable) are no use to a model of another.
#pragma once

#include <string>

#include "workspace/workspace.h"

namespace tolv {

// Why the Flash and Defaults of workspace cannot be packed for its SystemID,
// and what helps: "SystemID 1234 (...): TolvPack has no built-in model
// header for it, and no loaded block brought one, so its settings cannot be
// packed. Load a settings block of that model first (an STD, TFD or flash
// dump file from such a receiver, or a download from it): its header is kept
// for packing. "tolv models 1234" tells more." Empty when they can be packed,
// or there is nothing to pack, or no SystemID.
std::string SystemId_PackingAdvice(const Workspace& workspace);

// A warning when the SystemID's model belongs to another family than the
// recognised layout of the Flash: "SystemID 456 (...) is a DVB-t model, but
// the settings are DVB-s: a receiver of that model cannot use them. Check the
// number ("tolv models" lists the models)." Empty otherwise (also when the
// family of the model is not known).
std::string SystemId_FamilyWarning(const Workspace& workspace);

}  // namespace tolv
