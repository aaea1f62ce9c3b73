// The memory of the emulated receiver: the six components a receiver keeps,
// how they are seeded from files and dumped for checks, the form in which a
// block goes out in a download, and the intake of an uploaded TFD image.
//
// The settings (Flash) and the factory defaults are held in their packed
// 131,072-byte form, the form the receiver's flash keeps them in: a download
// serves them as they are, an upload stores the packed block it was given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolv::sim {

// Block types of the receiver's memory; the same numbers as the TFD slots.
enum SimBlockType : uint8_t {
  kSimLoader = 0,
  kSimFirmware = 1,
  kSimFlash = 2,
  kSimEeprom = 3,
  kSimDefaults = 4,
  kSimBackground = 5,
};
inline constexpr int kSimBlockTypes = 6;

inline constexpr size_t kSimLoaderSize = 0x10000;    // 65,536
inline constexpr size_t kSimPackedSize = 0x20000;    // 131,072
inline constexpr size_t kSimSettingsSize = 0x80000;  // 524,288 unpacked settings
inline constexpr size_t kSimEepromSize = 256;
inline constexpr size_t kSimDefaultsImageSize = 0x80100;  // 524,544: settings, EEPROM at 0x60000, rest
inline constexpr size_t kSimDefaultsEepromOffset = 0x60000;
inline constexpr size_t kSimBackgroundSize = 0x40000;      // 262,144
inline constexpr size_t kSimMaxFirmwareSize = 0x800000;    // 8 MiB: what the host expands a firmware into
inline constexpr size_t kSimFirmwareSectionSize = 0x8000;  // firmware goes out in sections of 32 KiB
inline constexpr uint16_t kWildcardSystemId = 39321;       // accepted by every receiver

// A seed file or an uploaded image that the receiver cannot take. what() is a
// sentence for the user.
class SeedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ReceiverMemory {
  uint16_t systemId = 406;
  std::array<uint8_t, 32> info{};       // the 32 bytes after the SystemID in the mode reply
  std::vector<uint8_t> loader;          // kSimLoaderSize
  std::vector<uint8_t> firmware;        // any size up to kSimMaxFirmwareSize
  std::vector<uint8_t> packedFlash;     // kSimPackedSize
  std::vector<uint8_t> eeprom;          // kSimEepromSize
  std::vector<uint8_t> packedDefaults;  // kSimPackedSize
  std::vector<uint8_t> background;      // kSimBackgroundSize

  // Deterministic built-in contents for systemId, shaped like a real
  // receiver's: a loader and a 1.5 MiB firmware of code, messages and tables;
  // settings and factory defaults in the layout of the model's family (DVB-t
  // or DVB-c for the terrestrial and cable models, DVB-s for all others) with
  // every section CRC right, packed as Memory_PackSettings does; an EEPROM
  // (and a default EEPROM) whose record CRCs hold; a background picture.
  static ReceiverMemory Builtin(uint16_t systemId);

  // The component that block type is stored in (the settings and defaults in
  // their packed form); any type not named is the background.
  std::vector<uint8_t>& Component(int type);

  bool operator==(const ReceiverMemory&) const = default;
};

// The kSimSettingsSize-byte settings image, or the kSimDefaultsImageSize-byte
// defaults image (default EEPROM at kSimDefaultsEepromOffset), packed for
// systemId as a receiver of that model packs them: with its header template,
// or for a model without one with a model header made for it
// (ModelHeader_Make, big-endian form). Throws SeedError for another size or
// contents that do not fit into kSimPackedSize bytes.
std::vector<uint8_t> Memory_PackSettings(uint16_t systemId, const std::vector<uint8_t>& settings);
std::vector<uint8_t> Memory_PackDefaults(uint16_t systemId, const std::vector<uint8_t>& defaults);

// Replaces one component with the contents of the file at path. Flash takes a
// 524,288-byte settings image (packed here for the memory's SystemID) or a
// 131,072-byte packed block; Defaults a 524,544-byte defaults image or a
// packed block; the others their exact size (the firmware 1 byte to 8 MiB).
// Throws SeedError for a size or contents the receiver cannot hold and
// FileError when the file cannot be read; the memory is unchanged then.
void Memory_LoadComponent(ReceiverMemory& memory, SimBlockType type, const std::string& path);

// Seeds from a folder: loader.bin, firmware.bin, flash.bin or flash.dmp,
// eeprom.bin, defaults.bin or defaults.dmp, background.bin; every one is
// optional. Same failures as Memory_LoadComponent.
void Memory_LoadDirectory(ReceiverMemory& memory, const std::string& dir);

// Writes the memory to the folder dir (which must exist): loader.bin,
// firmware.bin, flash.dmp, eeprom.bin, defaults.dmp, background.bin and
// sysid.txt (the SystemID in decimal). Each file is replaced atomically.
void Memory_Dump(const ReceiverMemory& memory, const std::string& dir);

// The bytes of a block as a download sends them: the firmware as sections
// (EncodeFirmwareSections), the settings and defaults packed, the others as
// they are. Block types the receiver does not know are empty.
std::vector<uint8_t> Memory_BlockForDownload(const ReceiverMemory& memory, uint8_t blockType);

// The firmware as the receiver sends it: sections of at most sectionSize
// bytes (1 to 65,535), each a 6-byte header (expanded length, stored length,
// marker 0, all big-endian) and the section compressed, or raw when the
// compressed form is not shorter; then an end header with marker 0xFFFF.
std::vector<uint8_t> EncodeFirmwareSections(std::span<const uint8_t> firmware, size_t sectionSize);

// What became of an uploaded image.
struct TfdIntake {
  bool accepted = false;
  std::string verdict;               // one line: what was taken, or why nothing was
  std::vector<int> blockTypesTaken;  // in increasing order
};

// Checks a whole uploaded TFD image (header length and CRC, every block's CRC,
// type and chunk) and, only when every known block also has the size and form
// its component needs, takes the blocks 0 to 5 it holds into memory: all or
// nothing. Other block types are passed over. With requireOwnSystemId, an
// image for another model (other than the wildcard 39321) is refused.
TfdIntake Memory_TakeTfdImage(ReceiverMemory& memory, std::span<const uint8_t> image,
                              bool requireOwnSystemId);

}  // namespace tolv::sim
