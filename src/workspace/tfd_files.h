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

// Imports the TFD file fileName into workspace through store.
//
// The whole file is read and checked first (header, every block's length,
// type, CRC and expansion); a file that fails shows the result text of the
// failure (for example "TFD_Load: Invalid file header CRC") and changes
// nothing, not even the SystemID. Otherwise the SystemID becomes the header's
// system ID, and each of the block types 0 to 5 that the file holds replaces
// its component (which becomes present) when its size is right; a block of
// the wrong size shows that block's message ("Invalid size of loader block
// (<>64kB)", ...) and leaves the component as it was, and the import goes on
// with the next type. Flash and Defaults are unpacked into a scratch image,
// so a block that fails to unpack ("UnPackFlashData failed to unpack the
// flash block" / "... defaults block") leaves the image and its flag exactly
// as they were. The Defaults take the default settings and, when the packed
// block carries a sound one, the default EEPROM; their last 128 kB stay. A
// new Flash gets its layout recognised. A Flash or Defaults block that is
// taken leaves its model header kept for the file's SystemID
// (Workspace_KeepModelHeader). Components whose type is absent from the file
// keep their contents and flags.
//
// Done when the file loaded and every block in it was accepted (no message
// shown); otherwise failed, with every message shown as its reasons (the
// accepted blocks of the file stay taken). Throws FileError when the file
// exists but cannot be read (the workspace then unchanged).
Outcome TFD_Import(Workspace& workspace, TfdStore& store, const std::string& fileName, UserInteraction& ui);

// The notice of a TFD file that holds count bytes after its last block: the
// import names them and goes on.
std::string TFD_BytesAfterBlocksText(size_t count);

// Exports the present components of workspace as the TFD file fileName,
// through store (cleared first).
//
// With SystemID 0 shows "Please enter a valid system ID" (a plain message) and
// writes nothing. Otherwise rewrites the checksums (Flash_UpdateChecksums) and
// puts every present component into its block (Flash and Defaults packed with
// the SystemID's low 16 bits into packedFlash, with the kept model header for
// a SystemID without a built-in template: Workspace_OwnModelHeader). When any block fails (a
// packing failure shows "PackFlashData failed to pack the flash data." or
// "PackFlashData failed to pack the defaults data.", followed by the reason
// and what to do (PackFailure_Reason), each block its own message) nothing is written: an existing file stays
// as it was. Otherwise the file is written with the SystemID's low 16 bits in its header, also when no
// component is present; an existing file is replaced only once the new one is complete. A store too large for
// one file shows the result text and writes nothing.
//
// Done when the file was written; otherwise failed, with every message
// shown as its reasons. Throws FileError when the file cannot be written (an
// existing file then intact).
Outcome TFD_Export(Workspace& workspace, TfdStore& store, const std::string& fileName, UserInteraction& ui);

// The same two operations through the library's process-wide TFD store.
Outcome TFD_Import(Workspace& workspace, const std::string& fileName, UserInteraction& ui);
Outcome TFD_Export(Workspace& workspace, const std::string& fileName, UserInteraction& ui);

}  // namespace tolv
