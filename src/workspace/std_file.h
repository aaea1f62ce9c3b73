// STD files: a receiver's settings and EEPROM in one file of 131,392 bytes.
//
//   0   8  "ToPfIeLd"
//   8   1  0x00
//   9   1  2, the format version
//  10   2  system ID, in the byte order of the packed block (big-endian, or
//          least significant byte first for the little-endian form)
//  12  52  the packed block's header template (32 or 36 bytes), then 0xFF
//  64      the packed flash-format block (131,072 bytes)
//  131136  the EEPROM image (256 bytes)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

inline constexpr size_t kStdFileSize = 0x20140;  // 131,392
inline constexpr size_t kStdHeaderSize = 64;
inline constexpr size_t kStdPackedOffset = kStdHeaderSize;
inline constexpr size_t kStdEepromOffset = kStdHeaderSize + kPackedBlockSize;  // 131,136

// The system ID stored in an STD file's header (file holds at least 64 + 2
// bytes of it: the header and the packed block's first two bytes). The byte
// order follows the packed block: its first bytes 1D 1F mark the
// little-endian form, whose ID is stored least significant byte first.
uint16_t STD_ReadSystemId(const uint8_t* file, size_t fileSize);

// The name an STD save writes to: the directory and base name of path
// (FileName_Split) followed by ".std".
std::string STD_OutputName(const std::string& path);

// Loads the STD file at path. The size is checked first ("Invalid file size
// (<>131392B)": nothing changes, failed) and the whole file is read and its
// packed block unpacked before anything changes. A block that does not
// unpack shows "UnPackFlashData failed to unpack the flash block" and
// changes nothing (failed). Otherwise the Flash takes the settings
// (Flash_LoadPackedSettings: present, layout recognised), the EEPROM comes
// from the file (present) and the SystemID from the header, and the packed
// block's model header is kept for that SystemID (Workspace_KeepModelHeader). Throws FileError,
// with the workspace unchanged, when the file cannot be read. Done when the
// file was loaded.
Outcome STD_Load(Workspace& workspace, const std::string& path, UserInteraction& ui);

// STD_Load of a file already in memory: fileSize bytes at file. Never reads
// outside them; the size check and everything after it are those of STD_Load.
Outcome STD_LoadFromBytes(Workspace& workspace, const uint8_t* file, size_t fileSize, UserInteraction& ui);

// Saves the Flash and EEPROM with the SystemID as STD_OutputName(path). With
// SystemID 0 shows "Please enter a valid system ID" (a plain message) and
// writes nothing (failed). Otherwise rewrites the checksums (Flash_UpdateChecksums),
// packs the Flash (low 16 bits of the SystemID) into packedFlash, with the
// kept model header for a SystemID without a built-in template
// (Workspace_OwnModelHeader); a system ID without either, or settings that do
// not fit, show "Failed to pack." followed by the reason and what to do
// (PackFailure_Reason) and write nothing (failed). The file replaces an existing one only once it
// is complete (FileError on failure, the old file intact). Presence flags are not tested (the window offers
// the save while Flash and EEPROM are present). Done when the file was written.
Outcome STD_Save(Workspace& workspace, const std::string& path, UserInteraction& ui);

}  // namespace tolv
