// The workspace's view of its flash settings: which layout the Flash image
// has, and the checksums that must be right before the settings leave the
// program. Thin wrappers over the flash library's workers (flash/layout.h,
// flash/checksums.h) applied to one Workspace.
#pragma once

#include "workspace/outcome.h"
#include "workspace/packed_load_check.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// The layout variant (kLayoutDvbS..kLayoutDvbC) whose section table table
// is, or kLayoutNone for any other table. The table outlives the variant shown
// (New clears only the variant), so this names the table itself.
uint8_t SectionTable_Variant(const SectionTable& table);

// Recognises the layout of the Flash image. When a layout passes its test,
// sets layoutVariant and sectionTable to it; when none passes, both keep
// their values. Either way sectionTableMatchesFlash becomes whether one
// passed. Call it right after new contents have been put into the Flash.
void Flash_DetectLayout(Workspace& workspace);

// Rewrites the checksums before a save: the headers of sections 1..12 (CRC
// and FF FF marker; section 13 never) while the Flash is present and its own
// layout was recognised (sectionTableMatchesFlash), so a table left from an
// earlier image is never written into another; and the seven EEPROM record
// CRCs while the EEPROM is present. Never fails.
void Flash_UpdateChecksums(Workspace& workspace);

// Unpacks the packed settings block (packedSize bytes) over flash, as the STD
// and flash dump loads do: on success flash holds the result (bytes the block
// does not reach keep their values); on failure it may hold the blocks
// unpacked before the fault, so callers pass a copy (the loads' starting
// image, a new image) and keep it only on success. A block whose directory
// names no block at all (every entry unused: offset 0 or CRC 0xFFFF, as in an
// erased or zeroed block) holds no settings and counts as a failure, so such
// a file never passes for settings. So does one whose unpacked entries fail
// the load check (PackedBlock_CheckForLoad: data of another length than
// stated, or a wrong data CRC). findings, when given, receives what the load
// check found: the refusal (empty when the unpacker itself refused or all
// went well) and the wrong checksums over sound data of a block that
// unpacked. The directory must give the whole settings part in order
// (PackedBlock_CheckCoverage), or the block fails.
bool Flash_UnpackSettings(const uint8_t* packed, size_t packedSize, std::vector<uint8_t>& flash,
                          PackedLoadFindings* findings = nullptr);

// The settings part of an STD or flash dump load: unpacks the packed block
// (packedSize bytes) as Flash_UnpackSettings does, over the Flash while it is
// present and over zeros while it is absent. On success the Flash image takes
// the result, becomes present and gets its layout recognised, and packedFlash
// holds the block; wrong checksums over sound data, what the directory walk
// names and a model header that is not systemId's (0: not checked) are named in a notice
// (PackedLoad_NoticeText, "flash block"). The image starts from zeros, not from the Flash it replaces. On
// failure shows "UnPackFlashData failed to unpack the flash block", followed by ": " and the entry and chunk
// at fault when the load check refused the block (PackedLoad_FailureText), and changes nothing: failed with
// that text.
Outcome Flash_LoadPackedSettings(Workspace& workspace, const uint8_t* packed, size_t packedSize,
                                 UserInteraction& ui, uint16_t systemId = 0);

// Takes the packed Flash or Defaults block that packedFlash holds into its
// image, as the TFD import and a receiver download do: unpacked as under
// Flash_UnpackSettings (a block that names no block, or fails the load
// check, fails), over the image while the component is present and over
// zeros while it is absent; the Defaults also take their default EEPROM from
// the block's second entry (the unpacker alone stops after the default
// settings) when the block has one: that entry passes the same load check or
// the block fails. The image starts from zeros. On success the component is present and, for the Flash,
// its layout recognised, and the block's model header is kept for the
// workspace's SystemID (Workspace_KeepModelHeader); on failure nothing
// changes and false is returned. The callers own the messages: findings,
// when given, receives the load check's refusal and wrong checksums as under
// Flash_UnpackSettings, and in named what the directory walk names, a model
// header that is not the workspace SystemID's, a defaults block without its
// default EEPROM (then zero). Section checksums are the callers' to name
// (Settings_CheckSections), each in its own words.
bool Workspace_TakePackedBlock(Workspace& workspace, ComponentKind kind,
                               PackedLoadFindings* findings = nullptr);

// Keeps the model header of a packed settings or defaults block (packedSize
// bytes) that was just unpacked into the workspace, for systemId: the
// SystemID the block came with (from the file or the receiver; for a flash
// dump, which stores none, the one its header names). Packing for that
// SystemID, when it has no built-in header template, then writes this header
// (Workspace_OwnModelHeader). The kept header is always that of the last
// block taken in: a block without a usable header (ModelHeader_Usable), or
// systemId 0, leaves none kept. The Flash and the Defaults share it, as the
// blocks of one receiver carry the same model header.
void Workspace_KeepModelHeader(Workspace& workspace, const uint8_t* packed, size_t packedSize,
                               uint16_t systemId);

// The header the packers are given besides the SystemID's low 16 bits: the
// kept header when it was kept for that SystemID, else nullptr, so that a
// header never goes out for another model. The built-in templates still take
// precedence inside the packers.
const ModelHeader* Workspace_OwnModelHeader(const Workspace& workspace);

// What a load that brought in the Flash or the EEPROM tells about them: a
// line "SOURCE: BAD section 5 CRC stored 0x1234, computed 0x5678" (or "BAD
// EEPROM record N ...") for each wrong checksum of an image that changed
// from flashBefore / eepromBefore (empty for one absent before), and then
// "SOURCE: saving an STD file, a TFD file or a flash dump rewrites these
// checksums."; nothing when every checksum holds.
std::vector<std::string> Load_BadChecksumNotes(const Workspace& workspace,
                                               const std::vector<uint8_t>& flashBefore,
                                               const std::vector<uint8_t>& eepromBefore,
                                               const std::string& source);

// Why PackFlashData or PackDefaultsData refused the workspace's settings and
// what to do, as sentences that follow a packing failure's own text: no model
// header for the SystemID (not set, or not a known model; file names what
// needs the header, e.g. "the dump"), or settings that do not compress into
// the block of 131,072 bytes.
std::string PackFailure_Reason(const Workspace& workspace, const std::string& file);

// Forgets the kept header once neither the Flash nor the Defaults is present
// (after a removal): nothing taken in with it is left.
void Workspace_ForgetModelHeaderIfUnused(Workspace& workspace);

}  // namespace tolv
