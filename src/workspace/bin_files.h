// Component BIN files: the raw bytes of one component, with no header,
// checksum or padding; and FileName_Split, which the savers that derive file
// names use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// Parts of a full file name.
struct FileNameParts {
  std::string directory;  // up to and including the last "/", "\" or ":"; empty when none
  std::string baseName;   // the file name without its last "." and what follows
  std::string extension;  // after the last "." of the file name, without the dot, at most 255 characters
};

// Splits fullName. "C:\dumps\box.settings.std" gives "C:\dumps\",
// "box.settings" and "std"; "/tmp/flash" gives "/tmp/", "flash" and "".
FileNameParts FileName_Split(const std::string& fullName);

// Whether a BIN file of fileSize bytes loads as kind: exactly the image size,
// except the Defaults, where both the 524,288-byte settings file and the
// 524,544-byte whole image (as Component_SaveBin writes it) load; for the
// Firmware any size up to kFirmwareMaxSize.
bool Component_BinSizeAccepted(ComponentKind kind, uint64_t fileSize);

// The largest Firmware a BIN file may give: what a receiver's firmware work
// area holds (8 MiB), as for a TFD file's blocks (kTfdMaxBlockSize).
inline constexpr uint64_t kFirmwareMaxSize = 8388608;

// The message shown for a BIN file of the wrong size ("Invalid file size
// (<>64kB)", ...); for the Firmware, the text of one beyond kFirmwareMaxSize.
const char* Component_BinSizeMessage(ComponentKind kind);

// Loads the BIN file at path as component kind. A file of the wrong size is
// refused with the kind's size message (nothing changes, failed).
// Otherwise the file becomes the image from offset 0 (the Firmware array takes
// the file's length; a 524,288-byte Defaults file leaves the Defaults' last
// 256 bytes as they were while the Defaults are present, and zero while they
// are absent), the component becomes present, and for the Flash
// the layout is recognised (Flash_DetectLayout). The SystemID is not changed.
// A Defaults file whose section or default EEPROM record checksums do not
// match is taken as it is, with those checksums named in a notice.
// Throws FileError, with the workspace unchanged, when the file cannot be
// read. Done when the component was loaded.
Outcome Component_LoadBin(Workspace& workspace, ComponentKind kind, const std::string& path,
                          UserInteraction& ui);

// Writes the image of kind to path (the whole image; the Firmware at its
// current length; the Defaults with all 524,544 bytes), replacing an existing
// file only once the new one is complete. Nothing is checked or recomputed;
// the presence flag is not tested (callers offer the save only for a present
// component). Done once written; throws FileError on failure, and an
// existing file then stays as it was.
Outcome Component_SaveBin(const Workspace& workspace, ComponentKind kind, const std::string& path);

}  // namespace tolv
