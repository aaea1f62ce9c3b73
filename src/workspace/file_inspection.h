// What a file holds, as data: its form, the system ID with the model name,
// the settings layout, the components it gives and every checksum it
// carries. "tolv info" and "tolv verify" print it. Inspection reads the file
// and changes nothing.
//
// The form is recognised by the inspectors of file_inspection.cpp in table
// order, each looking at the extension and size; a new form is one more row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash/packed_block_check.h"
#include "workspace/workspace.h"

namespace tolv {

struct ComponentReport {
  std::string component;  // "Flash", "EEPROM", ... or e.g. "Flash section 5"
  uint64_t size = 0;      // bytes of the component the file gives
  std::string note;       // how it is carried, e.g. "packed, 131072 bytes in the file"
};

struct ChecksumReport {
  std::string group;  // "packed block", "section", "EEPROM record", "defaults section", ...
  std::string name;   // what within the group: "entry 3 block CRC", "5", ...
  uint32_t offset = 0;
  uint32_t stored = 0;
  uint32_t computed = 0;
  bool ok = false;
};

// Which model header a packed block carries.
struct ModelHeaderReport {
  std::string block;      // "" for the block of an STD file or dump, "flash" or "defaults" in a TFD file
  std::string kind;       // "template", "own" (usable), "damaged" (its sum fails), "none" (no magic)
  uint32_t systemId = 0;  // the ID the header names; a template's own ID
  bool littleEndian = false;
  // "built-in template of SystemID 406", "the block's own, for SystemID 456
  // (unlisted model: no built-in template)", ...
  std::string Describe() const;
};

struct FileReport {
  std::string path;
  std::string form;  // "STD file", "flash dump", "Loader BIN", ...
  uint64_t size = 0;
  std::optional<int32_t> systemId;
  std::string modelName;              // Model_GetName of the system ID, when there is one
  std::optional<std::string> layout;  // "DVB-s", "DVB-t", "DVB-c" or "none recognised"
  std::vector<ComponentReport> components;
  std::vector<ChecksumReport> checksums;
  std::vector<ModelHeaderReport> modelHeaders;  // one per packed block, in file order
  // Faults beyond checksums: a packed block that does not unpack, a size that
  // fits no form. Each makes verification fail.
  std::vector<std::string> problems;
  // What a load takes but names (the same sentences its notice gives: an
  // unused directory entry passed over, a model header of another model,
  // bytes after a TFD file's last block). Each makes verification fail, but
  // not reading.
  std::vector<std::string> named;
  // Remarks that are not faults (how a value was found, what else a file of
  // this size could be).
  std::vector<std::string> notes;

  bool AllOk() const;
  int BadChecksumCount() const;
  // Whether the file can be read as what it is taken for: a known form, no
  // problem (truncated, a packed block that does not unpack, a block of the
  // wrong size), and for a TFD file a header and blocks whose CRCs hold,
  // without which it does not load. Settings and EEPROM checksums do not
  // keep a file from loading; they count in AllOk only.
  bool Readable() const;
};

struct FileInspector {
  const char* form;
  // Whether this inspector takes a file with this lower-case extension ("" when
  // none), size and name.
  bool (*takes)(const std::string& extension, uint64_t size, const std::string& path);
  // Fills report (path, size and form are already set) from the file's bytes.
  void (*inspect)(const std::vector<uint8_t>& bytes, FileReport& report);
};

const std::vector<FileInspector>& FileInspectors();

// TFD files (inspect_tfd.cpp): taken by the extension "tfd"; the header CRC
// and every block CRC, the block types with their chunks, and each component
// the import would take with the checksums it carries.
bool TakesTfd(const std::string& extension, uint64_t size, const std::string& path);
void InspectTfd(const std::vector<uint8_t>& bytes, FileReport& report);

// Reads and inspects the file at path. Throws FileError when it cannot be
// read. A file no inspector takes gets the form "unrecognised" and a problem.
FileReport InspectFile(const std::string& path);

// Reads and inspects the file at path as a BIN file of kind (as a folder's
// KIND.bin is read), whatever its size would suggest: the form is "Loader
// BIN", ...; a size the load refuses is a problem. Throws FileError when the
// file cannot be read.
FileReport InspectComponentBin(const std::string& path, ComponentKind kind);

// Helpers for inspectors. Each appends to report.
// One checksum: good when stored equals computed.
void AddCheck(FileReport& report, const std::string& group, const std::string& name, uint32_t offset,
              uint32_t stored, uint32_t computed);
// The checksums of a packed flash-format block (block, header, chunk and data
// CRCs of every entry), with group "packed block" prefixed by prefix, and the
// model header it carries (named by prefix without its trailing space). Returns
// the block's check, for what else it tells (the model header's system ID).
PackedBlockCheck AddPackedBlockChecks(const uint8_t* packed, size_t packedSize, const std::string& prefix,
                                      FileReport& report);
// Unpacks a packed settings block into a scratch image as the loads do
// (Flash_UnpackSettings); on success adds the layout and the section
// checksums, names what the load names (the directory walk; a model header
// that is not systemId's, 0 for none to compare) and returns true, else adds
// the problem "the packed block does not unpack" or the load check's refusal.
bool AddUnpackedSettings(const uint8_t* packed, size_t packedSize, const std::string& prefix,
                         FileReport& report, uint16_t systemId = 0);
// Layout and section checksums of a settings image (flash or defaults part).
void AddSettingsChecks(const uint8_t* settings, size_t settingsSize, const std::string& prefix,
                       FileReport& report);
// The seven EEPROM record checksums.
void AddEepromChecks(const uint8_t* eeprom, size_t eepromSize, const std::string& prefix, FileReport& report);
// System ID and its model name.
void SetSystemId(int32_t systemId, FileReport& report);

}  // namespace tolv
