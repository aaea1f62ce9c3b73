// The backup folder that "tolv backup" and the window's backup make, and
// that a restore reads:
//
//   backup.tfd   every component and the SystemID, as "-o NAME.tfd" writes
//                them (its checksums brought up to date, as every TFD save)
//   KIND.bin     each component as it came from the receiver, as "-o DIR/"
//                writes them (loader.bin, firmware.bin, flash.bin, ...)
//   backup.json  what the backup is: SystemID, model, date, program, port,
//                and each component with its size, SHA-256 and whether its
//                checksums held
//   SHA256SUMS   the SHA-256 of every other file, as "sha256sum -c" reads it
//
// A backup is built in a hidden folder beside its target, read back and
// checked, and only then renamed to its name: a folder of that name is
// always a whole, checked backup.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

inline constexpr const char* kBackupTfdName = "backup.tfd";
inline constexpr const char* kBackupJsonName = "backup.json";
inline constexpr const char* kBackupSumsName = "SHA256SUMS";

// A component's file in the folder: its name in lower case and ".bin"
// ("loader.bin", "eeprom.bin"), as "-o DIR/" names them.
std::string Backup_ComponentFileName(ComponentKind kind);

// Whether the checksums a component's image carries hold, as backup.json
// records it: the Flash's section checksums, the EEPROM's records, both of
// the Defaults' parts. Nothing for a component without checksums (Loader,
// Firmware, Background) and for settings of no recognised layout.
std::optional<bool> Component_ChecksumsHeld(ComponentKind kind, const std::vector<uint8_t>& image);

// How many bytes from the start of a component's image come back the same
// when it travels packed and is unpacked again (a TFD file, a receiver): of
// the Flash its 13 sections (0x60000 bytes; the unpacker stops after them),
// of the Defaults the settings and the default EEPROM; the whole image of
// every other component (imageSize).
size_t ReadBack_ComparedBytes(ComponentKind kind, size_t imageSize);

// What backup.json says besides the components.
struct BackupOrigin {
  std::string port;     // where the receiver was reached ("USB", "/dev/ttyUSB0")
  std::time_t taken{};  // when the download ended
};

// The folder name a backup gets by default: the model name (from the model
// list; "Toppy" when it names none), the SystemID and the local time, e.g.
// "TF5000PVR-406-20261207-1830". Characters of the model name that do not
// belong in a file name become "-".
std::string Backup_DefaultName(int32_t systemId, std::time_t taken);

// The default name, in the folder parent ("" for the current one), with
// "-2", "-3", ... added while a file or folder of that name exists.
std::string Backup_FreeDefaultPath(const std::string& parent, int32_t systemId, std::time_t taken);

// Why a backup cannot be made at dir before anything is fetched: dir is a
// file, or a folder that is not empty, or its parent folder cannot take a
// new folder. Empty when it can.
std::string Backup_TargetFault(const std::string& dir);

// Writes the backup of workspace (the components a download stored, its
// SystemID) to dir, which must not exist or be an empty folder: builds it in
// a hidden folder beside dir, reads every file back against SHA256SUMS,
// imports backup.tfd again and compares it with what was written, and
// renames the folder to dir. Returns the number of components. On any
// failure (a file that cannot be written, a read-back that differs) nothing
// is left at dir, the hidden folder is removed, and FileError is thrown with
// the reason. Messages of the savers go to ui.
int Backup_Write(const Workspace& workspace, const std::string& dir, const BackupOrigin& origin,
                 UserInteraction& ui);

// Removes the hidden folders in parent ("" the current folder) in which
// backups were built by runs that no longer run (a kill, or a second
// Ctrl-C, ended them before they could remove their own); a folder of a run
// that still runs is left alone. Returns the names removed.
std::vector<std::string> Backup_RemoveLeftovers(const std::string& parent);

// Whether dir is a backup folder: a folder that holds SHA256SUMS.
bool Backup_IsFolder(const std::string& dir);

// Checks every file SHA256SUMS in dir lists against its SHA-256, and that
// every KIND.bin and backup.tfd of dir is listed. Returns one line per fault
// ("loader.bin: its SHA-256 differs from SHA256SUMS", "flash.bin: missing",
// "SHA256SUMS line 3: not a sum line", "eeprom.bin: not listed in
// SHA256SUMS"); empty when all hold. Throws FileError when SHA256SUMS cannot
// be read.
std::vector<std::string> Backup_CheckSums(const std::string& dir);

// The port backup.json of dir records, when it can be read.
std::optional<std::string> Backup_RecordedPort(const std::string& dir);

// What backup.json of dir says the backup is; each field empty (or unset)
// when the file cannot be read or does not hold it.
struct BackupRecord {
  std::optional<int32_t> systemId;
  std::string model;
  std::string date;  // as written, e.g. "2026-12-07T18:30:00Z"
  std::string port;
};
BackupRecord Backup_ReadRecord(const std::string& dir);

// The faults of backup folder dir that keep "tolv restore" from sending it,
// one line each: Backup_CheckSums, or SHA256SUMS that cannot be read. Every
// command that reads a backup folder (verify, info, diff, restore) judges it
// by this list. Empty when it is whole.
std::vector<std::string> Backup_Faults(const std::string& dir);

// Loads backup folder dir into workspace as a restore sends it: backup.tfd
// first (the SystemID, and the model header that packing for a model
// without a built-in one needs), then every KIND.bin, the components
// exactly as they came. Does not judge the folder (Backup_Faults). The
// loaders tell their failures through ui; the first that fails ends the
// load (failed). Throws FileError for a file that cannot be read.
Outcome Backup_Load(Workspace& workspace, const std::string& dir, UserInteraction& ui);

}  // namespace tolv
