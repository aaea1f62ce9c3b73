// The emulated receiver's built-in memory, shaped like a real receiver's: a
// loader and a firmware of code, messages and tables; settings and factory
// defaults in the settings layout of the model's family, every section
// carrying its CRC; an EEPROM whose record CRCs hold; a background picture.
// A first backup of the emulator therefore verifies and splits into flash
// block files as one of a real receiver does.
#include <algorithm>
#include <cstdio>
#include <string>

#include "codec/crc16.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "receiver_memory.h"

namespace tolv::sim {
namespace {

// Deterministic filler (xorshift32), so that built-in memories compare equal.
class Filler {
 public:
  explicit Filler(uint32_t seed) : state_(seed ? seed : 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // A number from 0 to count - 1.
  uint32_t Below(uint32_t count) { return Next() % count; }

 private:
  uint32_t state_;
};

void PutBE(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

void PutText(uint8_t* at, size_t width, const std::string& text) {
  std::copy_n(text.begin(), std::min(width, text.size()), at);
}

// --- code ---------------------------------------------------------------------

// The registers functions of a MIPS-like processor mostly use: v0-v1, a0-a3,
// t0-t3, s0-s3.
uint32_t Register(Filler& filler) {
  static constexpr uint32_t kRegisters[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19};
  return kRegisters[filler.Below(std::size(kRegisters))];
}

// One instruction of a function body: loads and stores near a base register,
// immediate arithmetic, register moves, short branches and calls of earlier
// functions (callees: their addresses).
uint32_t BodyInstruction(Filler& filler, const std::vector<uint32_t>& callees) {
  const uint32_t rs = Register(filler), rt = Register(filler), offset = 4 * filler.Below(48);
  switch (filler.Below(8)) {
    case 0:
    case 1: return 0x8C000000 | rs << 21 | rt << 16 | offset;                // lw
    case 2: return 0xAC000000 | rs << 21 | rt << 16 | offset;                // sw
    case 3: return 0x24000000 | rs << 21 | rt << 16 | filler.Below(64);      // addiu
    case 4: return rs << 21 | rt << 16 | Register(filler) << 11 | 0x21;      // addu
    case 5: return 0x10000000 | rs << 21 | rt << 16 | filler.Below(12);      // beq
    case 6: return 0x3C000000 | rt << 16 | (0x8000 + 4 * filler.Below(64));  // lui
    default:
      if (callees.empty()) return 0;  // nop
      return 0x0C000000 |
             (callees[filler.Below(static_cast<uint32_t>(callees.size()))] >> 2 & 0x3FFFFFF);  // jal
  }
}

// Functions of a prologue (frame, saved return address), a body and an
// epilogue, back to back, until count bytes are filled.
std::vector<uint8_t> CodeBytes(uint32_t seed, size_t count, uint32_t loadAddress) {
  Filler filler(seed);
  std::vector<uint32_t> words, callees;
  while (words.size() * 4 < count) {
    callees.push_back(loadAddress + static_cast<uint32_t>(words.size() * 4));
    const uint32_t frame = 8 * (3 + filler.Below(6));
    words.push_back(0x27BD0000 | (0x10000 - frame));  // addiu sp, sp, -frame
    words.push_back(0xAFBF0000 | (frame - 4));        // sw ra, frame-4(sp)
    for (uint32_t i = 0, body = 6 + filler.Below(40); i < body; ++i)
      words.push_back(BodyInstruction(filler, callees));
    words.push_back(0x8FBF0000 | (frame - 4));  // lw ra, frame-4(sp)
    words.push_back(0x03E00008);                // jr ra
    words.push_back(0x27BD0000 | frame);        // addiu sp, sp, frame (in the delay slot)
  }
  std::vector<uint8_t> bytes(words.size() * 4);
  for (size_t i = 0; i < words.size(); ++i) PutBE(&bytes[4 * i], words[i], 4);
  bytes.resize(count);
  return bytes;
}

// The messages a firmware prints, zero-terminated one after the other.
std::vector<uint8_t> MessageBytes(size_t count) {
  static constexpr const char* kMessages[] = {"Tuner %d: locked at %d MHz, SR %d",
                                              "EPG: %d events for service %04X",
                                              "Recording %d started on service %04X",
                                              "Disk: %d MB free of %d MB",
                                              "CI slot %d: module inserted",
                                              "Timer %d: wake-up at %02d:%02d",
                                              "Channel list: %d TV, %d radio services",
                                              "Firmware update from USB: block %d of %d"};
  std::vector<uint8_t> bytes;
  char line[96];
  for (int n = 0; bytes.size() < count; ++n) {
    std::snprintf(line, sizeof line, "[%05d] ", n);
    std::string message = std::string(line) + kMessages[n % std::size(kMessages)];
    bytes.insert(bytes.end(), message.begin(), message.end());
    bytes.push_back(0);
  }
  bytes.resize(count);
  return bytes;
}

// Tables of a firmware: ascending offsets and small constants.
std::vector<uint8_t> TableBytes(size_t count) {
  std::vector<uint8_t> bytes(count, 0);
  for (size_t at = 0; at + 4 <= count; at += 4) PutBE(&bytes[at], static_cast<uint32_t>(at * 3 % 0x10000), 4);
  return bytes;
}

std::vector<uint8_t> BuiltinFirmware() {
  // Code, the messages, then tables, as a receiver's firmware image holds them.
  std::vector<uint8_t> firmware = CodeBytes(0xF1A5, 0x100000, 0x80010000);
  const std::vector<uint8_t> messages = MessageBytes(0x40000);
  const std::vector<uint8_t> tables = TableBytes(0x40000);
  firmware.insert(firmware.end(), messages.begin(), messages.end());
  firmware.insert(firmware.end(), tables.begin(), tables.end());
  return firmware;
}

std::vector<uint8_t> BuiltinLoader() {
  // Boot code and its messages; the rest of the loader's flash is erased.
  std::vector<uint8_t> loader = CodeBytes(0x10AD, 0x6000, 0xBFC00000);
  const std::string banner = "Loader 1.0 (emulated receiver)";
  loader.insert(loader.end(), banner.begin(), banner.end());
  loader.resize(kSimLoaderSize, 0xFF);
  return loader;
}

// --- settings ---------------------------------------------------------------------

// The layout of a model's family: terrestrial and cable models by their
// numbers, satellite for every other.
uint8_t LayoutOfModel(uint16_t systemId) {
  static constexpr uint16_t kTerrestrial[] = {416, 456, 466, 1426, 1466, 10426, 30002};
  static constexpr uint16_t kCable[] = {1486, 10416, 10446, 12406};
  if (std::find(std::begin(kTerrestrial), std::end(kTerrestrial), systemId) != std::end(kTerrestrial))
    return kLayoutDvbT;
  if (std::find(std::begin(kCable), std::end(kCable), systemId) != std::end(kCable)) return kLayoutDvbC;
  return kLayoutDvbS;
}

// What a section holds: records of recordSize bytes, the first used of them
// in use (a number, a reference, a value and a name), or settings bytes when
// recordSize is 0 or larger than the section.
struct SectionContents {
  size_t recordSize;
  int userRecords;     // in a receiver's settings
  int factoryRecords;  // in its factory defaults
  const char* const* names;
};

constexpr const char* kServiceNames[] = {"Das Erste", "ZDF",     "BBC One",  "arte",    "3sat",
                                         "Eurosport", "phoenix", "TV5Monde", "Rai 1",   "France 24",
                                         "DW",        "KiKA",    "Sky News", "CNN Int", "NHK World"};
constexpr const char* kRadioNames[] = {"Bayern 3", "BBC Radio 4", "WDR 2", "NDR Info", "Klassik",
                                       "Jazz FM",  "Radio 1",     "SWR3",  "hr-info",  "FIP"};
constexpr const char* kPlaceNames[] = {"Astra 19.2E", "Hotbird 13E", "Astra 28.2E", "Eutelsat 5W",
                                       "Region 1",    "Region 2",    "Favourites",  "News"};

// By section number 1 to 13: TV and radio services, satellites (or a region
// record), transponders, favourite groups, system settings, PIN, timers,
// antenna settings, programme guide, names, flags; section 13 stays erased.
constexpr SectionContents kSections[kSectionCount + 1] = {
    {},
    {64, 180, 40, kServiceNames},
    {64, 60, 12, kRadioNames},
    {76, 4, 4, kPlaceNames},
    {16, 220, 60, kPlaceNames},
    {96, 6, 1, kPlaceNames},
    {0, 0, 0, nullptr},
    {0, 0, 0, nullptr},
    {40, 5, 0, kServiceNames},
    {0, 0, 0, nullptr},
    {100, 30, 0, kServiceNames},
    {64, 20, 5, kRadioNames},
    {0, 0, 0, nullptr},
    {0, 0, 0, nullptr},
};

void FillRecords(uint8_t* data, size_t size, const SectionContents& contents, int used, Filler& filler) {
  for (size_t k = 0; k < static_cast<size_t>(used) && (k + 1) * contents.recordSize <= size; ++k) {
    uint8_t* record = data + k * contents.recordSize;
    PutBE(record, static_cast<uint32_t>(k + 1), 2);          // number
    PutBE(record + 2, filler.Below(used), 2);                // reference to another record
    PutBE(record + 4, 10700 + filler.Below(2050), 2);        // e.g. a frequency in MHz
    PutBE(record + 6, 0x0100 + 0x20 * filler.Below(64), 2);  // e.g. a PID
    const std::string name = contents.names[k % 8] + std::string(k >= 8 ? " " + std::to_string(k) : "");
    PutText(record + 8, std::min<size_t>(contents.recordSize - 8, 24), name);
  }
}

// Settings of every section of layout: records or settings bytes, section 13
// erased, every section's header (its CRC, FF FF) written, the bytes past the
// sections zero.
std::vector<uint8_t> SettingsImage(uint8_t layout, bool factory, uint32_t seed) {
  std::vector<uint8_t> image(kSimSettingsSize, 0);
  const SectionTable& table = Layout_Sections(layout);
  Filler filler(seed);
  for (int k = 1; k <= kSectionCount; ++k) {
    const int32_t size = Section_DataLength(table, k);
    if (size <= 0) continue;
    uint8_t* data = image.data() + table.start[k] + 4;
    const SectionContents& contents = kSections[k];
    if (k == kSectionCount) {
      std::fill_n(data, size, uint8_t{0xFF});
    } else if (contents.recordSize == 0 || contents.recordSize > static_cast<size_t>(size)) {
      for (int32_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(filler.Below(0x80));
    } else {
      FillRecords(data, static_cast<size_t>(size), contents,
                  factory ? contents.factoryRecords : contents.userRecords, filler);
    }
  }
  Flash_WriteSectionChecksums(image.data(), image.size(), table);
  // Section 13 carries its header too, although nothing rewrites it.
  const uint32_t last = table.start[kSectionCount];
  image[last + 2] = image[last + 3] = 0xFF;
  PutBE(&image[last], CRC16_Calc(&image[last + 4], Section_DataLength(table, kSectionCount)), 2);
  return image;
}

// Seven CRC-protected records of small settings, then more settings, then
// erased bytes; the record CRCs hold.
std::vector<uint8_t> EepromImage(uint32_t seed) {
  std::vector<uint8_t> eeprom(kSimEepromSize, 0xFF);
  Filler filler(seed);
  for (size_t i = 0; i < 0x80; ++i) eeprom[i] = static_cast<uint8_t>(filler.Below(0x80));
  PutText(&eeprom[2], 16, "EMULATED TOPPY");
  Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  return eeprom;
}

}  // namespace

ReceiverMemory ReceiverMemory::Builtin(uint16_t systemId) {
  ReceiverMemory memory;
  memory.systemId = systemId;
  const char kInfo[] = "TolvPack emulated receiver 1.0";
  std::copy(kInfo, kInfo + sizeof kInfo - 1, memory.info.begin());
  memory.loader = BuiltinLoader();
  memory.firmware = BuiltinFirmware();
  memory.eeprom = EepromImage(0xEE);
  memory.background.resize(kSimBackgroundSize);
  for (size_t i = 0; i < memory.background.size(); ++i) memory.background[i] = static_cast<uint8_t>(i / 1024);
  const uint8_t layout = LayoutOfModel(systemId);
  memory.packedFlash = Memory_PackSettings(systemId, SettingsImage(layout, false, 0xC4A1));
  // The factory defaults: the factory's settings, then the default EEPROM.
  std::vector<uint8_t> defaults = SettingsImage(layout, true, 0xDEF);
  defaults.resize(kSimDefaultsImageSize, 0);
  const std::vector<uint8_t> defaultEeprom = EepromImage(0xDE);
  std::copy(defaultEeprom.begin(), defaultEeprom.end(), defaults.begin() + kSimDefaultsEepromOffset);
  memory.packedDefaults = Memory_PackDefaults(systemId, defaults);
  return memory;
}

}  // namespace tolv::sim
