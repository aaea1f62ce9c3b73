// TFD files in the workspace: block type N of a TFD file carries the component
// whose ComponentKind number is N, and the file header's system ID is the
// workspace's SystemID (its low 16 bits).
//
//   type  component   block size on import   block contents
//   0     Loader      65,536                 the Loader image
//   1     Firmware    any                    the Firmware image
//   2     Flash       131,072                the packed settings block (flash/packing.h)
//   3     EEPROM      256                    the EEPROM image
//   4     Defaults    131,072                the packed defaults block: settings and default EEPROM
//   5     Background  262,144                the Background image
//
// Types 6 to 255 are neither imported nor exported. Both operations leave the
// TFD store holding the file's blocks and packedFlash holding the last packed
// block they handled.
#pragma once

#include <string>

#include "tfd/tfd_store.h"
#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// Imports the TFD file fileName through store. The whole file is checked
// first; a fault shows its result text and changes nothing, SystemID included.
// Then the SystemID is the header's and each block type 0 to 5 replaces its
// component when its size is right (else its size message, and the next
// type); Flash and Defaults are judged as Workspace_TakePackedBlock judges a
// block, its model header kept for the file's SystemID. Types the file lacks
// stay as they were. Done when every block was taken; else failed with each
// message. Throws FileError, changing nothing, when the file cannot be read.
Outcome TFD_Import(Workspace& workspace, TfdStore& store, const std::string& fileName, UserInteraction& ui);

// The notice of a TFD file that holds count bytes after its last block: the
// import names them and goes on.
std::string TFD_BytesAfterBlocksText(size_t count);

// Exports the present components as the TFD file fileName through store
// (cleared first), the checksums rewritten and Flash and Defaults packed for
// the SystemID's low 16 bits (Workspace_OwnModelHeader for a model without a
// template). SystemID 0 shows "Please enter a valid system ID"; a block that
// fails shows its message with the reason (PackFailure_Reason); either writes
// nothing. Done when written (also
// with no component present); else failed with each message. Throws
// FileError when the file cannot be written; an existing file stays intact.
Outcome TFD_Export(Workspace& workspace, TfdStore& store, const std::string& fileName, UserInteraction& ui);

// The same two operations through the library's process-wide TFD store.
Outcome TFD_Import(Workspace& workspace, const std::string& fileName, UserInteraction& ui);
Outcome TFD_Export(Workspace& workspace, const std::string& fileName, UserInteraction& ui);

}  // namespace tolv
