// Flash dumps and flash block files.
//
// A flash dump (".dmp") is one packed flash-format block of 131,072 bytes and
// nothing else; no system ID is stored beside it. A flash block file holds the
// data bytes of one section k (1..13) of the Flash image, without the 4-byte
// section prefix, and is named "<dir><base> [kk].bin"; the number in the name
// is the only link between a file and its section.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// Loads the flash dump at path. A file that is not 131,072 bytes is refused
// with "Invalid file size (<>128kB)" (nothing changes, failed). The block is unpacked
// (Flash_LoadPackedSettings): on success the Flash image takes the result,
// becomes present and gets its layout recognised, and packedFlash holds the
// block, whose model header is kept for the SystemID the header names
// (Workspace_KeepModelHeader); on failure "UnPackFlashData failed to unpack
// the flash block" is shown and nothing changes (failed). SystemID and EEPROM
// are not touched. Throws FileError, with the workspace unchanged, when the
// file cannot be read. Done when the Flash was loaded.
Outcome FlashDump_Load(Workspace& workspace, const std::string& path, UserInteraction& ui);

// Saves the Flash as a flash dump under exactly path: rewrites the checksums
// (Flash_UpdateChecksums), packs with the SystemID's low 16 bits (0 included)
// into packedFlash (with the kept model header when the SystemID has no
// built-in template, see Workspace_OwnModelHeader), and writes the 131,072
// bytes. A packing failure (no header for the system ID, settings that do not
// fit) shows "PackFlashData failed to pack the data!" followed by the reason
// and what to do, and writes nothing (failed). The file replaces an existing one only once complete
// (FileError on failure, the old file intact). Done when the file was written.
Outcome FlashDump_Save(Workspace& workspace, const std::string& path, UserInteraction& ui);

// "<directory><baseName> [kk].bin" with k in two digits.
std::string FlashBlock_FileName(const std::string& directory, const std::string& baseName, int section);

// The section number in a flash block file name: the base name of path
// (FileName_Split) must end in "[", two characters and "]". Returns nothing
// when it does not; throws nothing. The two characters are returned as they
// are in text (for the messages) and, when both are decimal digits, as a
// number in section.
struct FlashBlockName {
  std::string digits;
  std::optional<int> section;
};
std::optional<FlashBlockName> FlashBlock_ParseName(const std::string& path);

// Saves the data of every section of the recognised layout that holds data
// as its own file named by FlashBlock_FileName from the directory and base
// name of path (the extension is dropped): 13 files for DVB-s, 12 for DVB-t
// and DVB-c. Nothing in the workspace changes and no checksum is recomputed.
// When the Flash image has no recognised layout (sectionTableMatchesFlash
// false) nothing is written and a message says so (failed, no names). The
// files are saved together (SaveFilesAtomically): a FileError leaves every
// existing file as it was. Done with the names written, in section order.
struct FlashBlocksSaved {
  Outcome outcome;
  std::vector<std::string> written;
};
FlashBlocksSaved FlashBlocks_Save(const Workspace& workspace, const std::string& path, UserInteraction& ui);

// The flash block files named as FlashBlocks_Save names them for path that
// exist although a save of workspace does not write them (the sections its
// layout leaves empty, such as section 12 of DVB-t; every one when no layout
// is recognised): files from before, which a later load would take for
// parts of this save. Reads the file system only.
std::vector<std::string> FlashBlocks_Leftovers(const Workspace& workspace, const std::string& path);

// Loads the flash block file at path into its section of the Flash image,
// then rewrites the checksums (Flash_UpdateChecksums). Refused with a message
// (failed), the workspace unchanged, when the base name lacks the "[kk]" ending ("You
// didn't select a flash block file."), when the two characters are not a
// decimal number or not a section number 1..13, when the Flash is absent or
// its layout was not recognised, or when the file's size differs from the
// section's data length. The Flash presence flag is not changed. Throws
// FileError, with the workspace unchanged, when the file cannot be read.
// Done when the section was replaced.
Outcome FlashBlock_Load(Workspace& workspace, const std::string& path, UserInteraction& ui);

}  // namespace tolv
