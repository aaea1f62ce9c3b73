#include "soak_data.h"

#include <algorithm>
#include <string>

#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"
#include "soak_random.h"

namespace tolv::soak {
namespace {

constexpr size_t kSettingsSize = sim::kSimSettingsSize;
constexpr size_t kDefaultsSize = sim::kSimDefaultsImageSize;

// Bytes that compress as code and text do, with runs of noise that do not:
// noise is the share of noise runs.
std::vector<uint8_t> MixedBytes(SoakRandom& random, size_t size, double noise) {
  static const char* const kWords[] = {"channel ", "Toppy ",   "recording ", "timer ",   "0x0040 ",
                                       "return ",  "service ", "EPG\r\n",    "load r4 ", "branch "};
  std::vector<uint8_t> bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    const size_t run = static_cast<size_t>(random.Between(64, 2048));
    const bool noisy = random.Uniform() < noise;
    for (size_t i = 0; i < run && bytes.size() < size;) {
      if (noisy) {
        bytes.push_back(static_cast<uint8_t>(random.Next()));
        ++i;
        continue;
      }
      const std::string word = kWords[random.Between(0, 9)];
      for (char c : word)
        if (bytes.size() < size && i++ < run) bytes.push_back(static_cast<uint8_t>(c));
    }
  }
  return bytes;
}

std::vector<uint8_t> Eeprom(SoakRandom& random) {
  std::vector<uint8_t> eeprom(sim::kSimEepromSize);
  for (uint8_t& byte : eeprom) byte = static_cast<uint8_t>(random.Next());
  Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  return eeprom;
}

// A picture of rows of gradients with some noise.
std::vector<uint8_t> Background(SoakRandom& random) {
  std::vector<uint8_t> picture(sim::kSimBackgroundSize);
  const uint64_t slope = static_cast<uint64_t>(random.Between(1, 7));
  for (size_t i = 0; i < picture.size(); ++i)
    picture[i] =
        random.Chance(5) ? static_cast<uint8_t>(random.Next()) : static_cast<uint8_t>((i % 720) * slope / 8);
  return picture;
}

const sim::ReceiverMemory& Builtin() {
  static const sim::ReceiverMemory memory = sim::ReceiverMemory::Builtin(kSoakSystemId);
  return memory;
}

// Settings of the run's own: the built-in ones with a few data bytes of some
// sections changed and the sections' checksums written again. The words by
// which a layout is recognised stay as they are.
std::vector<uint8_t> Settings(SoakRandom& random) {
  std::vector<uint8_t> settings = UnpackedImage(2, Builtin().packedFlash);
  const uint8_t layout = Flash_RecogniseLayout(settings.data(), settings.size());
  const SectionTable& table = Layout_Sections(layout);
  const auto nearMarker = [](uint32_t at) {
    for (uint8_t variant = 1; variant <= 3; ++variant) {
      const uint32_t marker = Layout_Sections(variant).start[5];
      if (at + 1 >= marker && at < marker + 8) return true;
    }
    return false;
  };
  for (int edit = 0; edit < 24; ++edit) {
    const int section = static_cast<int>(random.Between(1, 12));
    const int32_t length = Section_DataLength(table, section);
    if (length <= 0) continue;
    const uint32_t at = table.start[section] + 4 + static_cast<uint32_t>(random.Between(0, length - 1));
    if (at < settings.size() && !nearMarker(at)) settings[at] = static_cast<uint8_t>(random.Next());
  }
  Flash_WriteSectionChecksums(settings.data(), settings.size(), table);
  const bool sameLayout = Flash_RecogniseLayout(settings.data(), settings.size()) == layout;
  return sameLayout ? settings : UnpackedImage(2, Builtin().packedFlash);
}

// Replaces one component of memory with the bytes of its BIN file.
void Put(sim::ReceiverMemory& memory, int part, const std::vector<uint8_t>& file) {
  switch (part) {
    case 0: memory.loader = file; break;
    case 1: memory.firmware = file; break;
    case 2: memory.packedFlash = sim::Memory_PackSettings(memory.systemId, file); break;
    case 3: memory.eeprom = file; break;
    case 4: memory.packedDefaults = sim::Memory_PackDefaults(memory.systemId, file); break;
    case 5: memory.background = file; break;
  }
}

}  // namespace

std::vector<uint8_t> UnpackedImage(int part, const std::vector<uint8_t>& packed) {
  std::vector<uint8_t> image(part == 4 ? kDefaultsSize : kSettingsSize, 0);
  if (packed.size() != kPackedBlockSize ||
      !UnPackFlashData(packed.data(), packed.size(), image.data(), image.size()))
    return {};
  if (part == 4 &&
      !UnPackDefaultsEeprom(packed.data(), packed.size(), image.data() + sim::kSimDefaultsEepromOffset))
    return {};
  return image;
}

std::vector<uint8_t> ComponentFile(const sim::ReceiverMemory& memory, int part) {
  switch (part) {
    case 0: return memory.loader;
    case 1: return memory.firmware;
    case 2: return UnpackedImage(2, memory.packedFlash);
    case 3: return memory.eeprom;
    case 4: return UnpackedImage(4, memory.packedDefaults);
    case 5: return memory.background;
    default: return {};
  }
}

RunBytes MakeRunBytes(const RunPlan& plan) {
  SoakRandom random(plan.seed ^ 0x5EEDDA7A5EEDDA7Aull);
  const size_t firmwareSize = std::max<size_t>(plan.firmwareSize, 1000);
  RunBytes bytes;
  bytes.start = Builtin();
  bytes.start.loader = MixedBytes(random, sim::kSimLoaderSize, random.Uniform());
  bytes.start.firmware = MixedBytes(random, firmwareSize, plan.firmwareNoise);
  bytes.start.eeprom = Eeprom(random);
  if (plan.direction == Direction::Download) {
    Put(bytes.start, 2, Settings(random));
    bytes.after = bytes.start;
    for (int part : plan.parts) bytes.files[part] = ComponentFile(bytes.start, part);
    return bytes;
  }
  // An upload brings a memory of its own (the defaults as they are).
  bytes.after = bytes.start;
  for (int part : plan.parts) {
    std::vector<uint8_t> file;
    switch (part) {
      case 0: file = MixedBytes(random, sim::kSimLoaderSize, random.Uniform()); break;
      case 1: file = MixedBytes(random, firmwareSize, plan.firmwareNoise); break;
      case 2: file = Settings(random); break;
      case 3: file = Eeprom(random); break;
      case 4: file = ComponentFile(bytes.start, 4); break;
      case 5: file = Background(random); break;
    }
    Put(bytes.after, part, file);
    bytes.files[part] = std::move(file);
  }
  return bytes;
}

}  // namespace tolv::soak
